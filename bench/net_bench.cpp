// Online duels on fake links (src/net/fake_link.h): the relay and its
// clients on a virtual clock, people played by random keys. The figures are
// counters beside each benchmark:
//
//   BM_OnlineDuel/RTT_MS/LOSS_PERMILLE   two clients with this round trip,
//       20 ms jitter and this loss each way, for ten minutes of match time:
//       bytes a second per client each way as on the wire (payload, 28 bytes
//       of UDP and IP and 10 of ENet a datagram; goal 1.5 KB/s or less),
//       stalls (frames that show no new tick because the match waits: their
//       time a minute and the longest; goal none over 100 ms at 300 ms and
//       5 %), and how far a client's tick strays from where the relay's
//       clock says it should be (goal within one).
//   BM_FullRollbackFrame   a frame that takes a confirmed tick which differs
//       from what was foreseen and plays the eight ticks since again, with
//       the frame's new tick (goal: the worst 1 ms or less).
//   BM_DesyncRecovery/RTT_MS   a client's copy spoiled now and then: the
//       time until its state is mended, from the spoiling and from the
//       relay's finding it (goal 0.5 s or less).
//   BM_RelayMatches/N   N two-player matches at once, 60 ms round trip and
//       1 % loss: the relay's own CPU time per match and second, and how
//       many matches one core referees so (goal 1000).
//   BM_SpectatorCatchUp/RTT_MS/WATCHERS   spectators come three minutes
//       into a duel: the time until they show the match a second behind the
//       relay, the CPU time one spends on it, and the players' longest
//       stall meanwhile (goal: none).

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "net/fake_link.h"

namespace zobra::net {
namespace {

constexpr Micros tick = 50'000;

// The CPU time of this thread: a frame's own work, without the time the
// machine gave to others meanwhile.
std::uint64_t thread_cpu_ns() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<std::uint64_t>(t.tv_sec) * 1'000'000'000u +
           static_cast<std::uint64_t>(t.tv_nsec);
}

std::uint64_t steady_ns() {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
}

// (Built up rather than "P" + …, which GCC 12's -Wrestrict takes amiss.)
std::string player_name(std::size_t i) {
    std::string name("P");
    name += std::to_string(i);
    return name;
}

// A person at the keys: a direction held for a while, a charge now and then,
// a confirm on an end screen after a moment.
class Keys {
  public:
    explicit Keys(std::uint64_t seed) : rng_{arena_rng_start(seed)} {}
    std::array<DiggerInput, local_seats_max> next() {
        if (rng_.below(12) == 0) {
            const std::uint32_t d = rng_.below(5);
            held_ = d == 4 ? std::nullopt : std::optional<Dir>(static_cast<Dir>(d));
        }
        return {DiggerInput{rng_.below(40) == 0, held_}, DiggerInput{}};
    }
    bool confirm(const Match& shown) {
        return shown.phase != MatchPhase::Running && rng_.below(50) == 0;
    }

  private:
    Rng rng_;
    std::optional<Dir> held_;
};

struct Figures {
    double seconds = 0;              // of play
    std::uint64_t up = 0, down = 0;  // wire bytes, all clients
    std::uint32_t clients = 0;
    Micros stalled = 0, longest_stall = 0;
    double clock_error = 0;  // ticks, the largest
};

// Two clients in quick matches, one after another, until `seconds` of play.
Figures play_duels(Micros rtt, std::uint32_t loss, double seconds, std::uint64_t seed) {
    Figures f;
    while (f.seconds < seconds) {
        Micros started = 0;
        FakeNetwork* clock = nullptr;
        FakeNetwork net(RelayLimits{}, seed, [&](std::string_view line) {
            if (line.find(" started") != std::string_view::npos) started = clock->now();
        });
        clock = &net;
        const Impairment link{rtt / 2, 20'000, loss, 0, 0};
        std::vector<Keys> keys;
        std::vector<Micros> stall_from(2, 0);
        for (std::size_t i = 0; i < 2; ++i) {
            net.add(player_name(i), link, link);
            keys.emplace_back(seed * 2 + i);
        }
        std::vector<bool> asked(2, false);
        const auto frame = [&](std::size_t i, Micros now) {
            OnlineClient& c = net.client(i);
            if (c.phase() == ClientPhase::Welcomed && !asked[i]) {
                c.quick_match(1);
                asked[i] = true;
            }
            const ClientUpdate u = c.update(keys[i].next(), keys[i].confirm(c.shown()), now);
            if (c.phase() != ClientPhase::Playing) return;
            if (u.ticks_run == 0 && u.waiting_for != 0) {
                if (stall_from[i] == 0) stall_from[i] = now - net.frame_micros;
                f.longest_stall = std::max(f.longest_stall, now - stall_from[i]);
                f.stalled += net.frame_micros;
                return;
            }
            stall_from[i] = 0;
            if (u.waiting_for != 0 || started == 0) return;
            // Where the relay's clock puts this client: its tick, half a
            // round trip and the margin ahead.
            const double due =
                static_cast<double>(now - started + rtt / 2) / static_cast<double>(tick) + 1.0;
            const double error = static_cast<double>(c.shown().ticks) - due;
            // (From a second in, once the clock is known; not past the end.)
            if (c.shown().phase != MatchPhase::Over && now >= started + 1'000'000)
                f.clock_error = std::max(f.clock_error, error < 0 ? -error : error);
        };
        bool ended = false;
        while (!ended && net.now() < 900'000'000) {
            net.run_until(net.now() + 1'000'000, frame);
            ended = net.client(0).phase() == ClientPhase::Ended &&
                    net.client(1).phase() == ClientPhase::Ended;
        }
        f.seconds += static_cast<double>(net.now()) / 1e6;
        for (std::size_t i = 0; i < 2; ++i) {
            f.up += net.up(i).wire_bytes();
            f.down += net.down(i).wire_bytes();
        }
        f.clients += 2;
        ++seed;
    }
    return f;
}

void BM_OnlineDuel(benchmark::State& state) {
    const Micros rtt = static_cast<Micros>(state.range(0)) * 1000;
    const auto loss = static_cast<std::uint32_t>(state.range(1)) * 1000;
    Figures f;
    for (auto _ : state) f = play_duels(rtt, loss, 600, 1);
    const double client_seconds = f.seconds * 2;
    state.counters["up_B/s"] = static_cast<double>(f.up) / client_seconds;
    state.counters["down_B/s"] = static_cast<double>(f.down) / client_seconds;
    state.counters["stall_ms/min"] =
        static_cast<double>(f.stalled) / 1000.0 / (client_seconds / 60.0);
    state.counters["longest_stall_ms"] = static_cast<double>(f.longest_stall) / 1000.0;
    state.counters["clock_error_ticks"] = f.clock_error;
    state.counters["minutes_played"] = f.seconds / 60.0;
}
BENCHMARK(BM_OnlineDuel)
    ->Args({0, 0})
    ->Args({60, 0})
    ->Args({150, 20})
    ->Args({300, 0})
    ->Args({300, 50})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// A client whose every frame takes a confirmed tick that differs from what
// it foresaw (the other person turned), and so plays the eight ticks since
// again.
void BM_FullRollbackFrame(benchmark::State& state) {
    const MatchSetup setup{Mode::DuelSolo, Difficulty::Normal, 4, {}, 0b0011};
    std::unique_ptr<OnlineClient> client;
    Micros now = 0;
    std::vector<LocalInput> own;
    std::uint32_t confirmed = 0;
    Keys keys(7);
    Rng other{arena_rng_start(3)};
    const auto fresh = [&] {
        client = std::make_unique<OnlineClient>("BENCH");
        client->connected(now);
        client->received(encode(Welcome{1}), now);
        client->received(encode(Started{setup, 0b0001}), now);
        own.clear();
        confirmed = 0;
    };
    const auto collect = [&] {
        for (const ToRelay& m : client->outbox())
            if (const auto in = decode(m.bytes); in && std::holds_alternative<Inputs>(*in)) {
                const Inputs& inputs = std::get<Inputs>(*in);
                for (std::size_t i = 0; i < inputs.ticks.size(); ++i) {
                    if (inputs.first + i >= own.size()) own.resize(inputs.first + i + 1);
                    own[inputs.first + i] = inputs.ticks[i];
                }
            }
        client->outbox().clear();
    };
    fresh();
    std::vector<double> took, cpu;  // µs, the frames with a rollback, as by the clock and CPU
    for (auto _ : state) {
        // The next confirmed tick, with the other person turning anew.
        Confirmed c{confirmed, {}};
        if (confirmed < own.size() && own.size() - confirmed >= rollback_ticks_max) {
            ConfirmedTick t;
            const auto dir = static_cast<Dir>(other.below(4));
            t.seats = static_cast<std::uint16_t>((own[confirmed] & 15u) |
                                                 pack_seat(DiggerInput{false, dir}) << 4);
            c.ticks.push_back(t);
            ++confirmed;
        }
        now += tick;
        const std::uint64_t start = steady_ns(), cpu_start = thread_cpu_ns();
        if (!c.ticks.empty()) client->received(encode(c), now);
        const ClientUpdate u = client->update(keys.next(), false, now);
        const std::uint64_t end = steady_ns(), cpu_end = thread_cpu_ns();
        benchmark::DoNotOptimize(u);
        state.PauseTiming();
        if (!c.ticks.empty()) {
            took.push_back(static_cast<double>(end - start) / 1000.0);
            cpu.push_back(static_cast<double>(cpu_end - cpu_start) / 1000.0);
        }
        collect();
        // Only frames of a running round count: a decided one stands still.
        if (client->shown().phase != MatchPhase::Running) fresh();
        state.ResumeTiming();
    }
    std::sort(took.begin(), took.end());
    const auto at = [&took](double q) {
        return took.empty()
                   ? 0.0
                   : took[std::min(took.size() - 1,
                                   static_cast<std::size_t>(q * static_cast<double>(took.size())))];
    };
    double total = 0;
    for (const double t : took) total += t;
    state.counters["rollback_frames"] = static_cast<double>(took.size());
    state.counters["mean_us"] = took.empty() ? 0 : total / static_cast<double>(took.size());
    state.counters["p99_us"] = at(0.99);
    state.counters["worst_us"] = took.empty() ? 0 : took.back();
    state.counters["worst_cpu_us"] = cpu.empty() ? 0 : *std::max_element(cpu.begin(), cpu.end());
}
BENCHMARK(BM_FullRollbackFrame)->Unit(benchmark::kMicrosecond);

// Spoils client 0's copy every few seconds and times its mending.
void BM_DesyncRecovery(benchmark::State& state) {
    const Micros rtt = static_cast<Micros>(state.range(0)) * 1000;
    std::vector<Micros> from_spoil, from_finding;
    for (auto _ : state) {
        Micros found_at = 0;
        FakeNetwork* clock = nullptr;
        RelayLimits limits;
        limits.match_ticks_max = 20 * 120;  // two minutes
        FakeNetwork net(limits, 5, [&](std::string_view line) {
            if (line.find(" desync of ") != std::string_view::npos &&
                line.find(" recovered ") == std::string_view::npos)
                found_at = clock->now();
        });
        clock = &net;
        const Impairment link{rtt / 2, 20'000, 10'000, 0, 0};
        std::vector<Keys> keys;
        for (std::size_t i = 0; i < 2; ++i) {
            net.add(player_name(i), link, link);
            keys.emplace_back(11 + i);
        }
        Micros spoiled_at = 0, next_spoil = 3'000'000;
        Rng rng{arena_rng_start(9)};
        const auto frame = [&](std::size_t i, Micros now) {
            OnlineClient& c = net.client(i);
            if (c.phase() == ClientPhase::Welcomed) c.quick_match(1);
            const ClientUpdate u = c.update(keys[i].next(), keys[i].confirm(c.shown()), now);
            if (i != 0 || c.phase() != ClientPhase::Playing) return;
            if (u.recovered && spoiled_at != 0) {
                from_spoil.push_back(now - spoiled_at);
                from_finding.push_back(now - found_at);
                spoiled_at = 0;
            }
            if (spoiled_at == 0 && now >= next_spoil) {
                c.spoil_for_test();
                spoiled_at = now;
                next_spoil = now + 2'000'000 + rng.below(2'000'000);
            }
        };
        while (net.now() < 200'000'000 && net.client(0).phase() != ClientPhase::Ended)
            net.run_until(net.now() + 1'000'000, frame);
    }
    const auto mean = [](const std::vector<Micros>& v) {
        double sum = 0;
        for (const Micros m : v) sum += static_cast<double>(m);
        return v.empty() ? 0.0 : sum / static_cast<double>(v.size()) / 1000.0;
    };
    const auto most = [](const std::vector<Micros>& v) {
        return v.empty() ? 0.0 : static_cast<double>(*std::max_element(v.begin(), v.end())) / 1000;
    };
    state.counters["desyncs"] = static_cast<double>(from_spoil.size());
    state.counters["spoil_to_mended_ms"] = mean(from_spoil);
    state.counters["spoil_to_mended_max_ms"] = most(from_spoil);
    state.counters["found_to_mended_ms"] = mean(from_finding);
    state.counters["found_to_mended_max_ms"] = most(from_finding);
}
BENCHMARK(BM_DesyncRecovery)->Arg(60)->Arg(300)->Iterations(1)->Unit(benchmark::kMillisecond);

// N quick matches at once: the relay's CPU time for ten seconds of play.
void BM_RelayMatches(benchmark::State& state) {
    const auto matches = static_cast<std::size_t>(state.range(0));
    double per_match_second = 0;
    for (auto _ : state) {
        FakeNetwork net(RelayLimits{}, 1);
        net.stopwatch = steady_ns;
        const Impairment link{30'000, 5'000, 10'000, 0, 0};
        std::vector<Keys> keys;
        for (std::size_t i = 0; i < 2 * matches; ++i) {
            net.add(player_name(i), link, link);
            keys.emplace_back(i);
        }
        const auto frame = [&](std::size_t i, Micros now) {
            OnlineClient& c = net.client(i);
            if (c.phase() == ClientPhase::Welcomed) c.quick_match(1);
            c.update(keys[i].next(), keys[i].confirm(c.shown()), now);
        };
        net.run_until(2'000'000, frame);  // every match started
        const std::uint64_t before = net.relay_time();
        const Micros from = net.now();
        net.run_until(from + 10'000'000, frame);
        const double seconds = static_cast<double>(net.now() - from) / 1e6;
        per_match_second = static_cast<double>(net.relay_time() - before) / 1e9 /
                           static_cast<double>(matches) / seconds;
        state.counters["playing"] = static_cast<double>(net.relay().matches());
    }
    state.counters["relay_us_per_match_second"] = per_match_second * 1e6;
    state.counters["matches_per_core"] = per_match_second > 0 ? 1.0 / per_match_second : 0;
}
BENCHMARK(BM_RelayMatches)->Arg(100)->Arg(1000)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_SpectatorCatchUp(benchmark::State& state) {
    const Micros rtt = static_cast<Micros>(state.range(0)) * 1000;
    const auto watchers = static_cast<std::size_t>(state.range(1));
    constexpr std::uint32_t join_at = 3 * 60 * 20;  // ticks
    Micros caught_up = 0, player_stall = 0;
    std::uint64_t cpu_ns = 0;
    std::uint32_t behind = 0;
    for (auto _ : state) {
        FakeNetwork net(RelayLimits{}, 3);
        const Impairment link{rtt / 2, 20'000, 10'000, 0, 0};
        std::vector<Keys> keys;
        for (std::size_t i = 0; i < 2 + watchers; ++i) {
            net.add(player_name(i), link, link);
            keys.emplace_back(21 + i);
        }
        Micros asked_at = 0, caught_at = 0;
        std::vector<Micros> stall_from(2, 0);
        const auto frame = [&](std::size_t i, Micros now) {
            OnlineClient& c = net.client(i);
            if (i >= 2) {
                const auto& lobby = net.client(0).lobby();
                if (c.phase() == ClientPhase::Welcomed && lobby &&
                    net.client(0).shown().ticks >= join_at) {
                    c.watch_room(lobby->code);
                    asked_at = asked_at == 0 ? now : asked_at;
                }
                const std::uint64_t start = i == 2 ? thread_cpu_ns() : 0;
                c.update({}, false, now);
                if (i != 2 || caught_at != 0 || c.phase() != ClientPhase::Playing) return;
                cpu_ns += thread_cpu_ns() - start;
                const std::uint32_t live = net.client(0).shown().ticks;
                if (c.shown().ticks + 22 >= live) {
                    caught_at = now;
                    behind = live - c.shown().ticks;
                }
                return;
            }
            if (c.phase() == ClientPhase::Welcomed) c.quick_match(1);
            const ClientUpdate u = c.update(keys[i].next(), keys[i].confirm(c.shown()), now);
            if (asked_at == 0 || caught_at != 0) return;
            if (u.ticks_run == 0 && u.waiting_for != 0) {
                if (stall_from[i] == 0) stall_from[i] = now - net.frame_micros;
                player_stall = std::max(player_stall, now - stall_from[i]);
            } else {
                stall_from[i] = 0;
            }
        };
        while (caught_at == 0 && net.now() < 600'000'000)
            net.run_until(net.now() + 1'000'000, frame);
        caught_up = caught_at - asked_at;
    }
    state.counters["catch_up_ms"] = static_cast<double>(caught_up) / 1000.0;
    state.counters["catch_up_cpu_ms"] = static_cast<double>(cpu_ns) / 1e6;
    state.counters["then_behind_ticks"] = behind;
    state.counters["player_stall_ms"] = static_cast<double>(player_stall) / 1000.0;
}
BENCHMARK(BM_SpectatorCatchUp)
    ->Args({60, 1})
    ->Args({300, 1})
    ->Args({60, 32})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace zobra::net
