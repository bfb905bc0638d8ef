// Windows has no SIGTERM: a console program hears Ctrl+C, Ctrl+Break, its
// console closing and the system shutting down through a handler that runs
// on a thread of its own. The relay stops at its next round (10 ms) and
// prints its last line; for a close or a shutdown Windows ends the process
// once the handler returns, so the handler waits for that stop first.

#include <windows.h>

#include <chrono>
#include <thread>

#include "relay/stop.h"

namespace zobra::relay {

namespace {

// Long enough for a round of the relay and its last line, well inside the
// five seconds Windows grants a closing console.
constexpr auto close_grace = std::chrono::milliseconds(200);

std::atomic<bool>* stop_flag = nullptr;

BOOL WINAPI on_console_event(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
            stop_flag->store(true);
            return TRUE;
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            stop_flag->store(true);
            std::this_thread::sleep_for(close_grace);
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace

void watch_stop_requests(std::atomic<bool>& stop) {
    stop_flag = &stop;
    SetConsoleCtrlHandler(&on_console_event, TRUE);
}

}  // namespace zobra::relay
