#pragma once
// What must hold for every arena between ticks, checked after every tick of
// the rule tests and the randomised games.

#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <span>
#include <vector>

#include "core/arena.h"

namespace zobra::testing {

// The grid and fire lists match the size, the outer ring is steel, no two
// creatures share a cell, every mover is inside the grid, every brick hides
// something that exists, and each digger's charges_out counts exactly the
// charges it owns (no charge is owned by a digger that does not exist).
::testing::AssertionResult arena_invariants_hold(const Arena& arena);

// One tick, followed by the invariant check.
std::vector<Event> checked_tick(Arena& arena, std::span<const DiggerInput> inputs = {});
std::vector<Event> checked_tick(Arena& arena, std::initializer_list<DiggerInput> inputs);

// `count` idle ticks with the check after each; returns all their events.
std::vector<Event> checked_ticks(Arena& arena, int count, std::span<const DiggerInput> inputs = {});

// How often an event occurs in a tick's list.
inline long count_of(const std::vector<Event>& events, Event e) {
    return std::count(events.begin(), events.end(), e);
}

}  // namespace zobra::testing

namespace zobra {

// Names instead of bytes in test failure messages.
void PrintTo(Event e, std::ostream* out);
void PrintTo(DiggerState s, std::ostream* out);
void PrintTo(Outcome o, std::ostream* out);
void PrintTo(Dir d, std::ostream* out);
void PrintTo(TileKind k, std::ostream* out);
void PrintTo(const Tile& t, std::ostream* out);

}  // namespace zobra
