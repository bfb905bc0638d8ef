// The program's entry point: the crash handler first, then the first log
// entry, then the game.

#include "game/app.h"
#include "game/log.h"
#include "program/crash.h"

int main() {
    zobra::install_crash_handler();
    zobra::log_start("started");
    zobra::run();
    return 0;
}
