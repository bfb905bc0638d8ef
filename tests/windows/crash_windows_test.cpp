// The crash handler on Windows: a panic, an uncaught exception, a fault the
// system raises and abort() all end the process with the report, in the
// file beside the executable and (with no desktop for the error box) on the
// error stream. GoogleTest's expressions on Windows are its simple ones: no
// brackets, '.' stops at a line end.

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <thread>

#include "core/panic.h"
#include "files/os.h"
#include "program/crash.h"

namespace zobra {
namespace {

// The status a crashed game ends with, as abort() gives it.
constexpr int crashed = 3;

void crash_with(void (*failure)()) {
    install_crash_handler();
    failure();
}

std::filesystem::path report_file() {
    return os::executable_path()->replace_filename("zobra-crash.txt");
}

std::string report() {
    std::ifstream in(report_file(), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class CrashHandler : public ::testing::Test {
  protected:
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove(report_file(), ignored);
    }
};

TEST_F(CrashHandler, APanicEndsWithTheReportAndWhereItIsSaved) {
    EXPECT_EXIT(crash_with([] { panic("a broken invariant"); }), ::testing::ExitedWithCode(crashed),
                "Zobra 0\\.1\\.0 konnte nicht weiterlaufen\\.\n\npanicked at "
                "tests/windows/crash_windows_test\\.cpp:\\d+:\\d+:\na broken invariant\n\n"
                "System: windows x86_64\n\nGespeichert in .*zobra-crash\\.txt");
    EXPECT_EQ(report().find("Zobra 0.1.0 konnte nicht weiterlaufen.\n\npanicked at "), 0u);
    EXPECT_TRUE(report().ends_with("a broken invariant\n\nSystem: windows x86_64")) << report();
}

TEST_F(CrashHandler, AnUncaughtExceptionOnAnotherThreadReachesTheSameHandler) {
    EXPECT_EXIT(
        crash_with([] { std::thread([] { throw std::runtime_error("out of cheese"); }).join(); }),
        ::testing::ExitedWithCode(crashed), "uncaught exception: out of cheese");
}

TEST_F(CrashHandler, AMemoryFaultReachesTheFilterWithItsAddress) {
    EXPECT_EXIT(crash_with([] {
                    int* volatile wild = reinterpret_cast<int*>(std::uintptr_t{0x18});
                    *wild = 1;
                }),
                ::testing::ExitedWithCode(crashed),
                "\n\npanicked at 0x\\w+:\nEXCEPTION_ACCESS_VIOLATION \\(invalid memory "
                "access\\) 0x0+c0000005 at address 0x0+18\n\nSystem: ");
    EXPECT_NE(report().find("at address 0x0000000000000018"), std::string::npos) << report();
}

TEST_F(CrashHandler, AnExceptionRaisedOnAnotherThreadReachesTheFilter) {
    EXPECT_EXIT(crash_with([] {
                    std::thread([] {
                        ::RaiseException(EXCEPTION_INT_DIVIDE_BY_ZERO, 0, 0, nullptr);
                    }).join();
                }),
                ::testing::ExitedWithCode(crashed), "EXCEPTION_INT_DIVIDE_BY_ZERO");
}

TEST_F(CrashHandler, AbortReachesTheSameHandler) {
    EXPECT_EXIT(crash_with([] { std::abort(); }), ::testing::ExitedWithCode(crashed),
                "panicked at abort:\nfatal signal SIGABRT \\(aborted\\)");
}

TEST_F(CrashHandler, AnAttachmentFollowsTheReportInTheFileOnly) {
    EXPECT_EXIT(crash_with([] {
                    set_crash_attachment([](CrashTextSink sink, void* context) {
                        sink(context, "replay: ", 8);
                        sink(context, "tick 42", 7);
                    });
                    panic("with a replay");
                }),
                ::testing::ExitedWithCode(crashed),
                "with a replay\n\nSystem: .*\n\nGespeichert in .*zobra-crash\\.txt\n$");
    EXPECT_TRUE(report().ends_with("with a replay\n\nSystem: windows x86_64\n\nreplay: tick 42"))
        << report();
}

}  // namespace
}  // namespace zobra
