#include "core/levels.h"

#include <algorithm>
#include <cstdlib>
#include <deque>
#include <optional>
#include <vector>

#include "core/numbers.h"
#include "core/panic.h"

namespace zobra {

namespace {

// ---- The catalogue ----------------------------------------------------------

constexpr std::array<std::string_view, level_count> level_names{
    "ERSTE ZOBRA",   "ZWEI MILBEN", "KURZE WEGE",     "IRRLICHT",     "WEICHE ERDE",
    "GITTERWERK",    "ENGE GASSE",  "NIMMERSATT",     "QUERSCHLAG",   "PULVERKAMMER",
    "STOLLEN ELF",   "FUNKENFLUG",  "KREUZWEG",       "DICKE LUFT",   "SAEULENGANG",
    "NACHTSCHICHT",  "ZUNDER",      "KETTENREAKTION", "LANGER ATEM",  "HALBZEIT",
    "ROTE ZONE",     "SCHUTT",      "LICHTERTANZ",    "BLINDGAENGER", "WETTERSCHACHT",
    "GEGENORT",      "FEUERPROBE",  "TAUBES GESTEIN", "SCHLAGWETTER", "HEXENKESSEL",
    "DREI HUNGRIGE", "STREBBRUCH",  "GLUTNEST",       "LETZTE SOHLE", "DOPPELTE LADUNG",
    "FLOEZ",         "MILBENNEST",  "SPRENGMEISTER",  "KEIN ZURUECK", "ENDSTATION",
};

// The layouts take turns so that neighbouring levels never look alike.
constexpr std::array<Layout, 6> layout_cycle{Layout::Grid,  Layout::RowBars,    Layout::Blocks,
                                             Layout::Cross, Layout::ColumnBars, Layout::Scatter};

// Every number of a level grows with its index and levels off where the
// arena would otherwise become too crowded.
Level make_level(std::uint32_t i) {
    LevelParams p;
    p.seed = 24301 + 7919 * std::uint64_t{i};
    p.width = static_cast<std::int32_t>(13 + 2 * (i / 5));
    p.height = static_cast<std::int32_t>(9 + 2 * (i / 10));
    p.brick_pct = 40 + std::min(i / 2, 18u);
    p.dirt_pct = (i < 4 || i % 2 == 1) ? 0 : 8 + i % 7;
    p.creatures = {
        2 + std::min(i / 4, 6u),                    // mites from the first level on
        i < 3 ? 0 : 1 + std::min((i - 3) / 5, 4u),  // wisps from the fourth
        i < 7 ? 0 : 1 + std::min((i - 7) / 9, 2u),  // gobblers from the eighth
    };
    p.charge_items = 2 + std::min(i / 6, 4u);
    p.reach_items = 3 + std::min(i / 6, 5u);
    p.boots_items = i % 3 == 2 ? 1 : 0;
    p.crystal_items = 3 + i / 4;
    p.layout = layout_cycle[i % layout_cycle.size()];
    p.hatch = true;

    Level level;
    level.name = level_names[i];
    level.params = p;
    level.time = 3000 + 20 * static_cast<std::uint32_t>((p.width * p.height) / 2);
    level.start_charges = static_cast<std::uint8_t>(1 + std::min(i / 8, 3u));
    level.start_reach = static_cast<std::uint8_t>(2 + std::min(i / 12, 2u));
    return level;
}

// ---- The builder ------------------------------------------------------------

// The builder draws from its own generator, apart from the arena's, so that
// growing a level never disturbs the creatures' later moves.
constexpr std::uint64_t builder_rng_start(std::uint64_t seed) {
    return (seed * 0x2545F4914F6CDD1DULL) | 1;
}

std::int32_t manhattan(Cell a, Cell b) { return std::abs(a.x - b.x) + std::abs(a.y - b.y); }

// The start corners in digger order: top-left, bottom-right, top-right,
// bottom-left. The builder keeps them clear and puts nothing dangerous near
// them: corner zones get no steel, brick or dirt from the pattern, and
// creatures only start far away.
struct Corners {
    std::array<Cell, 4> cells;

    Corners(std::int32_t width, std::int32_t height)
        : cells{{{1, 1}, {width - 2, height - 2}, {width - 2, 1}, {1, height - 2}}} {}

    std::int32_t nearest(Cell c) const {
        std::int32_t best = manhattan(c, cells[0]);
        for (const Cell corner : cells) best = std::min(best, manhattan(c, corner));
        return best;
    }
    bool in_zone(Cell c) const { return nearest(c) < 2; }
    bool far(Cell c) const { return nearest(c) >= 5; }
};

std::uint64_t scatter_hash(std::int32_t x, std::int32_t y, std::uint64_t seed) {
    std::uint64_t h = (static_cast<std::uint64_t>(x) * 0x9E3779B97F4A7C15ULL) ^
                      ((static_cast<std::uint64_t>(y) * 0xC2B2AE3D27D4EB4FULL) ^ seed);
    h ^= h >> 29;
    h *= 0xBF58476D1CE4E5B9ULL;
    h ^= h >> 32;
    return h;
}

// Whether the pattern puts steel on an inside cell (x, y ≥ 1).
bool layout_steel(const LevelParams& p, std::int32_t x, std::int32_t y) {
    switch (p.layout) {
        case Layout::Grid:
            return x % 2 == 0 && y % 2 == 0;
        case Layout::RowBars:  // bars on even rows, the gaps staggered from bar to bar
            return y % 2 == 0 && x % 4 != (y % 4 & ~1) + 1;
        case Layout::ColumnBars:
            return x % 2 == 0 && y % 4 != (x % 4 & ~1) + 1;
        case Layout::Blocks:  // 2 × 2 blocks from (2, 2) with one-cell lanes between
            return euclid_mod(x - 2, 3) <= 1 && euclid_mod(y - 2, 3) <= 1;
        case Layout::Scatter:
            return scatter_hash(x, y, p.seed) % 100 < 22;
        case Layout::Cross:  // a grid with its middle row and column left free
            return x % 2 == 0 && y % 2 == 0 && y != p.height / 2 && x != p.width / 2;
    }
    return false;
}

bool is_steel(const Arena& arena, Cell c) { return arena.tile(c.x, c.y).kind == TileKind::Steel; }

bool strictly_inside(const Arena& arena, Cell c) {
    return c.x > 0 && c.y > 0 && c.x < arena.width - 1 && c.y < arena.height - 1;
}

Cell step(Cell c, Dir d) { return {c.x + dir_dx(d), c.y + dir_dy(d)}; }

// The cells a digger starting at (1, 1) could get to once every brick and
// all dirt were gone.
std::vector<bool> reachable_from_start(const Arena& arena) {
    std::vector<bool> reached(arena.tiles.size(), false);
    std::vector<Cell> frontier{{1, 1}};
    reached[arena.index(1, 1)] = true;
    while (!frontier.empty()) {
        const Cell c = frontier.back();
        frontier.pop_back();
        for (const Dir d : all_dirs) {
            const Cell n = step(c, d);
            if (!strictly_inside(arena, n) || reached[arena.index(n.x, n.y)] || is_steel(arena, n))
                continue;
            reached[arena.index(n.x, n.y)] = true;
            frontier.push_back(n);
        }
    }
    return reached;
}

// A pattern can wall a start corner off from the top-left one (the scattered
// pillars do so now and then). A digger starting there would stand in steel
// once the pocket is walled up, so the builder breaks through the fewest
// pillars that join the corner to the reachable cells: a search that costs
// one per steel cell entered and nothing per open one.
void open_way_from(Arena& arena, Cell corner, const std::vector<bool>& reached) {
    constexpr std::uint32_t unseen = UINT32_MAX;
    std::vector<std::uint32_t> cost(arena.tiles.size(), unseen);
    std::vector<std::size_t> came_from(arena.tiles.size(), 0);
    std::deque<Cell> queue{corner};
    cost[arena.index(corner.x, corner.y)] = 0;
    while (!queue.empty()) {
        const Cell c = queue.front();
        queue.pop_front();
        const std::size_t at = arena.index(c.x, c.y);
        if (reached[at]) {
            for (std::size_t i = at; i != arena.index(corner.x, corner.y); i = came_from[i])
                arena.tiles[i] = Tile::empty();
            arena.tiles[arena.index(corner.x, corner.y)] = Tile::empty();
            return;
        }
        for (const Dir d : all_dirs) {
            const Cell n = step(c, d);
            if (!strictly_inside(arena, n)) continue;
            const std::size_t to = arena.index(n.x, n.y);
            const std::uint32_t through = is_steel(arena, n) ? 1 : 0;
            if (cost[at] + through >= cost[to]) continue;
            cost[to] = cost[at] + through;
            came_from[to] = at;
            if (through == 0)
                queue.push_front(n);
            else
                queue.push_back(n);
        }
    }
}

// Picks a cell of the list, among those at least `min_distance` steps from the
// top-left start if there are any, and removes it by moving the last entry
// into its place. An empty list gives nothing and draws nothing.
std::optional<Cell> pick(std::vector<Cell>& list, std::int32_t min_distance, Rng& rng) {
    if (list.empty()) return std::nullopt;
    constexpr Cell origin{1, 1};
    const auto qualifies = [&](Cell c) { return manhattan(c, origin) >= min_distance; };
    const auto candidates =
        static_cast<std::uint32_t>(std::count_if(list.begin(), list.end(), qualifies));

    std::size_t index = 0;
    if (candidates > 0) {
        // The wanted-th qualifying entry, counted in list order.
        std::uint32_t wanted = rng.below(candidates);
        for (;; ++index) {
            if (!qualifies(list[index])) continue;
            if (wanted == 0) break;
            --wanted;
        }
    } else {
        index = rng.below(static_cast<std::uint32_t>(list.size()));
    }
    const Cell picked = list[index];
    list[index] = list.back();
    list.pop_back();
    return picked;
}

}  // namespace

const std::array<Level, level_count>& level_catalogue() {
    static const std::array<Level, level_count> catalogue = [] {
        std::array<Level, level_count> levels;
        for (std::uint32_t i = 0; i < level_count; ++i) levels[i] = make_level(i);
        return levels;
    }();
    return catalogue;
}

std::uint32_t creature_total(const LevelParams& params) {
    std::uint32_t total = 0;
    for (std::uint32_t count : params.creatures) total += count;
    return total;
}

LevelParams duel_params(std::uint64_t place, std::uint32_t round) {
    const std::uint64_t p = place % duel_place_count;
    LevelParams params;
    params.seed = p * 104729 + std::uint64_t{round} * 31 + 53473;
    params.width = 19;
    params.height = 11;
    params.brick_pct = 62;
    params.dirt_pct = 0;
    params.charge_items = 8;
    params.reach_items = 8;
    params.boots_items = 3;
    params.layout = duel_places[static_cast<std::size_t>(p)].layout;
    params.hatch = false;
    return params;
}

Arena build_arena(const LevelParams& p, std::uint32_t diggers) {
    if (diggers < 1 || diggers > 4) panic("an arena holds one to four diggers, one per corner");
    if (p.width < 3 || p.height < 3) panic("an arena needs room inside its steel border");

    const std::int32_t w = p.width;
    const std::int32_t h = p.height;
    const Corners corners{w, h};
    Arena arena{w, h, p.seed};

    for (std::int32_t y = 0; y < h; ++y)
        for (std::int32_t x = 0; x < w; ++x)
            if (x == 0 || y == 0 || x == w - 1 || y == h - 1) arena.set_tile(x, y, Tile::steel());

    for (std::int32_t y = 1; y < h - 1; ++y)
        for (std::int32_t x = 1; x < w - 1; ++x)
            if (!corners.in_zone({x, y}) && layout_steel(p, x, y))
                arena.set_tile(x, y, Tile::steel());

    // Everything the top-left start cannot reach is walled up below, so that
    // no brick, item or creature hides in a pocket nobody can get into. Every
    // other digger's corner must be reachable too.
    std::vector<bool> reachable = reachable_from_start(arena);
    for (std::uint32_t j = 1; j < diggers; ++j) {
        const Cell corner = corners.cells[j];
        if (reachable[arena.index(corner.x, corner.y)]) continue;
        open_way_from(arena, corner, reachable);
        reachable = reachable_from_start(arena);
    }

    Rng rng{builder_rng_start(p.seed)};
    std::vector<Cell> bricks;
    std::vector<Cell> free;
    const std::uint64_t dirt_limit = std::uint64_t{p.brick_pct} + p.dirt_pct;
    for (std::int32_t y = 1; y < h - 1; ++y) {
        for (std::int32_t x = 1; x < w - 1; ++x) {
            if (arena.tile(x, y).kind == TileKind::Steel) continue;
            if (!reachable[arena.index(x, y)]) {
                arena.set_tile(x, y, Tile::steel());
            } else if (!corners.in_zone({x, y})) {
                const std::uint32_t r = rng.below(100);
                if (r < p.brick_pct) {
                    arena.set_tile(x, y, Tile::brick(Hidden::Nothing));
                    bricks.push_back({x, y});
                } else if (r < dirt_limit) {
                    arena.set_tile(x, y, Tile::dirt());
                } else {
                    free.push_back({x, y});
                }
            }
        }
    }

    // The hatch goes under a brick some way from the top-left start; only an
    // arena without bricks gets it on open floor.
    if (p.hatch) {
        const std::int32_t hatch_distance = (w + h) / 3;
        if (!bricks.empty()) {
            if (const auto c = pick(bricks, hatch_distance, rng))
                arena.set_tile(c->x, c->y, Tile::brick(Hidden::Hatch));
        } else if (const auto c = pick(free, hatch_distance, rng)) {
            arena.set_tile(c->x, c->y, Tile::hatch());
        }
    }

    const std::array<std::pair<PickupKind, std::uint32_t>, 4> items{{
        {PickupKind::Charge, p.charge_items},
        {PickupKind::Reach, p.reach_items},
        {PickupKind::Boots, p.boots_items},
        {PickupKind::Crystal, p.crystal_items},
    }};
    for (const auto& [kind, count] : items) {
        for (std::uint32_t k = 0; k < count; ++k) {
            const auto c = pick(bricks, 0, rng);
            if (!c) break;
            arena.set_tile(c->x, c->y, Tile::brick(hides(kind)));
        }
    }

    // Creatures start well away from every corner, so that nobody is caught
    // before taking a step.
    const auto near_corner = [&](Cell c) { return !corners.far(c); };
    std::erase_if(bricks, near_corner);
    std::erase_if(free, near_corner);

    for (std::size_t kind = 0; kind < creature_kind_count; ++kind) {
        for (std::uint32_t k = 0; k < p.creatures[kind]; ++k) {
            auto c = pick(free.empty() ? bricks : free, 0, rng);
            if (!c) break;
            arena.set_tile(c->x, c->y, Tile::empty());
            Creature creature;
            creature.place(*c);
            creature.heading = static_cast<Dir>(rng.below(4));
            creature.kind = static_cast<CreatureKind>(kind);
            arena.creatures.push_back(creature);
        }
    }

    // A new digger stands in its corner with one charge of reach 2.
    for (std::uint32_t j = 0; j < diggers; ++j) {
        Digger digger;
        digger.place(corners.cells[j]);
        arena.diggers.push_back(digger);
    }
    return arena;
}

Arena level_arena(const Level& level, std::uint32_t diggers, Difficulty difficulty) {
    Arena arena = build_arena(level.params, diggers);

    // Two players start side by side in the top-left corner, on a leash.
    if (diggers > 1) {
        arena.diggers[1].place({2, 1});
        arena.leash_x = 18;
        arena.leash_y = 9;
    }
    for (Digger& digger : arena.diggers) {
        digger.max_charges = level.start_charges;
        digger.reach = level.start_reach;
    }

    // Easy gives slower creatures and a longer clock, Hard the opposite.
    struct Tuning {
        std::uint32_t pace;
        std::uint32_t time_pct;
    };
    constexpr std::array<Tuning, 3> tunings{{{150, 150}, {100, 100}, {70, 75}}};
    const Tuning t = tunings[static_cast<std::size_t>(difficulty)];
    arena.creature_pace = t.pace;
    arena.time_left = static_cast<std::uint32_t>(
        std::min<std::uint64_t>(std::uint64_t{t.time_pct} * level.time / 100, UINT32_MAX));
    return arena;
}

Arena duel_arena(std::uint64_t place, std::uint32_t humans, std::uint32_t round) {
    Arena arena = build_arena(duel_params(place, round), 4);
    arena.duel = true;
    arena.time_left = 3000;
    for (std::size_t i = humans; i < arena.diggers.size(); ++i) arena.diggers[i].bot = true;
    return arena;
}

}  // namespace zobra
