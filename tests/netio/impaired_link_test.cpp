// Games and a relay over real UDP on 127.0.0.1 with the impairing proxy
// between them, a program of its own (Linux only, like the proxy).

#include <gtest/gtest.h>
#include <signal.h>

#include <regex>

#include "e2e/process.h"
#include "netio/server_thread.h"
#include "netio/two_games.h"

namespace zobra::netio {
namespace {

using test::play_a_match;
using test::ServerThread;
constexpr auto patience = test::patience;

// The proxy between the games and the relay, with delay, jitter, loss and
// doubled datagrams each way; its report says what it did to them.
TEST(ImpairedTransport, TwoGamesPlayTheSameConfirmedTicksThroughALossyJitteryLink) {
    ServerThread relay;
    e2e::Process proxy(
        {ZOBRA_IMPAIR_PROXY, "--to", std::to_string(relay.port()), "--seconds", "600", "--seed",
         "5", "--delay", "30", "--jitter", "10", "--loss", "5", "--dup", "5"},
        {}, "/tmp");
    const std::regex start_line(R"(^impair_proxy listening on 127\.0\.0\.1:(\d+)\n)");
    std::smatch found;
    std::string out;
    ASSERT_TRUE(e2e::eventually(
        [&] {
            out = proxy.output();
            return std::regex_search(out, found, start_line);
        },
        patience))
        << proxy.error_output();
    play_a_match(static_cast<std::uint16_t>(std::stoi(found[1].str())), 100);

    ASSERT_EQ(kill(proxy.pid(), SIGTERM), 0);
    EXPECT_EQ(proxy.wait(patience).status, 0);
    const std::regex report(
        R"(impair_proxy: (up|down) (\d+) forwarded, (\d+) lost, (\d+) doubled)");
    out = proxy.output();
    int directions = 0;
    for (auto it = std::sregex_iterator(out.begin(), out.end(), report);
         it != std::sregex_iterator(); ++it, ++directions) {
        EXPECT_GT(std::stoul((*it)[2]), 100u) << (*it)[0];
        EXPECT_GT(std::stoul((*it)[3]), 0u) << (*it)[0];
        EXPECT_GT(std::stoul((*it)[4]), 0u) << (*it)[0];
    }
    EXPECT_EQ(directions, 2) << out;
}

}  // namespace
}  // namespace zobra::netio
