#include "core/bot.h"

#include <algorithm>
#include <cfloat>
#include <cstdlib>

namespace zobra {
namespace {

// A digger wants this many ticks to spare between leaving a cell and a blast
// or the wall arriving there.
constexpr uint64_t margin_ticks = 3;

// The opponent looks no further than this block of the closing wall.
constexpr uint32_t wall_last_block = 198;

// What goals are worth. A goal's score is its worth over its arrival plus
// `goal_wait_ticks`, so that near goals count for more without the nearest
// one outweighing everything.
// Goals are ranked by a float division, which every target the game builds
// for rounds alike only when floats are evaluated in their own precision
// (not in x87's wider registers): replays depend on it.
static_assert(FLT_EVAL_METHOD == 0, "float arithmetic must round to float");
constexpr float goal_wait_ticks = 8.0f;
constexpr float item_worth = 8.0f;
constexpr float hatch_worth = 1000.0f;
constexpr int32_t brick_worth = 2;       // each brick a charge would break
constexpr int32_t item_lost_worth = -3;  // each open item it would destroy
constexpr int32_t creature_caught_worth = 10;
constexpr int32_t rival_caught_worth = 8;
constexpr int32_t near_miss_worth = 3;  // a creature or rival close by but not caught
constexpr int32_t near_cells = 3;

int32_t manhattan(int32_t ax, int32_t ay, int32_t bx, int32_t by) {
    return std::abs(ax - bx) + std::abs(ay - by);
}

// A lit charge as the danger map sees it: where it lies, when it goes off
// (brought forward by chain reactions) and the cells its blast covers, kept
// as a range of a shared list of cell indexes.
struct ForeseenBlast {
    std::size_t cell = 0;
    uint32_t time = 0;
    std::size_t first = 0;
    std::size_t last = 0;
};

struct ForeseenBlasts {
    std::vector<ForeseenBlast> list;
    std::vector<std::size_t> cells;
};

void add_blast(ForeseenBlasts& blasts, const Arena& arena, const Charge& charge) {
    ForeseenBlast blast;
    blast.cell = arena.index(charge.x, charge.y);
    blast.time = charge.fuse;
    blast.first = blasts.cells.size();
    for (const auto& c : blast_cells(arena, charge.x, charge.y, charge.reach))
        blasts.cells.push_back(arena.index(c.x, c.y));
    blast.last = blasts.cells.size();
    blasts.list.push_back(blast);
}

ForeseenBlasts foreseen_blasts(const Arena& arena) {
    ForeseenBlasts blasts;
    blasts.list.reserve(arena.charges.size() + 1);
    for (const Charge& charge : arena.charges) add_blast(blasts, arena, charge);
    return blasts;
}

// Brings every blast forward to the earliest blast that reaches it, however
// long the chain, then marks when the first blast reaches each cell. The
// earliest time is the same whatever order the pairs are looked at in, so
// the blasts lying on a cell are looked up instead of compared pair by pair.
void predict_blasts(DangerMap& danger, ForeseenBlasts blasts) {
    std::vector<int32_t> lying_at(danger.blast_eta.size(), -1);
    std::vector<int32_t> next(blasts.list.size(), -1);
    for (std::size_t k = blasts.list.size(); k-- > 0;) {
        next[k] = lying_at[blasts.list[k].cell];
        lying_at[blasts.list[k].cell] = static_cast<int32_t>(k);
    }
    for (bool changed = true; changed;) {
        changed = false;
        for (const ForeseenBlast& j : blasts.list) {
            for (std::size_t c = j.first; c < j.last; ++c) {
                for (int32_t k = lying_at[blasts.cells[c]]; k >= 0;
                     k = next[static_cast<std::size_t>(k)]) {
                    ForeseenBlast& other = blasts.list[static_cast<std::size_t>(k)];
                    if (j.time < other.time) {
                        other.time = j.time;
                        changed = true;
                    }
                }
            }
        }
    }
    for (const ForeseenBlast& blast : blasts.list)
        for (std::size_t c = blast.first; c < blast.last; ++c)
            danger.blast_eta[blasts.cells[c]] =
                std::min(danger.blast_eta[blasts.cells[c]], blast.time);
}

// The closing wall's block k lands when the clock shows 800 − 4 (k + 1); a
// cell counts as threatened once its block is less than `wall_warning_ticks`
// away.
void predict_wall(DangerMap& danger, const Arena& arena) {
    const int64_t time_left = arena.time_left;
    for (uint32_t k = 0; k <= wall_last_block; ++k) {
        const std::optional<Cell> block = wall_block(arena.width, arena.height, k);
        if (!block || !arena.inside(block->x, block->y)) continue;
        const int64_t lands_at = int64_t{wall_start_ticks} - int64_t{wall_interval_ticks} * (k + 1);
        if (time_left >= lands_at && time_left - lands_at < wall_warning_ticks)
            danger.wall_eta[arena.index(block->x, block->y)] =
                static_cast<uint32_t>(time_left - lands_at);
    }
}

DangerMap base_danger(const Arena& arena) {
    DangerMap danger;
    danger.width = arena.width;
    const std::size_t n = arena.tiles.size();
    danger.fire_now.assign(n, 0);
    for (std::size_t c = 0; c < n; ++c) danger.fire_now[c] = arena.fire_left[c];
    danger.blast_eta.assign(n, no_tick);
    danger.wall_eta.assign(n, no_tick);
    if (arena.duel) predict_wall(danger, arena);
    return danger;
}

// The danger map with one more charge tried out: the same fire and wall,
// the blasts foreseen anew.
DangerMap with_trial(const DangerMap& danger, const Arena& arena, ForeseenBlasts blasts,
                     const Charge& trial) {
    DangerMap tried;
    tried.width = danger.width;
    tried.fire_now = danger.fire_now;
    tried.wall_eta = danger.wall_eta;
    tried.blast_eta.assign(danger.blast_eta.size(), no_tick);
    add_blast(blasts, arena, trial);
    predict_blasts(tried, std::move(blasts));
    return tried;
}

std::vector<uint8_t> haunted_cells(const Arena& arena) {
    std::vector<uint8_t> haunted(arena.tiles.size(), 0);
    auto mark = [&](int32_t x, int32_t y) {
        if (arena.inside(x, y)) haunted[arena.index(x, y)] = 1;
    };
    for (const Creature& creature : arena.creatures) {
        mark(creature.x, creature.y);
        for (Dir d : all_dirs) mark(creature.x + dir_dx(d), creature.y + dir_dy(d));
        mark(creature.prev_x, creature.prev_y);
    }
    return haunted;
}

bool safe_at(const DangerMap& danger, std::size_t c, uint64_t t) {
    return danger.blast_eta[c] == no_tick && danger.wall_eta[c] == no_tick &&
           (danger.fire_now[c] == 0 || danger.fire_now[c] < t);
}

// The cells a digger may step onto at all, and what a step there costs:
// 0 for never (wall, brick, charge, creature about), 2 for dirt, 1 otherwise.
std::vector<uint8_t> footing(const Arena& arena, const std::vector<uint8_t>& haunted) {
    std::vector<uint8_t> cost(arena.tiles.size(), 0);
    for (int32_t y = 0; y < arena.height; ++y) {
        for (int32_t x = 0; x < arena.width; ++x) {
            const std::size_t c = arena.index(x, y);
            if (haunted[c] || !arena.can_enter(x, y)) continue;
            cost[c] = arena.tile(x, y).kind == TileKind::Dirt ? dig_factor : 1;
        }
    }
    return cost;
}

// The route search walks first in, first out; a cell found again on a
// faster route is entered again and queued once more. Whether a step is
// allowed depends on when it is taken, so the order of the search decides
// the routes, and it is kept exactly.
RouteMap search_routes(const Arena& arena, const DangerMap& danger,
                       const std::vector<uint8_t>& cost, int32_t sx, int32_t sy,
                       uint32_t start_time, uint32_t step) {
    RouteMap routes;
    routes.width = arena.width;
    routes.arrival.assign(arena.tiles.size(), no_tick);
    routes.first_step.assign(arena.tiles.size(), no_dir);
    if (!arena.inside(sx, sy)) return routes;

    std::vector<std::size_t> queue;
    queue.reserve(arena.tiles.size() * 2);
    const std::size_t start = arena.index(sx, sy);
    routes.arrival[start] = start_time;
    queue.push_back(start);
    for (std::size_t head = 0; head < queue.size(); ++head) {
        const std::size_t cell = queue[head];
        const uint64_t e = routes.arrival[cell];
        const int32_t x = static_cast<int32_t>(cell % static_cast<std::size_t>(arena.width));
        const int32_t y = static_cast<int32_t>(cell / static_cast<std::size_t>(arena.width));
        for (Dir d : all_dirs) {
            const int32_t nx = x + dir_dx(d), ny = y + dir_dy(d);
            if (!arena.inside(nx, ny)) continue;
            const std::size_t n = arena.index(nx, ny);
            if (cost[n] == 0) continue;
            const uint64_t i = e + uint64_t{step} * cost[n];
            if (i >= routes.arrival[n]) continue;
            const uint32_t wall = danger.wall_eta[n];
            if (wall != no_tick && i + margin_ticks >= wall) continue;
            if (danger.fire_now[n] > 0 && e <= danger.fire_now[n]) continue;
            const uint32_t blast = danger.blast_eta[n];
            if (blast != no_tick && !(i + margin_ticks < blast || e > uint64_t{blast} + fire_ticks))
                continue;
            routes.arrival[n] = static_cast<uint32_t>(i);
            routes.first_step[n] =
                cell == start ? static_cast<uint8_t>(d) : routes.first_step[cell];
            queue.push_back(n);
        }
    }
    return routes;
}

// What one decision knows about the arena besides the danger: it does not
// change while the decision tries out its goals.
struct Sight {
    const Arena& arena;
    std::size_t me;
    const Digger& digger;
    uint32_t step;
    std::vector<uint8_t> haunted;
    std::vector<uint8_t> cost;
    ForeseenBlasts blasts;
    DangerMap danger;
    RouteMap routes;

    Sight(const Arena& a, std::size_t i)
        : arena(a),
          me(i),
          digger(a.diggers[i]),
          step(digger.boots ? walk_step_ticks - 1u : walk_step_ticks),
          haunted(haunted_cells(a)),
          cost(footing(a, haunted)),
          blasts(foreseen_blasts(a)) {
        danger = base_danger(a);
        predict_blasts(danger, blasts);
        routes = search_routes(a, danger, cost, digger.x, digger.y, 0, step);
    }

    std::size_t here() const { return arena.index(digger.x, digger.y); }

    bool usable(std::size_t c) const {
        return routes.arrival[c] != no_tick &&
               safe_at(danger, c, uint64_t{routes.arrival[c]} + 1) && !haunted[c];
    }
};

DiggerInput go(uint8_t first_step) {
    DiggerInput input;
    if (first_step != no_dir) input.dir = static_cast<Dir>(first_step);
    return input;
}

// Flight: the nearest usable cell, the first row by row on equal arrival.
// With nowhere safe to go, any open step away from fire and creatures is
// better than standing still.
DiggerInput flee(const Sight& sight) {
    const std::size_t here = sight.here();
    std::size_t refuge = here;
    for (std::size_t c = 0; c < sight.routes.arrival.size(); ++c) {
        if (c == here || !sight.usable(c)) continue;
        if (refuge == here || sight.routes.arrival[c] < sight.routes.arrival[refuge]) refuge = c;
    }
    if (refuge != here) return go(sight.routes.first_step[refuge]);

    const Arena& arena = sight.arena;
    for (Dir d : all_dirs) {
        const int32_t nx = sight.digger.x + dir_dx(d), ny = sight.digger.y + dir_dy(d);
        if (!arena.can_enter(nx, ny) || arena.fire(nx, ny) > 0) continue;
        const bool creature =
            std::any_of(arena.creatures.begin(), arena.creatures.end(),
                        [&](const Creature& cr) { return cr.x == nx && cr.y == ny; });
        if (!creature) return go(static_cast<uint8_t>(d));
    }
    return {};
}

// How much a charge lit at (x, y) would be worth: bricks broken, items lost,
// creatures and, in a duel, rivals caught in or near the blast.
int32_t charge_worth(const Sight& sight, int32_t x, int32_t y) {
    const Arena& arena = sight.arena;
    const auto cells = blast_cells(arena, x, y, sight.digger.reach);
    auto in_blast = [&](int32_t px, int32_t py) {
        return std::any_of(cells.begin(), cells.end(),
                           [&](const auto& c) { return c.x == px && c.y == py; });
    };
    int32_t worth = 0;
    for (const auto& c : cells) {
        const TileKind kind = arena.tile(c.x, c.y).kind;
        if (kind == TileKind::Brick) worth += brick_worth;
        if (kind == TileKind::Pickup) worth += item_lost_worth;
    }
    for (const Creature& creature : arena.creatures) {
        if (in_blast(creature.x, creature.y))
            worth += creature_caught_worth;
        else if (manhattan(creature.x, creature.y, x, y) <= near_cells)
            worth += near_miss_worth;
    }
    if (arena.duel) {
        for (std::size_t j = 0; j < arena.diggers.size(); ++j) {
            const Digger& rival = arena.diggers[j];
            if (j == sight.me || rival.state != DiggerState::Alive) continue;
            if (in_blast(rival.x, rival.y))
                worth += rival_caught_worth;
            else if (manhattan(rival.x, rival.y, x, y) <= near_cells)
                worth += near_miss_worth;
        }
    }
    return worth;
}

std::vector<BotGoal> find_goals(const Sight& sight) {
    const Arena& arena = sight.arena;
    const bool hatch_usable = !arena.duel && arena.creatures.empty();
    const bool can_light = sight.digger.charges_out < sight.digger.max_charges;
    std::vector<BotGoal> goals;
    for (int32_t y = 0; y < arena.height; ++y) {
        for (int32_t x = 0; x < arena.width; ++x) {
            const std::size_t c = arena.index(x, y);
            if (!sight.usable(c)) continue;
            const float wait = static_cast<float>(sight.routes.arrival[c]) + goal_wait_ticks;
            const TileKind kind = arena.tile(x, y).kind;
            if (kind == TileKind::Pickup) goals.push_back({x, y, item_worth / wait, GoalKind::Go});
            if (kind == TileKind::Hatch && hatch_usable)
                goals.push_back({x, y, hatch_worth / wait, GoalKind::Go});
            if (can_light && kind != TileKind::Hatch) {
                const int32_t worth = charge_worth(sight, x, y);
                if (worth > 0)
                    goals.push_back({x, y, static_cast<float>(worth) / wait, GoalKind::Bomb});
            }
        }
    }
    std::stable_sort(goals.begin(), goals.end(),
                     [](const BotGoal& a, const BotGoal& b) { return a.score > b.score; });
    return goals;
}

// A charge is worth lighting only if, lit on arrival, some usable cell can
// still be reached from it before its blast.
bool can_escape(const Sight& sight, const BotGoal& goal) {
    const std::size_t g = sight.arena.index(goal.x, goal.y);
    const uint32_t t = sight.routes.arrival[g];
    const Charge trial{
        .x = goal.x,
        .y = goal.y,
        .fuse = static_cast<uint16_t>(std::min<uint32_t>(t + fuse_ticks, UINT16_MAX)),
        .reach = sight.digger.reach,
        .owner = static_cast<uint8_t>(sight.me)};
    const DangerMap tried = with_trial(sight.danger, sight.arena, sight.blasts, trial);
    const RouteMap escape =
        search_routes(sight.arena, tried, sight.cost, goal.x, goal.y, t + 1, sight.step);
    for (std::size_t c = 0; c < escape.arrival.size(); ++c) {
        if (escape.arrival[c] != no_tick && safe_at(tried, c, uint64_t{escape.arrival[c]} + 1) &&
            !sight.haunted[c])
            return true;
    }
    return false;
}

// Roaming: towards the nearest rival in a duel, the nearest creature
// elsewhere, by the fastest route among equally near cells.
DiggerInput roam(const Sight& sight) {
    const Arena& arena = sight.arena;
    std::vector<std::pair<int32_t, int32_t>> targets;
    if (arena.duel) {
        for (std::size_t j = 0; j < arena.diggers.size(); ++j)
            if (j != sight.me && arena.diggers[j].state == DiggerState::Alive)
                targets.emplace_back(arena.diggers[j].x, arena.diggers[j].y);
    } else {
        for (const Creature& creature : arena.creatures)
            targets.emplace_back(creature.x, creature.y);
    }
    bool found = false;
    std::size_t best = 0;
    int32_t best_distance = 0;
    for (int32_t y = 0; y < arena.height; ++y) {
        for (int32_t x = 0; x < arena.width; ++x) {
            const std::size_t c = arena.index(x, y);
            if (!sight.usable(c)) continue;
            int32_t distance = 0;
            for (std::size_t t = 0; t < targets.size(); ++t) {
                const int32_t d = manhattan(x, y, targets[t].first, targets[t].second);
                distance = t == 0 ? d : std::min(distance, d);
            }
            if (!found || distance < best_distance ||
                (distance == best_distance &&
                 sight.routes.arrival[c] < sight.routes.arrival[best])) {
                found = true;
                best = c;
                best_distance = distance;
            }
        }
    }
    if (!found || best == sight.here()) return {};
    return go(sight.routes.first_step[best]);
}

}  // namespace

DangerMap danger_map(const Arena& arena, const std::optional<Charge>& trial) {
    DangerMap danger = base_danger(arena);
    ForeseenBlasts blasts = foreseen_blasts(arena);
    if (trial) add_blast(blasts, arena, *trial);
    predict_blasts(danger, std::move(blasts));
    return danger;
}

RouteMap route_map(const Arena& arena, const DangerMap& danger, int32_t x, int32_t y,
                   uint32_t start_time, uint32_t step) {
    return search_routes(arena, danger, footing(arena, haunted_cells(arena)), x, y, start_time,
                         step);
}

bool is_haunted(const Arena& arena, int32_t x, int32_t y) {
    return arena.inside(x, y) && haunted_cells(arena)[arena.index(x, y)] != 0;
}

bool is_safe(const DangerMap& danger, int32_t x, int32_t y, uint32_t t) {
    if (x < 0 || y < 0 || x >= danger.width) return false;
    const std::size_t c = cell_index(danger.width, x, y);
    return c < danger.blast_eta.size() && safe_at(danger, c, t);
}

std::vector<BotGoal> bot_goals(const Arena& arena, std::size_t i) {
    if (i >= arena.diggers.size() || !arena.inside(arena.diggers[i].x, arena.diggers[i].y))
        return {};
    return find_goals(Sight(arena, i));
}

DiggerInput bot_decide(const Arena& arena, std::size_t i) {
    if (i >= arena.diggers.size()) return {};
    const Digger& digger = arena.diggers[i];
    if (digger.state != DiggerState::Alive || digger.step_timer > 1 ||
        !arena.inside(digger.x, digger.y))
        return {};

    const Sight sight(arena, i);
    const std::size_t here = sight.here();
    if (!safe_at(sight.danger, here, 1) || sight.haunted[here]) return flee(sight);

    const std::vector<BotGoal> goals = find_goals(sight);
    for (std::size_t g = 0; g < goals.size() && g < goals_tried; ++g) {
        const BotGoal& goal = goals[g];
        if (goal.kind == GoalKind::Bomb && !can_escape(sight, goal)) continue;
        const std::size_t cell = arena.index(goal.x, goal.y);
        if (goal.kind == GoalKind::Bomb && cell == here) return {.drop = true};
        return go(sight.routes.first_step[cell]);
    }
    return roam(sight);
}

}  // namespace zobra
