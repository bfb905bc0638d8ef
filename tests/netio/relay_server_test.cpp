// The relay's server against connections that misbehave: its port and
// address, and the bounds a connection's packets pass before the relay
// reads them.

#include <gtest/gtest.h>

#include "e2e/process.h"
#include "netio/raw_client.h"
#include "netio/server_thread.h"

namespace zobra::netio {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using test::ServerThread;
constexpr auto patience = 60s;  // for any one state to come; only a fault waits that long

TEST(RelayServer, RefusesAPortInUseAndAnAddressThatIsNone) {
    ServerThread first;
    std::string error;
    RelayServerOptions options;
    options.bind = "127.0.0.1";
    options.port = first.port();
    EXPECT_EQ(RelayServer::open(
                  options, [](std::string_view) {}, error),
              nullptr);
    EXPECT_NE(error.find("cannot listen on 127.0.0.1:" + std::to_string(first.port())),
              std::string::npos)
        << error;
    options.bind = "127.0.0.300";
    EXPECT_EQ(RelayServer::open(
                  options, [](std::string_view) {}, error),
              nullptr);
    EXPECT_EQ(error, "'127.0.0.300' is no IPv4 address");
}

// A connection's packets pass the server's bounds before the relay reads
// them: one larger than a client's message is dropped unread (so it costs
// the connection nothing, where garbage of a valid size would), a flood is
// cut to the allowance, and a connection that never says anything is closed.
TEST(RelayServer, DropsOversizedPacketsCutsFloodsAndClosesSilentConnections) {
    RelayServerOptions options;
    options.packets_per_second = 50;
    options.first_message_ms = 300;
    ServerThread relay(options);

    test::RawClient big(relay.port());
    ASSERT_TRUE(big.wait_connected(patience));
    const std::vector<std::uint8_t> oversized(options.packet_size_max + 1, 0xEE);
    for (int i = 0; i < 5; ++i) big.send_bytes(oversized);
    big.send(net::Hello{net::protocol_version, rules_hash(), "BIG"});
    EXPECT_TRUE(big.wait_for<net::Welcome>(patience));
    EXPECT_FALSE(big.closed());

    // Pings are answered one for one, so the pongs to a flood of them count
    // what the server let through: no more than the allowance's burst and
    // what refilled while they came. A last ping, sent until answered,
    // comes after all of them.
    const auto flood_start = Clock::now();
    constexpr std::uint32_t flood = 1000, last = 5000;
    for (std::uint32_t i = 0; i < flood; ++i) big.send(net::Ping{i}, false);
    std::size_t pongs = 0;
    bool last_answered = false;
    ASSERT_TRUE(e2e::eventually(
        [&] {
            big.send(net::Ping{last}, false);
            big.pump();
            for (const net::Message& m : big.messages())
                if (const auto* pong = std::get_if<net::Pong>(&m)) {
                    pongs += pong->echo < flood ? 1 : 0;
                    last_answered = last_answered || pong->echo == last;
                }
            big.messages().clear();
            return last_answered;
        },
        patience));
    const double seconds = std::chrono::duration<double>(Clock::now() - flood_start).count();
    EXPECT_GT(pongs, 0u);
    EXPECT_LE(double(pongs), (2 + seconds) * options.packets_per_second);

    test::RawClient silent(relay.port());
    ASSERT_TRUE(silent.wait_connected(patience));
    EXPECT_TRUE(silent.wait_closed(patience));
    EXPECT_FALSE(big.closed());
}

}  // namespace
}  // namespace zobra::netio
