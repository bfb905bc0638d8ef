// The match as a value: how fast a replay plays headless (a solo level, and
// a three-minute duel against three computer diggers), what recording costs
// a tick, and how long a state hash and a copy of a match take on the
// largest arena. The human diggers are steered by the computer opponent, so
// every replay here is a real game.
//
// Goals: a solo replay at 200 000 ticks a second or more; the three-minute
// duel (3600 ticks) under 75 ms; recording under 1 % of a tick; a state hash
// and a copy of a match each under 2 µs.

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "core/bot.h"
#include "core/levels.h"
#include "core/match.h"
#include "core/replay.h"

namespace zobra {
namespace {

constexpr std::uint32_t duel_ticks = 3600;        // three minutes
constexpr std::uint32_t solo_ticks_max = 12'000;  // ten minutes, more than any level's clock

// What a player would do: the computer's choice for every living human
// digger, and a confirm on every end screen.
TickInput steered_input(const Match& match) {
    TickInput input;
    for (std::size_t i = 0; i < match.humans() && i < match.arena.diggers.size(); ++i)
        if (match.arena.diggers[i].state == DiggerState::Alive)
            input.diggers[i] = bot_decide(match.arena, i);
    input.confirm = match.phase != MatchPhase::Running;
    return input;
}

// Plays the setup with the computer steering the humans for at most
// `ticks_max` ticks, recording it, and gives the replay read back.
Replay recorded(const MatchSetup& setup, std::uint32_t ticks_max) {
    Match match(setup);
    ReplayRecorder recorder;
    recorder.start(match, "BENCH");
    while (match.phase != MatchPhase::Over && match.ticks < ticks_max) {
        const TickInput input = steered_input(match);
        match.advance(input);
        recorder.record(input, match);
    }
    const ReplayEnding ending =
        match.phase == MatchPhase::Over ? ReplayEnding::Completed : ReplayEnding::Left;
    const std::vector<std::uint8_t> bytes = recorder.finish(ending, match);
    std::variant<Replay, std::string> read = decode_replay(bytes);
    if (auto* replay = std::get_if<Replay>(&read)) return std::move(*replay);
    return {};
}

// The largest level of the catalogue (the first of them), on Normal.
std::uint8_t largest_level() {
    std::size_t best = 0;
    std::int64_t best_cells = 0;
    for (std::size_t i = 0; i < level_count; ++i) {
        const LevelParams& p = level_catalogue()[i].params;
        const std::int64_t cells = std::int64_t{p.width} * p.height;
        if (cells > best_cells) {
            best = i;
            best_cells = cells;
        }
    }
    return static_cast<std::uint8_t>(best);
}

// The largest level in mid-play: the moment of its first minute with the
// most charges lying while creatures still crawl.
Match busy_largest_level() {
    Match match(MatchSetup{.mode = Mode::Solo, .place = largest_level()});
    Match best = match;
    for (int t = 0; t < 1200 && match.phase == MatchPhase::Running; ++t) {
        match.advance(steered_input(match));
        if (!match.arena.creatures.empty() &&
            match.arena.charges.size() + match.arena.creatures.size() >
                best.arena.charges.size() + best.arena.creatures.size() &&
            !match.arena.charges.empty())
            best = match;
    }
    return best;
}

void play_replay(benchmark::State& state, const Replay& replay) {
    if (replay.inputs.empty()) {
        state.SkipWithError("the replay could not be recorded");
        return;
    }
    bool matched = true;
    for (auto _ : state) {
        const ReplayCheck check = check_replay(replay);
        matched = matched && check.matched;
        benchmark::DoNotOptimize(check.end_hash);
    }
    if (!matched) state.SkipWithError("the replay did not play back as recorded");
    const auto ticks = static_cast<double>(replay.inputs.size());
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(replay.inputs.size()));
    state.counters["ticks"] = ticks;
    state.counters["time_per_tick"] = benchmark::Counter(
        ticks * static_cast<double>(state.iterations()),
        benchmark::Counter::kIsRate | benchmark::Counter::kInvert, benchmark::Counter::kIs1000);
}

// The largest level played to its confirmed end by the computer (it wins
// after some 5000 ticks), checked headless.
const Replay& solo_replay() {
    static const Replay replay =
        recorded(MatchSetup{.mode = Mode::Solo, .place = largest_level()}, solo_ticks_max);
    return replay;
}

// Three minutes of a duel on "PFEILER" against three computer diggers,
// round after round.
const Replay& duel_replay() {
    static const Replay replay =
        recorded(MatchSetup{.mode = Mode::DuelSolo, .place = 0}, duel_ticks);
    return replay;
}

void BM_ReplaySoloLevel(benchmark::State& state) { play_replay(state, solo_replay()); }
BENCHMARK(BM_ReplaySoloLevel)->Unit(benchmark::kMillisecond);

void BM_ReplayDuelThreeMinutes(benchmark::State& state) { play_replay(state, duel_replay()); }
BENCHMARK(BM_ReplayDuelThreeMinutes)->Unit(benchmark::kMillisecond);

// The time one tick of the replay takes when checked headless (the best of
// three plays).
double seconds_per_tick(const Replay& replay) {
    double best = 0;
    for (int run = 0; run < 3; ++run) {
        const auto begin = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(check_replay(replay).end_hash);
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - begin;
        if (run == 0 || took.count() < best) best = took.count();
    }
    return best / static_cast<double>(replay.inputs.size());
}

// Recording the duel's inputs tick after tick, with a state hash of a match
// in mid-play every twentieth. `fraction_of_tick` sets the cost against one
// tick of the solo replay (the cheapest tick a recording follows: no
// computer digger decides in it), `fraction_of_duel_tick` against one of
// the duel replay.
void BM_RecordTick(benchmark::State& state) {
    const Replay& replay = duel_replay();
    static const Match after = busy_largest_level();
    if (replay.inputs.empty()) {
        state.SkipWithError("the replay could not be recorded");
        return;
    }
    ReplayRecorder recorder;
    recorder.start(after, "BENCH");
    std::size_t i = 0;
    std::uint32_t recorded_ticks = 0;
    const auto begin = std::chrono::steady_clock::now();
    for (auto _ : state) {
        recorder.record(replay.inputs[i], after);
        if (++i == replay.inputs.size()) i = 0;
        if (++recorded_ticks == 72'000) {  // an hour: begin again
            state.PauseTiming();
            recorder.start(after, "BENCH");
            recorded_ticks = 0;
            state.ResumeTiming();
        }
    }
    const std::chrono::duration<double> recording = std::chrono::steady_clock::now() - begin;

    const double per_record = recording.count() / static_cast<double>(state.iterations());
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
    state.counters["fraction_of_tick"] = per_record / seconds_per_tick(solo_replay());
    state.counters["fraction_of_duel_tick"] = per_record / seconds_per_tick(replay);
}
BENCHMARK(BM_RecordTick);

void BM_StateHashLargestLevel(benchmark::State& state) {
    static const Match match = busy_largest_level();
    for (auto _ : state) benchmark::DoNotOptimize(state_hash(match));
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
    state.counters["cells"] = static_cast<double>(match.arena.tiles.size());
    state.counters["creatures"] = static_cast<double>(match.arena.creatures.size());
    state.counters["charges"] = static_cast<double>(match.arena.charges.size());
}
BENCHMARK(BM_StateHashLargestLevel);

// A fresh copy, as a save point is taken.
void BM_CopyMatch(benchmark::State& state) {
    static const Match match = busy_largest_level();
    for (auto _ : state) {
        Match copy = match;
        benchmark::DoNotOptimize(copy);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}
BENCHMARK(BM_CopyMatch);

// A copy assigned over a match of the same level, as a save point is
// restored: the lists keep their storage.
void BM_AssignMatch(benchmark::State& state) {
    static const Match match = busy_largest_level();
    Match held(match.setup);
    for (auto _ : state) {
        held = match;
        benchmark::DoNotOptimize(held);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}
BENCHMARK(BM_AssignMatch);

}  // namespace
}  // namespace zobra
