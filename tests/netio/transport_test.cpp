// Games and a relay over real UDP on 127.0.0.1: the relay's server on a
// thread of its own as a hosting game runs it, and games' clients through
// their connections (impaired_link_test.cpp has them through the impairing
// proxy).

#include <gtest/gtest.h>

#include "netio/server_thread.h"
#include "netio/two_games.h"

namespace zobra::netio {
namespace {

using test::Game;
using test::play_a_match;
using test::play_until;
using test::ServerThread;

TEST(Transport, TwoGamesMeetByCodeAndPlayTheSameConfirmedTicks) {
    ServerThread relay;
    play_a_match(relay.port(), 100);
    EXPECT_FALSE(relay.log().empty()) << "the relay logs its room events";
}

TEST(Transport, AGameHearsItIsLostWhenNoRelayAnswersOrItsRelayCloses) {
    std::uint16_t free_port = 0;
    {
        ServerThread gone;
        free_port = gone.port();
    }
    Game alone("127.0.0.1", free_port, "ANNA", Dir::Up);
    ASSERT_TRUE(
        play_until({&alone}, [&] { return alone.client.phase() == net::ClientPhase::Lost; }));
    EXPECT_TRUE(alone.link->is_lost());
    EXPECT_NE(alone.link->problem().find(std::to_string(free_port)), std::string::npos)
        << alone.link->problem();

    // A hosting game that closes takes its relay with it; the guest hears
    // so at once rather than when the connection times out.
    auto relay = std::make_unique<ServerThread>();
    Game guest("127.0.0.1", relay->port(), "BERT", Dir::Down);
    ASSERT_TRUE(
        play_until({&guest}, [&] { return guest.client.phase() == net::ClientPhase::Welcomed; }));
    relay->stop();
    ASSERT_TRUE(
        play_until({&guest}, [&] { return guest.client.phase() == net::ClientPhase::Lost; }));
    EXPECT_EQ(guest.link->problem(), "the relay closed the connection");
}

}  // namespace
}  // namespace zobra::netio
