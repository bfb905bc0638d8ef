// zobra-relay.exe as a Windows operator meets it: started on 127.0.0.1
// with a free port it says where it listens and welcomes a game, and a
// second one on the same port fails with Winsock's reason. (Ctrl+Break is
// not tested: Wine delivers console events only to a real console.)

#include <winsock2.h>
// ENet includes winsock2.h, which must come before windows.h.
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <mutex>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "core/arena.h"
#include "net/protocol.h"
#include "netio/raw_client.h"

namespace zobra {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
constexpr auto patience = 60s;  // for any one state to come; only a broken relay waits that long
constexpr std::size_t read_size = 4096;

// The relay program with its standard output and error in one pipe; killed
// with the test when it still runs.
class RelayProcess {
  public:
    explicit RelayProcess(const std::string& arguments) {
        SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
        HANDLE write_end = nullptr;
        if (!CreatePipe(&read_end_, &write_end, &inherit, 0))
            throw std::runtime_error("no pipe for the relay");
        SetHandleInformation(read_end_, HANDLE_FLAG_INHERIT, 0);
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = startup.hStdError = write_end;
        std::string command = "\"" ZOBRA_RELAY_EXE "\" " + arguments;
        const BOOL started = CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0,
                                            nullptr, nullptr, &startup, &process_);
        CloseHandle(write_end);
        if (!started) throw std::runtime_error("cannot start " + command);
        reader_ = std::thread([this] {
            char buffer[read_size];
            DWORD got = 0;
            while (ReadFile(read_end_, buffer, read_size, &got, nullptr) && got > 0) {
                const std::lock_guard lock(mutex_);
                out_.append(buffer, got);
            }
        });
    }
    ~RelayProcess() {
        if (!wait(0ms)) TerminateProcess(process_.hProcess, 1);
        WaitForSingleObject(process_.hProcess, INFINITE);
        reader_.join();
        CloseHandle(read_end_);
        CloseHandle(process_.hThread);
        CloseHandle(process_.hProcess);
    }
    RelayProcess(const RelayProcess&) = delete;
    RelayProcess& operator=(const RelayProcess&) = delete;

    std::string output() {
        const std::lock_guard lock(mutex_);
        return out_;
    }
    // The exit code once the process has ended within `limit`.
    std::optional<DWORD> wait(std::chrono::milliseconds limit) {
        if (WaitForSingleObject(process_.hProcess, static_cast<DWORD>(limit.count())) !=
            WAIT_OBJECT_0)
            return std::nullopt;
        DWORD code = 0;
        GetExitCodeProcess(process_.hProcess, &code);
        return code;
    }

  private:
    PROCESS_INFORMATION process_{};
    HANDLE read_end_ = nullptr;
    std::mutex mutex_;
    std::string out_;
    std::thread reader_;
};

template <typename Condition>
bool eventually(Condition condition) {
    const auto deadline = Clock::now() + patience;
    while (!condition()) {
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

TEST(RelayOnWindows, WelcomesAGameAndASecondRelayOnItsPortFailsWithWinsocksReason) {
    RelayProcess first("--bind 127.0.0.1 --port 0");
    const std::regex start_line(R"(^zobra-relay 0\.1\.0 listening on 127\.0\.0\.1:(\d+)\r?\n)");
    std::smatch found;
    std::string out;
    ASSERT_TRUE(eventually([&] {
        out = first.output();
        return std::regex_search(out, found, start_line) || first.wait(0ms).has_value();
    }));
    ASSERT_FALSE(found.empty()) << out;
    const auto port = static_cast<std::uint16_t>(std::stoi(found[1].str()));

    test::RawClient game(port);
    ASSERT_TRUE(game.wait_connected(patience));
    game.send(net::Hello{net::protocol_version, rules_hash(), "ANNA"});
    EXPECT_TRUE(game.wait_for<net::Welcome>(patience));

    RelayProcess second("--bind 127.0.0.1 --port " + std::to_string(port));
    EXPECT_EQ(second.wait(patience), 1u);
    const std::string refused = second.output();
    EXPECT_NE(
        refused.find("zobra-relay: cannot listen on 127.0.0.1:" + std::to_string(port) + " ("),
        std::string::npos)
        << refused;
    EXPECT_EQ(refused.find("()"), std::string::npos) << "Winsock's reason is missing: " << refused;
}

}  // namespace
}  // namespace zobra
