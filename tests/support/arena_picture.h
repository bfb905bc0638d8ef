#pragma once
// Arenas drawn as text, one character per cell, for short and readable rule
// and level tests. The legend, the same both ways:
//
//   #  steel          .  open floor      :  dirt
//   X  a brick hiding nothing            H  the open hatch
//   c r b y           a brick hiding a charge, reach, boots or crystal item
//   h                 a brick hiding the hatch
//   C R B Y           an item lying open: charge, reach, boots, crystal
//   1 2 3 4           digger 0 … 3 standing on open floor
//   m w g             a mite, wisp or gobbler standing on open floor
//   *                 a freshly lit charge of digger 0 (reach 2) on open floor

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/arena.h"

namespace zobra::testing {

// One digger's input for a tick: a step that way, or lighting a charge.
inline DiggerInput go(Dir d) { return {.dir = d}; }
inline constexpr DiggerInput drop{.drop = true};

// A digger or creature standing still on (x, y).
inline Digger digger_at(std::int32_t x, std::int32_t y) {
    Digger d;
    d.place({x, y});
    return d;
}
inline Creature creature_at(std::int32_t x, std::int32_t y,
                            CreatureKind kind = CreatureKind::Mite) {
    Creature c;
    c.place({x, y});
    c.kind = kind;
    return c;
}

// Builds the arena the rows show (all rows the same length). Diggers are
// ordered by their digit; creatures and charges by reading order; creatures
// face `Up` and every mover stands still. Anything else panics.
Arena arena_from_picture(const std::vector<std::string_view>& rows, std::uint64_t seed = 1);

// The arena drawn back in the same legend: a living digger over a creature
// over a charge over the tile.
std::vector<std::string> arena_picture(const Arena& arena);

// Which cells burn: `.` for none, otherwise the ticks of fire left (8 as `8`).
std::vector<std::string> fire_picture(const Arena& arena);

}  // namespace zobra::testing
