// The program's entry point: the crash handler first, then the first log
// entry, then the game.

#include "files/log.h"
#include "platform/platform.h"
#include "program/crash.h"

int main() {
    zobra::install_crash_handler();
    zobra::log_start("started");
    zobra::run();
    return 0;
}
