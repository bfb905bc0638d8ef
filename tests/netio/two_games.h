#pragma once
// Two games and a relay over real UDP on 127.0.0.1, for the transport's
// tests: a game is its client and its connection, played frame by frame
// a few milliseconds apart, and a match is two of them meeting by a room's
// code and playing until both hold the same confirmed ticks.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

#include "core/arena.h"
#include "netio/relay_connection.h"

namespace zobra::test {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
constexpr auto patience = 60s;  // for any one state to come; only a fault waits that long

inline net::Micros micros_now() {
    return net::Micros(
        std::chrono::duration_cast<std::chrono::microseconds>(Clock::now().time_since_epoch())
            .count());
}

// One game: its client, its connection, and the direction its player holds.
struct Game {
    Game(const std::string& host, std::uint16_t port, std::string name, Dir held)
        : client(std::move(name)), held(held) {
        std::string error;
        link = netio::RelayConnection::connect(host, port, error);
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
    std::unique_ptr<netio::RelayConnection> link;
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

inline int people(const net::Lobby& lobby) {
    int n = 0;
    for (const net::LobbySeat& seat : lobby.seats) n += seat.person ? 1 : 0;
    return n;
}

// Two games meet in a room by its code, start, and play until both hold
// `ticks` confirmed ticks: they hold the same ones, and the seats of each
// carry its own player's direction in most of them.
inline void play_a_match(std::uint16_t port, std::uint32_t ticks) {
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

}  // namespace zobra::test
