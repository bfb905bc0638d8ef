// The crash handler catches every way the game can stop on an error: a
// panic, an uncaught exception and a fatal signal all end abnormally with the
// report text on the error stream (there is no display for an error box).

#include "program/crash.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <csignal>
#include <filesystem>
#include <stdexcept>
#include <thread>

#include "core/panic.h"

namespace zobra {
namespace {

void crash_with(void (*failure)()) {
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    install_crash_handler();
    failure();
}

class CrashHandler : public ::testing::Test {
  protected:
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
    void TearDown() override {
        // The handler writes its report beside the executable: the tests' own.
        std::error_code ignored;
        std::filesystem::remove(
            std::filesystem::read_symlink("/proc/self/exe").replace_filename("zobra-crash.txt"),
            ignored);
    }
};

TEST_F(CrashHandler, APanicEndsWithTheReport) {
    EXPECT_EXIT(crash_with([] { panic("a broken invariant"); }), ::testing::KilledBySignal(SIGABRT),
                "Zobra 0.1.0 konnte nicht weiterlaufen\\.\n\npanicked at "
                "tests/program/crash_test.cpp:[0-9]+:[0-9]+:\na broken invariant\n\nSystem: ");
}

TEST_F(CrashHandler, AnUncaughtExceptionOnAnotherThreadReachesTheSameHandler) {
    EXPECT_EXIT(
        crash_with([] { std::thread([] { throw std::runtime_error("out of cheese"); }).join(); }),
        ::testing::KilledBySignal(SIGABRT), "uncaught exception: out of cheese");
}

TEST_F(CrashHandler, AFatalSignalReachesTheSameHandler) {
    EXPECT_EXIT(crash_with([] { std::raise(SIGSEGV); }), ::testing::KilledBySignal(SIGABRT),
                "konnte nicht weiterlaufen.*fatal signal SIGSEGV");
    EXPECT_EXIT(crash_with([] { std::abort(); }), ::testing::KilledBySignal(SIGABRT),
                "konnte nicht weiterlaufen.*fatal signal SIGABRT");
}

}  // namespace
}  // namespace zobra
