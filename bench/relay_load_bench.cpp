// The relay's CPU for many matches at once over real UDP on loopback:
// a relay server and two rollback clients a match, each with a connection
// of its own, all in this thread. Only the server's turns are timed, so the
// figure is what the relay program would take (ENet's receiving, sending and
// acknowledging included), not the simulated players'.

#include <benchmark/benchmark.h>
#include <time.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "net/client.h"
#include "netio/relay_connection.h"
#include "netio/relay_server.h"

namespace zobra::netio {
namespace {

using Clock = std::chrono::steady_clock;

net::Micros micros_now() {
    return static_cast<net::Micros>(
        std::chrono::duration_cast<std::chrono::microseconds>(Clock::now().time_since_epoch())
            .count());
}

// This thread's CPU time, the system's share included.
double thread_cpu_seconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

struct Player {
    std::unique_ptr<net::OnlineClient> client;
    std::unique_ptr<RelayConnection> connection;
    Rng rng;
    std::optional<Dir> held;
};

void BM_RelayOverLoopback(benchmark::State& state) {
    const auto matches = static_cast<std::size_t>(state.range(0));
    const auto play_seconds = static_cast<double>(state.range(1));
    RelayServerOptions options;
    options.bind = "127.0.0.1";
    options.port = 0;
    options.seed = 1;
    std::string error;
    std::unique_ptr<RelayServer> server = RelayServer::open(
        options, [](std::string_view) {}, error);
    if (!server) {
        state.SkipWithError(error.c_str());
        return;
    }
    double relay_seconds = 0;
    double played = 0;
    for (auto _ : state) {
        std::vector<Player> players(2 * matches);
        for (std::size_t i = 0; i < players.size(); ++i) {
            Player& p = players[i];
            p.client = std::make_unique<net::OnlineClient>("P" + std::to_string(i));
            p.connection = RelayConnection::connect("127.0.0.1", server->port(), error);
            p.rng = Rng{arena_rng_start(i + 1)};
        }
        // Frames of the players, 60 a second, with the server's turns between
        // them timed.
        const auto frames = [&](double seconds, bool timed) {
            const auto end = Clock::now() + std::chrono::duration<double>(seconds);
            auto next_frame = Clock::now();
            while (Clock::now() < end) {
                const net::Micros now = micros_now();
                for (Player& p : players) {
                    p.connection->pump(*p.client, now);
                    if (p.client->phase() == net::ClientPhase::Welcomed) p.client->quick_match(1);
                    if (p.rng.below(12) == 0) {
                        const std::uint32_t d = p.rng.below(5);
                        p.held = d == 4 ? std::nullopt : std::optional<Dir>(static_cast<Dir>(d));
                    }
                    p.client->update({DiggerInput{p.rng.below(40) == 0, p.held}, DiggerInput{}},
                                     p.rng.below(50) == 0, now);
                    p.connection->pump(*p.client, now);
                }
                next_frame += std::chrono::microseconds(16'667);
                while (Clock::now() < next_frame) {
                    const double t0 = thread_cpu_seconds();
                    server->serve(0);
                    if (timed) relay_seconds += thread_cpu_seconds() - t0;
                    std::this_thread::sleep_for(std::chrono::microseconds(500));
                }
            }
        };
        frames(3.0, false);  // everyone connected and paired
        state.counters["playing"] = static_cast<double>(server->relay().matches());
        relay_seconds = 0;
        frames(play_seconds, true);
        played = play_seconds;
    }
    const double per_match_second = relay_seconds / static_cast<double>(matches) / played;
    state.counters["relay_us_per_match_second"] = per_match_second * 1e6;
    state.counters["matches_per_core"] = 1.0 / per_match_second;
}
BENCHMARK(BM_RelayOverLoopback)->Args({50, 10})->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace zobra::netio
