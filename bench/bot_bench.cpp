// How long the computer opponent takes to decide. Four computer diggers
// decide before every 0.05 s step, so one decision should stay far below
// 50 µs.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstddef>
#include <vector>

#include "core/arena.h"
#include "core/bot.h"
#include "core/levels.h"

namespace {

using namespace zobra;

std::vector<DiggerInput> bot_inputs(const Arena& arena) {
    std::vector<DiggerInput> inputs(arena.diggers.size());
    for (std::size_t i = 0; i < arena.diggers.size(); ++i)
        if (arena.diggers[i].bot) inputs[i] = bot_decide(arena, i);
    return inputs;
}

std::size_t alive(const Arena& arena) {
    return static_cast<std::size_t>(
        std::count_if(arena.diggers.begin(), arena.diggers.end(),
                      [](const Digger& d) { return d.state == DiggerState::Alive; }));
}

// How many charges digger i would try out before settling on a goal,
// reckoned the way the opponent does it, from the public danger and route
// maps.
std::size_t trials(const Arena& arena, std::size_t i) {
    const Digger& digger = arena.diggers[i];
    const uint32_t step = digger.boots ? walk_step_ticks - 1u : walk_step_ticks;
    const RouteMap routes = route_map(arena, danger_map(arena), digger.x, digger.y, 0, step);
    const std::vector<BotGoal> goals = bot_goals(arena, i);
    std::size_t tried = 0;
    for (std::size_t g = 0; g < goals.size() && g < goals_tried; ++g) {
        if (goals[g].kind == GoalKind::Go) break;
        ++tried;
        const uint32_t t =
            routes.arrival[static_cast<std::size_t>(goals[g].x + arena.width * goals[g].y)];
        const Charge trial{goals[g].x, goals[g].y, static_cast<uint16_t>(t + fuse_ticks),
                           digger.reach, static_cast<uint8_t>(i)};
        const DangerMap danger = danger_map(arena, trial);
        const RouteMap escape = route_map(arena, danger, goals[g].x, goals[g].y, t + 1, step);
        bool escapes = false;
        for (int32_t y = 0; y < arena.height && !escapes; ++y)
            for (int32_t x = 0; x < arena.width && !escapes; ++x) {
                const uint32_t a = escape.arrival[static_cast<std::size_t>(x + arena.width * y)];
                escapes = a != no_tick && is_safe(danger, x, y, a + 1) && !is_haunted(arena, x, y);
            }
        if (escapes) break;
    }
    return tried;
}

// Four computer diggers on "PFEILER": the round played until the most
// charges lie burning while all four still live, then the clock wound on
// into the last forty seconds, so that the closing wall counts as well.
Arena crowded_duel() {
    Arena arena = duel_arena(0, 0, 0);
    Arena best = arena;
    for (int t = 0; t < 2000 && arena.outcome == Outcome::Running; ++t) {
        arena.tick(bot_inputs(arena));
        if (alive(arena) == 4 && arena.charges.size() > best.charges.size()) best = arena;
    }
    best.time_left = 780;
    return best;
}

// The largest catalogue levels (27 × 15) with the computer steering the
// digger: the moment in their first 4000 ticks when a decision tries out the
// most charges.
Arena busy_level() {
    Arena best;
    std::size_t most = 0;
    for (std::size_t level = 0; level < level_count; ++level) {
        const Level& entry = level_catalogue()[level];
        if (entry.params.width != 27 || entry.params.height != 15) continue;
        Arena arena = level_arena(entry, 1, Difficulty::Normal);
        arena.diggers[0].bot = true;
        if (best.diggers.empty()) best = arena;
        for (int t = 0; t < 4000 && arena.outcome == Outcome::Running; ++t) {
            const Digger& digger = arena.diggers[0];
            if (digger.state == DiggerState::Alive && digger.step_timer <= 1) {
                const std::size_t tried = trials(arena, 0);
                if (tried > most) {
                    best = arena;
                    most = tried;
                }
            }
            arena.tick(bot_inputs(arena));
        }
    }
    return best;
}

void decide_all(benchmark::State& state, const Arena& arena) {
    std::size_t decisions = 0;
    for (auto _ : state) {
        for (std::size_t i = 0; i < arena.diggers.size(); ++i) {
            if (arena.diggers[i].state != DiggerState::Alive) continue;
            benchmark::DoNotOptimize(bot_decide(arena, i));
            ++decisions;
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(decisions));
    state.counters["us_per_decision"] = benchmark::Counter(
        static_cast<double>(decisions), benchmark::Counter::kIsRate | benchmark::Counter::kInvert,
        benchmark::Counter::kIs1000);
}

void BM_DecideCrowdedDuel(benchmark::State& state) {
    static const Arena arena = crowded_duel();
    state.counters["charges"] = static_cast<double>(arena.charges.size());
    state.counters["alive"] = static_cast<double>(alive(arena));
    decide_all(state, arena);
}
BENCHMARK(BM_DecideCrowdedDuel)->Unit(benchmark::kMicrosecond);

void BM_DecideLevelStart(benchmark::State& state) {
    static const Arena arena = [] {
        Arena a = level_arena(level_catalogue()[level_count - 1], 1, Difficulty::Normal);
        a.diggers[0].bot = true;
        return a;
    }();
    state.counters["charges_tried"] = static_cast<double>(trials(arena, 0));
    decide_all(state, arena);
}
BENCHMARK(BM_DecideLevelStart)->Unit(benchmark::kMicrosecond);

void BM_DecideBusyLevel(benchmark::State& state) {
    static const Arena arena = busy_level();
    state.counters["charges_tried"] = static_cast<double>(trials(arena, 0));
    decide_all(state, arena);
}
BENCHMARK(BM_DecideBusyLevel)->Unit(benchmark::kMicrosecond);

}  // namespace
