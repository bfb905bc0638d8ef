// Games and a relay over real UDP on 127.0.0.1: the relay's server on a
// thread of its own as a hosting game runs it, and games' clients through
// their connections, straight and through the impairing proxy.

#include <gtest/gtest.h>
#include <signal.h>

#include <mutex>
#include <regex>
#include <thread>

#include "core/arena.h"
#include "e2e/process.h"
#include "netio/relay_connection.h"
#include "netio/relay_server.h"
#include "netio/server_thread.h"

namespace zobra::netio {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using test::ServerThread;
constexpr auto patience = 60s;  // for any one state to come; only a fault waits that long

net::Micros micros_now() {
    return net::Micros(
        std::chrono::duration_cast<std::chrono::microseconds>(Clock::now().time_since_epoch())
            .count());
}

// One game: its client, its connection, and the direction its player holds.
struct Game {
    Game(const std::string& host, std::uint16_t port, std::string name, Dir held)
        : client(std::move(name)), held(held) {
        std::string error;
        link = RelayConnection::connect(host, port, error);
        if (!link) throw std::runtime_error(error);
    }
    void frame() {
        const net::Micros now = micros_now();
        link->pump(client, now);
        if (client.phase() == net::ClientPhase::Playing)
            client.update({DiggerInput{false, held}, DiggerInput{}}, false, now);
        link->pump(client, now);
    }

    net::OnlineClient client;
    std::unique_ptr<RelayConnection> link;
    Dir held;
};

// Runs frames of every game, a few milliseconds apart, until `done`.
template <typename Done>
bool play_until(std::initializer_list<Game*> games, Done done) {
    const auto deadline = Clock::now() + patience;
    while (Clock::now() < deadline) {
        for (Game* g : games) g->frame();
        if (done()) return true;
        std::this_thread::sleep_for(2ms);
    }
    return false;
}

int people(const net::Lobby& lobby) {
    int n = 0;
    for (const net::LobbySeat& seat : lobby.seats) n += seat.person ? 1 : 0;
    return n;
}

// Two games meet in a room by its code, start, and play until both hold
// `ticks` confirmed ticks: they hold the same ones, and the seats of each
// carry its own player's direction in most of them.
void play_a_match(std::uint16_t port, std::uint32_t ticks) {
    Game anna("127.0.0.1", port, "ANNA", Dir::Up), bert("localhost", port, "BERT", Dir::Right);
    using net::ClientPhase;
    ASSERT_TRUE(play_until({&anna, &bert}, [&] {
        return anna.client.phase() == ClientPhase::Welcomed &&
               bert.client.phase() == ClientPhase::Welcomed;
    }));
    anna.client.open_room(2, Difficulty::Hard, 1);
    ASSERT_TRUE(play_until({&anna, &bert}, [&] { return anna.client.lobby().has_value(); }));
    bert.client.join_room(anna.client.lobby()->code, 1);
    ASSERT_TRUE(play_until({&anna, &bert}, [&] {
        return people(*anna.client.lobby()) == 2 && bert.client.lobby() &&
               people(*bert.client.lobby()) == 2;
    }));
    EXPECT_EQ(anna.client.lobby()->code, bert.client.lobby()->code);
    anna.client.start_match();
    ASSERT_TRUE(play_until({&anna, &bert}, [&] {
        return anna.client.confirmed_inputs().size() >= ticks &&
               bert.client.confirmed_inputs().size() >= ticks;
    }));

    const std::vector<TickInput>& a = anna.client.confirmed_inputs();
    const std::vector<TickInput>& b = bert.client.confirmed_inputs();
    for (std::size_t t = 0; t < ticks; ++t) ASSERT_EQ(a[t], b[t]) << "tick " << t;
    for (const Game* g : {&anna, &bert}) {
        const std::uint8_t seats = g->client.your_seats();
        ASSERT_NE(seats, 0);
        for (std::size_t seat = 0; seat < max_seats; ++seat) {
            if ((seats >> seat & 1) == 0) continue;
            const auto own = std::count_if(a.begin(), a.begin() + ticks, [&](const TickInput& in) {
                return in.diggers[seat].dir == g->held;
            });
            EXPECT_GT(own, ticks / 2) << "seat " << seat;
        }
    }
    EXPECT_EQ(anna.client.your_seats() & bert.client.your_seats(), 0);
}

TEST(Transport, TwoGamesMeetByCodeAndPlayTheSameConfirmedTicks) {
    ServerThread relay;
    play_a_match(relay.port(), 100);
    EXPECT_FALSE(relay.log().empty()) << "the relay logs its room events";
}

// The proxy between the games and the relay, with delay, jitter, loss and
// doubled datagrams each way; its report says what it did to them.
TEST(Transport, TwoGamesPlayTheSameConfirmedTicksThroughALossyJitteryLink) {
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
