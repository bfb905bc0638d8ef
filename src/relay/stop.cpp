#include "relay/stop.h"

#include <signal.h>

namespace zobra::relay {

namespace {

std::atomic<bool>* stop_flag = nullptr;

extern "C" void on_stop_signal(int /*signal*/) { stop_flag->store(true); }

}  // namespace

void watch_stop_requests(std::atomic<bool>& stop) {
    stop_flag = &stop;
    struct sigaction action {};
    action.sa_handler = &on_stop_signal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

}  // namespace zobra::relay
