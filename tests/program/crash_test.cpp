// The crash handler catches every way the game can stop on an error: a
// panic, an uncaught exception and a fatal signal all end abnormally with the
// report text on the error stream (there is no display for an error box).

#include "program/crash.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <thread>

#include "core/panic.h"
#include "files/crash_report.h"
#include "files/log.h"
#include "program/allocator_lock.h"

#if defined(__SANITIZE_ADDRESS__)
#define ZOBRA_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZOBRA_ADDRESS_SANITIZER 1
#endif
#endif
#ifdef ZOBRA_ADDRESS_SANITIZER
constexpr bool address_sanitizer_catches_faults = true;
#else
constexpr bool address_sanitizer_catches_faults = false;
#endif

namespace zobra {
namespace {

void crash_with(void (*failure)()) {
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    install_crash_handler();
    failure();
}

std::filesystem::path report_file() {
    // The handler writes its report beside the executable: the tests' own.
    return std::filesystem::read_symlink("/proc/self/exe").replace_filename("zobra-crash.txt");
}

std::string report() {
    std::ifstream in(report_file(), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class CrashHandler : public ::testing::Test {
  protected:
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove(report_file(), ignored);
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

TEST_F(CrashHandler, AFaultIsReportedWhereItHappenedWithItsAddressAndBacktrace) {
    if (address_sanitizer_catches_faults)
        GTEST_SKIP() << "the address sanitizer reports a fault itself, before the game can";
    EXPECT_EXIT(crash_with([] {
                    int* volatile wild = reinterpret_cast<int*>(std::uintptr_t{0x18});
                    *wild = 1;
                }),
                ::testing::KilledBySignal(SIGABRT),
                "\n\npanicked at 0x[0-9a-f]+:\nfatal signal SIGSEGV \\(invalid memory access\\) "
                "at address 0x0+18\n\nSystem: ");
    const std::string text = report();
    EXPECT_NE(text.find("at address 0x0000000000000018"), std::string::npos) << text;
    // The handler's own frame is left out; the faulting function comes next
    // to the signal's frame.
    const std::size_t frames = text.find("\n\nBacktrace:\n");
    ASSERT_NE(frames, std::string::npos) << text;
    EXPECT_GE(std::count(text.begin() + static_cast<std::ptrdiff_t>(frames), text.end(), '\n'), 5)
        << text;
}

TEST_F(CrashHandler, AnAttachmentFollowsTheReportInTheFileOnly) {
    // The report, then the attachment; the error box and the log stop at the
    // report (its text ends the error stream here: no box, no display).
    EXPECT_EXIT(crash_with([] {
                    set_crash_attachment([](CrashTextSink sink, void* context) {
                        sink(context, "replay: ", 8);
                        sink(context, "tick 42", 7);
                    });
                    panic("with a replay");
                }),
                ::testing::KilledBySignal(SIGABRT),
                "with a replay\n\nSystem: [^\n]*\n\nGespeichert in [^\n]*zobra-crash.txt\n$");
    const std::string text = report();
    EXPECT_TRUE(text.ends_with("with a replay" + std::string(crash_report_closing()) +
                               "\n\nreplay: tick 42"))
        << text;
}

TEST_F(CrashHandler, ASignalInsideTheAllocatorWithTheLogLockedStillEndsWithTheReport) {
    // glibc's own heap checks abort inside malloc with its lock held; here
    // the log's entry is being written too. A handler that allocates or
    // waits for the log would never end.
    if (!allocator_stand_in_active()) GTEST_SKIP() << "the sanitizer owns the allocator";
    EXPECT_EXIT(crash_with([] {
                    log_line("before the crash");
                    crash_in_next_allocation();
                    log_line("an entry long enough to need memory of its own");
                }),
                ::testing::KilledBySignal(SIGABRT),
                "konnte nicht weiterlaufen.*fatal signal SIGABRT.*Gespeichert in");
    EXPECT_NE(report().find("fatal signal SIGABRT (aborted)\n\nSystem: "), std::string::npos)
        << report();
}

}  // namespace
}  // namespace zobra
