// How long one tick of a busy arena takes: the largest level size, crowded
// with creatures, charges going off all the time and fire everywhere.

#include <benchmark/benchmark.h>

#include <vector>

#include "core/arena.h"

namespace zobra {
namespace {

constexpr std::int32_t busy_width = 27;
constexpr std::int32_t busy_height = 15;
constexpr int ticks_per_scene = 100;  // then the scene is laid out afresh

Arena busy_arena() {
    Arena a(busy_width, busy_height, 24301);
    Rng layout{0x5EED};
    std::vector<Cell> open;
    for (std::int32_t y = 0; y < a.height; ++y)
        for (std::int32_t x = 0; x < a.width; ++x) {
            const bool border = x == 0 || y == 0 || x == a.width - 1 || y == a.height - 1;
            if (border || (x % 2 == 0 && y % 2 == 0)) {
                a.set_tile(x, y, Tile::steel());
                continue;
            }
            const std::uint32_t r = layout.below(100);
            if (r < 25)
                a.set_tile(x, y, Tile::brick(r < 8 ? static_cast<Hidden>(r % 4) : Hidden::Nothing));
            else if (r < 32)
                a.set_tile(x, y, Tile::dirt());
            else if (r < 52) {
                Creature creature;
                creature.place({x, y});
                creature.heading = static_cast<Dir>(r % 4);
                creature.kind = static_cast<CreatureKind>(r % 3);
                a.creatures.push_back(creature);
            } else
                open.push_back({x, y});
        }
    const std::array<Cell, 4> corners = {Cell{1, 1}, Cell{25, 13}, Cell{25, 1}, Cell{1, 13}};
    for (const Cell c : corners) {
        a.set_tile(c.x, c.y, Tile::empty());
        Digger digger;
        digger.place(c);
        digger.max_charges = 8;
        digger.reach = 3;
        a.diggers.push_back(digger);
    }
    // Thirty-two charges on the open cells, one going off every few ticks
    // through the whole scene.
    for (std::size_t k = 0; k < 32 && k < open.size(); ++k) {
        const Cell c = open[(k * 7) % open.size()];
        if (a.charge_at(c.x, c.y) != nullptr) continue;
        const auto owner = static_cast<std::uint8_t>(k % 4);
        a.charges.push_back({.x = c.x,
                             .y = c.y,
                             .fuse = static_cast<std::uint16_t>(1 + (k * 3) % ticks_per_scene),
                             .reach = 3,
                             .owner = owner});
        ++a.diggers[owner].charges_out;
    }
    return a;
}

void BM_TickBusyArena(benchmark::State& state) {
    const Arena scene = busy_arena();
    Arena a = scene;
    std::array<DiggerInput, 4> inputs{};
    int tick = 0;
    for (auto _ : state) {
        if (tick == ticks_per_scene) {
            state.PauseTiming();
            a = scene;
            tick = 0;
            state.ResumeTiming();
        }
        for (int i = 0; i < 4; ++i)
            inputs[static_cast<std::size_t>(i)] = {.drop = (tick + i) % 7 == 0,
                                                   .dir = static_cast<Dir>((tick / 9 + i) % 4)};
        benchmark::DoNotOptimize(a.tick(inputs));
        ++tick;
    }
    state.counters["creatures_at_start"] = static_cast<double>(scene.creatures.size());
    state.counters["charges_at_start"] = static_cast<double>(scene.charges.size());
}
BENCHMARK(BM_TickBusyArena);

}  // namespace
}  // namespace zobra
