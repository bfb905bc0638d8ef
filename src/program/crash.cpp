#include "program/crash.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "core/panic.h"
#include "files/crash_report.h"
#include "files/exe_path.h"
#include "files/log.h"
#include "platform/platform.h"

namespace zobra {

namespace {

thread_local bool handling_crash = false;

[[noreturn]] void end_abnormally() {
    std::signal(SIGABRT, SIG_DFL);
    std::abort();
}

// Writes the report beside the executable (or in the state folder of an
// installed game), logs the stop, shows the error box and ends the process. Everything is best
// effort: a report that cannot be written only drops the "Gespeichert in" line.
[[noreturn]] void handle_crash(const std::string& description) {
    if (handling_crash) end_abnormally();  // the handler itself broke
    handling_crash = true;

    const std::string report = crash_report_text(description);
    std::optional<std::filesystem::path> path = diagnostics_file(crash_file_name);
    if (path && !write_crash_report(*path, report)) path.reset();
    log_start("stopped: " + description);

    const std::string message = crash_message(report, path);
    if (!show_error_box(message)) {
        std::fputs(message.c_str(), stderr);
        std::fputc('\n', stderr);
        std::fflush(stderr);
    }
    end_abnormally();
}

void on_terminate() {
    std::string message = "the program was terminated";
    if (std::exception_ptr current = std::current_exception()) {
        try {
            std::rethrow_exception(current);
        } catch (const std::exception& e) {
            message = std::string("uncaught exception: ") + e.what();
        } catch (...) {
            message = "uncaught exception of an unknown type";
        }
    }
    panic(message);
}

void on_fatal_signal(int signal_number) {
    const char* name = "fatal signal";
    switch (signal_number) {
        case SIGSEGV:
            name = "fatal signal SIGSEGV (invalid memory access)";
            break;
        case SIGBUS:
            name = "fatal signal SIGBUS (bus error)";
            break;
        case SIGFPE:
            name = "fatal signal SIGFPE (arithmetic error)";
            break;
        case SIGILL:
            name = "fatal signal SIGILL (illegal instruction)";
            break;
        case SIGABRT:
            name = "fatal signal SIGABRT (aborted)";
            break;
    }
    panic(name);
}

}  // namespace

void install_crash_handler() {
    set_panic_handler(&handle_crash);
    std::set_terminate(&on_terminate);
    for (int signal_number : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT})
        std::signal(signal_number, &on_fatal_signal);
}

}  // namespace zobra
