#pragma once
// The computer opponent. Before every tick it looks at the arena and chooses
// one input for one digger: it foresees where and when fire will come, finds
// the fastest safe routes from where the digger stands, runs when it is in
// danger, and otherwise walks to the most rewarding item, hatch or blasting
// spot it could still escape from. It reads the arena only, keeps nothing
// between calls and draws no random numbers: the same arena always gives the
// same answer.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "core/arena.h"

namespace zobra {

// A tick that never comes: no blast, no wall, no route.
inline constexpr uint32_t no_tick = UINT32_MAX;

// The closing wall counts as danger only this many ticks ahead.
inline constexpr uint32_t wall_warning_ticks = 240;

// How many of the best goals a decision tries before it roams.
inline constexpr std::size_t goals_tried = 8;

// When fire comes to each cell, as foreseen at one moment. Every list holds
// one entry per cell (index x + width × y); blast_eta and wall_eta hold
// `no_tick` where nothing is coming.
struct DangerMap {
    std::vector<uint32_t> fire_now;   // the arena's fire counter
    std::vector<uint32_t> blast_eta;  // ticks until the earliest blast, chain reactions included
    std::vector<uint32_t> wall_eta;   // duels: ticks until the closing wall, if under 240
    int32_t width = 0;
};

// The fastest safe routes from one cell: the earliest tick the digger can
// stand on each cell, and which way its first step goes.
struct RouteMap {
    std::vector<uint32_t> arrival;    // `no_tick` where unreachable
    std::vector<uint8_t> first_step;  // a `Dir`, 255 for the start and unreachable cells
    int32_t width = 0;
};

// What a goal asks for: walk to the cell, or walk there and light a charge.
enum class GoalKind : uint8_t { Go = 0, Bomb = 1 };

// A place worth going to, with its worth per tick of walking.
struct BotGoal {
    int32_t x = 0;
    int32_t y = 0;
    float score = 0.0f;
    GoalKind kind = GoalKind::Go;
};

// Foresees fire: burning cells, every lit charge (and the trial charge, if
// given) with its chain reactions, and the duel's closing wall.
DangerMap danger_map(const Arena& arena, const std::optional<Charge>& trial = std::nullopt);

// Searches the routes a digger with the given walking step (ticks per tile)
// can take from (x, y), setting off at start_time, without walking into fire,
// a blast or a creature.
RouteMap route_map(const Arena& arena, const DangerMap& danger, int32_t x, int32_t y,
                   uint32_t start_time, uint32_t step);

// A creature stands on the cell or next to it, or has just left it.
bool is_haunted(const Arena& arena, int32_t x, int32_t y);

// Nothing will blast the cell, no wall closes on it, and any fire there is
// out before tick t.
bool is_safe(const DangerMap& danger, int32_t x, int32_t y, uint32_t t);

// The goals digger i sees from where it stands, best first (equal scores in
// the order found: row by row, item before hatch before charge).
std::vector<BotGoal> bot_goals(const Arena& arena, std::size_t i);

// The input the computer chooses for digger i this tick. Never a drop and a
// direction together.
DiggerInput bot_decide(const Arena& arena, std::size_t i);

}  // namespace zobra
