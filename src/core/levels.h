#pragma once
// The level catalogue and the arena builders. No level is stored as a map:
// each is a handful of numbers that follow from its place in the list, and its
// arena grows from those numbers through a seeded builder, so that a level
// looks the same every time and on every machine.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/arena.h"

namespace zobra {

constexpr std::size_t level_count = 40;
constexpr std::uint64_t duel_place_count = 5;

// The steel pattern inside the border.
enum class Layout : std::uint8_t {
    Grid = 0,
    RowBars = 1,
    ColumnBars = 2,
    Blocks = 3,
    Scatter = 4,
    Cross = 5,
};

enum class Difficulty : std::uint8_t { Easy = 0, Normal = 1, Hard = 2 };

// One or two people on a level, or a duel of four diggers steered by one or
// two people and the computer.
enum class Mode : std::uint8_t { Solo = 0, Pair = 1, DuelSolo = 2, DuelPair = 3 };

constexpr bool is_duel(Mode mode) { return mode == Mode::DuelSolo || mode == Mode::DuelPair; }
constexpr std::uint32_t mode_humans(Mode mode) {
    return mode == Mode::Pair || mode == Mode::DuelPair ? 2 : 1;
}

// Everything the builder needs to grow an arena.
struct LevelParams {
    std::uint64_t seed = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::uint32_t brick_pct = 0;  // chance that an open cell becomes brick
    std::uint32_t dirt_pct = 0;   // chance that it becomes dirt, taken after brick
    std::array<std::uint32_t, creature_kind_count> creatures{};  // how many of each kind
    std::uint32_t charge_items = 0;
    std::uint32_t reach_items = 0;
    std::uint32_t boots_items = 0;
    std::uint32_t crystal_items = 0;
    Layout layout = Layout::Grid;
    bool hatch = false;

    bool operator==(const LevelParams&) const = default;
};

// All creatures a level starts with.
std::uint32_t creature_total(const LevelParams& params);

// One level of the catalogue: what the builder grows, the clock on Normal in
// ticks, and what every digger starts with.
struct Level {
    std::string_view name;
    LevelParams params;
    std::uint32_t time = 0;
    std::uint8_t start_charges = 1;
    std::uint8_t start_reach = 2;
};

// One of the duel places, all of the same size and filling.
struct DuelPlace {
    std::string_view name;
    Layout layout;
};

constexpr std::array<DuelPlace, duel_place_count> duel_places{{
    {"PFEILER", Layout::Grid},
    {"KREUZ", Layout::Cross},
    {"BLOECKE", Layout::Blocks},
    {"RIEGEL", Layout::RowBars},
    {"WILDWUCHS", Layout::Scatter},
}};

// The forty levels, built on the first call and never changed.
const std::array<Level, level_count>& level_catalogue();

// The builder's numbers for one round on duel place `place` (taken mod 5).
LevelParams duel_params(std::uint64_t place, std::uint32_t round);

// A fresh arena grown from the parameters with `diggers` (1 … 4) diggers in
// the corners: top-left, bottom-right, top-right, bottom-left.
Arena build_arena(const LevelParams& params, std::uint32_t diggers);

// A level for one (solo) or two (pair) diggers on a difficulty.
Arena level_arena(const Level& level, std::uint32_t diggers, Difficulty difficulty);

// One duel round: four diggers, those from index `humans` on steered by the
// computer.
Arena duel_arena(std::uint64_t place, std::uint32_t humans, std::uint32_t round);

}  // namespace zobra
