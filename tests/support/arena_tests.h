#pragma once
// What every arena rule test starts from: the arena, its invariant-checked
// ticks, and arenas drawn as pictures (see arena_picture.h for the legend).

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/arena.h"
#include "support/arena_invariants.h"
#include "support/arena_picture.h"

namespace zobra {

using testing::arena_from_picture;
using testing::arena_picture;
using testing::checked_tick;
using testing::checked_ticks;
using testing::count_of;
using testing::drop;
using testing::fire_picture;
using testing::go;

// An arena picture as `arena_picture` and `fire_picture` draw it.
using Picture = std::vector<std::string>;

}  // namespace zobra
