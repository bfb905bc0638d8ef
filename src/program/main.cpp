// The program's entry point: the crash handler first, then the first log
// entry, then the game; or, started by the crash handler of a game that
// stopped, only its error box.

#include "files/log.h"
#include "platform/platform.h"
#include "program/crash.h"

int main() {
    if (zobra::error_box_wanted()) return zobra::run_error_box();
    zobra::install_crash_handler();
    zobra::log_start("started");
    zobra::run();
    return 0;
}
