#pragma once
// The arena: the whole world of one level or one duel round. A grid of tiles
// with a fire counter per cell, the lit charges, the creatures, the diggers,
// the clock, the score and the result. Pure game logic: the session feeds it
// one list of digger inputs per tick and reads back the events of that tick;
// views and the computer opponent read its fields between ticks.
//
// Everything is counted in ticks, twenty to the second. Positions are whole
// cells, x to the right and y downwards, stored row by row.

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>
#include <vector>

namespace zobra {

// ---------------------------------------------------------------------------
// Rule constants, in ticks unless named otherwise.

inline constexpr std::uint32_t ticks_per_second = 20;
inline constexpr std::uint16_t fuse_ticks = 50;     // lighting to explosion
inline constexpr std::uint8_t fire_ticks = 8;       // a cell burns after a blast
inline constexpr std::uint8_t walk_step_ticks = 4;  // one tile on foot, boots take one off
inline constexpr std::uint8_t dig_factor = 2;       // stepping into dirt takes this much longer
inline constexpr std::uint8_t item_cap = 8;         // most charges at once, longest reach
inline constexpr std::uint32_t brick_points = 5;
inline constexpr std::uint32_t crystal_points = 50;
inline constexpr std::uint32_t time_bonus_points = 10;   // per whole second left
inline constexpr std::uint32_t wall_start_ticks = 800;   // duel wall closes below this
inline constexpr std::uint32_t wall_interval_ticks = 4;  // one block this often
inline constexpr std::uint32_t min_creature_step_ticks = 2;
inline constexpr std::uint32_t max_creature_step_ticks = 60;

// ---------------------------------------------------------------------------
// Directions.

// A direction in one byte; where a byte stands for "no direction" it is
// `no_dir`. Every rule that tries all directions tries them in `all_dirs` order.
enum class Dir : std::uint8_t { Up = 0, Right = 1, Down = 2, Left = 3 };

inline constexpr std::uint8_t no_dir = 255;
inline constexpr std::array<Dir, 4> all_dirs = {Dir::Up, Dir::Right, Dir::Down, Dir::Left};

constexpr std::int32_t dir_dx(Dir d) { return d == Dir::Right ? 1 : d == Dir::Left ? -1 : 0; }
constexpr std::int32_t dir_dy(Dir d) { return d == Dir::Down ? 1 : d == Dir::Up ? -1 : 0; }
constexpr Dir reverse(Dir d) { return static_cast<Dir>((static_cast<std::uint8_t>(d) + 2) % 4); }

// ---------------------------------------------------------------------------
// Tiles.

// An item lying on the floor or hidden under a brick.
enum class PickupKind : std::uint8_t { Charge = 0, Reach = 1, Boots = 2, Crystal = 3 };

// What a brick hides: an item of that kind (0 … 3), nothing, or the hatch.
enum class Hidden : std::uint8_t {
    Charge = 0,
    Reach = 1,
    Boots = 2,
    Crystal = 3,
    Nothing = 4,
    Hatch = 6
};

constexpr Hidden hides(PickupKind item) { return static_cast<Hidden>(item); }

enum class TileKind : std::uint8_t {
    Empty = 0,
    Steel = 1,
    Brick = 2,
    Dirt = 3,
    Pickup = 4,
    Hatch = 5
};

// The content of one cell: a kind and a payload byte (a brick's `Hidden`, a
// pickup's `PickupKind`, meaningless for the other kinds).
struct Tile {
    TileKind kind = TileKind::Empty;
    std::uint8_t payload = 0;

    static constexpr Tile empty() { return {TileKind::Empty, 0}; }
    static constexpr Tile steel() { return {TileKind::Steel, 0}; }
    static constexpr Tile brick(Hidden h) {
        return {TileKind::Brick, static_cast<std::uint8_t>(h)};
    }
    static constexpr Tile dirt() { return {TileKind::Dirt, 0}; }
    static constexpr Tile pickup(PickupKind k) {
        return {TileKind::Pickup, static_cast<std::uint8_t>(k)};
    }
    static constexpr Tile hatch() { return {TileKind::Hatch, 0}; }

    constexpr Hidden hidden() const { return static_cast<Hidden>(payload); }
    constexpr PickupKind item() const { return static_cast<PickupKind>(payload); }
    friend constexpr bool operator==(Tile, Tile) = default;
};

// ---------------------------------------------------------------------------
// What a tick reports.

// What a tick reports, in the order it happened, with repetitions.
enum class Event : std::uint8_t {
    ChargeLit = 0,
    Explosion = 1,
    BrickBroken = 2,
    Dug = 3,
    PickedUp = 4,
    CreatureKilled = 5,
    Gobbled = 6,
    CreatureStep = 7,
    WispStep = 8,
    HatchOpened = 9,
    DiggerEscaped = 10,
    DiggerDied = 11,
    WallClosed = 12,
    TimeUp = 13,
    RoundOver = 14,
    AllLost = 15,
};

// ---------------------------------------------------------------------------
// Creatures: what each kind is, in one table. Adding a kind is adding its
// row here, its picture to the sprites and its numbers to the levels.

enum class CreatureKind : std::uint8_t { Mite = 0, Wisp = 1, Gobbler = 2 };
inline constexpr std::size_t creature_kind_count = 3;

struct CreatureTraits {
    std::uint32_t step_ticks;  // ticks per tile at the normal pace
    std::uint32_t points;      // for burning one
    bool shies_charges;        // never steps onto a lit charge
    bool shies_fire;           // never steps into fire
    bool eats;                 // eats the charges and items it steps on
    bool hunts;                // heads for the nearest digger instead of running straight on
    Event step_sound;          // what its steps report
};

inline constexpr std::array<CreatureTraits, creature_kind_count> creature_traits{{
    {9, 100, true, false, false, false, Event::CreatureStep},   // Mite
    {6, 200, true, true, false, true, Event::WispStep},         // Wisp
    {11, 300, false, false, true, false, Event::CreatureStep},  // Gobbler
}};

constexpr const CreatureTraits& traits(CreatureKind kind) {
    return creature_traits[static_cast<std::size_t>(kind)];
}

// ---------------------------------------------------------------------------
// Things on the grid.

enum class DiggerState : std::uint8_t { Alive = 0, Dead = 1, Escaped = 2 };
enum class Outcome : std::uint8_t { Running = 0, Finished = 1, Lost = 2 };

// A cell position on the grid.
struct Cell {
    std::int32_t x = 0;
    std::int32_t y = 0;
    friend bool operator==(Cell, Cell) = default;
};

// A lit charge lying on the grid.
struct Charge {
    std::int32_t x = 0;
    std::int32_t y = 0;
    std::uint16_t fuse = fuse_ticks;
    std::uint8_t reach = 2;
    std::uint8_t owner = 0;  // index of the digger that lit it
    friend bool operator==(const Charge&, const Charge&) = default;
};

// Where a digger or creature is and how far into its step. Movers jump to
// their target cell when a step starts; prev_x/prev_y and the step counters
// are only for drawing the slide.
struct Mover {
    std::int32_t x = 0;
    std::int32_t y = 0;
    std::int32_t prev_x = 0;
    std::int32_t prev_y = 0;
    std::uint8_t step_timer = 0;  // ticks until the step ends, 0 = standing
    std::uint8_t step_len = 1;

    Cell cell() const { return {x, y}; }
    // Stands still on the cell.
    void place(Cell at) {
        x = prev_x = at.x;
        y = prev_y = at.y;
        step_timer = 0;
        step_len = 1;
    }
    // Jumps to the neighbouring cell, sliding there over `ticks` ticks.
    void start_step(Cell to, std::uint8_t ticks) {
        prev_x = x;
        prev_y = y;
        x = to.x;
        y = to.y;
        step_timer = ticks;
        step_len = ticks;
    }
    friend bool operator==(const Mover&, const Mover&) = default;
};

// A mite, wisp or gobbler.
struct Creature : Mover {
    Dir heading = Dir::Up;
    CreatureKind kind = CreatureKind::Mite;
    friend bool operator==(const Creature&, const Creature&) = default;
};

// A figure steered by a player or the computer. Digger i is player i + 1 and
// keeps its index for the whole arena, dead or escaped.
struct Digger : Mover {
    std::uint8_t max_charges = 1;
    std::uint8_t charges_out = 0;  // its charges lying on the grid now
    std::uint8_t reach = 2;
    Dir facing = Dir::Down;
    DiggerState state = DiggerState::Alive;
    bool boots = false;
    bool bot = false;
    friend bool operator==(const Digger&, const Digger&) = default;
};

// What one digger is told to do in one tick.
struct DiggerInput {
    bool drop = false;                      // light a charge where it stands
    std::optional<Dir> dir = std::nullopt;  // try to step this way
    friend bool operator==(const DiggerInput&, const DiggerInput&) = default;
};

// ---------------------------------------------------------------------------
// Random numbers.

// 64-bit xorshift generator. The arena's own drives the creatures; the level
// builder keeps a second one of the same kind.
struct Rng {
    std::uint64_t state = 1;

    // One xorshift step; returns the new state.
    std::uint64_t next();
    // One step, then (state >> 33) mod n; n = 0 counts as 1.
    std::uint32_t below(std::uint32_t n);
    friend bool operator==(const Rng&, const Rng&) = default;
};

// Where the arena's generator starts for a seed (never 0).
constexpr std::uint64_t arena_rng_start(std::uint64_t seed) {
    return (seed * 0x9E3779B97F4A7C15ULL) | 1;
}

// ---------------------------------------------------------------------------
// The arena.

// Index of cell (x, y) in a grid `width` cells wide, stored row by row.
constexpr std::size_t cell_index(std::int32_t width, std::int32_t x, std::int32_t y) {
    return static_cast<std::size_t>(x) +
           static_cast<std::size_t>(width) * static_cast<std::size_t>(y);
}

// The world of one level or duel round. Its fields are open for reading;
// only its own operations and the level builders change them.
struct Arena {
    std::vector<Tile> tiles;              // width × height, row by row
    std::vector<std::uint8_t> fire_left;  // ticks of fire left per cell, 0 = not burning
    std::vector<Charge> charges;          // in the order they were lit
    std::vector<Creature> creatures;      // the living ones; the dead are removed
    std::vector<Digger> diggers;          // 1 to 4, never removed
    std::int32_t leash_x = 0;             // farthest two players may part, 0 = no limit
    std::int32_t leash_y = 0;
    Rng rng;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::uint32_t ticks = 0;  // ticks run so far, 1 during the first
    std::uint32_t time_left = 3600;
    std::uint32_t score = 0;
    std::uint32_t creature_pace = 100;  // percent applied to creature steps
    bool has_winner = false;            // a duel round ended with one survivor
    std::uint8_t winner = 0;            // that survivor's index
    bool duel = false;
    bool hatch_open = false;
    Outcome outcome = Outcome::Running;

    // An empty arena: an all-`Empty` grid without fire, charges, creatures or
    // diggers, its generator started from the seed. The builders add the rest.
    // Sides outside 1 … 4096 are an internal error.
    Arena(std::int32_t width, std::int32_t height, std::uint64_t seed);
    // A placeholder without cells, until a builder provides the real one.
    Arena() = default;

    bool inside(std::int32_t x, std::int32_t y) const {
        return x >= 0 && y >= 0 && x < width && y < height;
    }
    // Index of an inside cell in `tiles` and `fire_left`.
    std::size_t index(std::int32_t x, std::int32_t y) const { return cell_index(width, x, y); }

    // Outside the grid reads as `Steel`.
    Tile tile(std::int32_t x, std::int32_t y) const;
    // Outside the grid nothing happens.
    void set_tile(std::int32_t x, std::int32_t y, Tile t);
    // Ticks of fire left; outside reads 0.
    std::uint8_t fire(std::int32_t x, std::int32_t y) const;
    // The first charge in list order lying there, or null.
    const Charge* charge_at(std::int32_t x, std::int32_t y) const;
    // Whether a digger may step there: not steel, brick, outside or a charge.
    bool can_enter(std::int32_t x, std::int32_t y) const;

    // Advances the world by one tick; entry i is digger i's input, missing
    // entries are idle. Returns the tick's events in order.
    std::vector<Event> tick(std::span<const DiggerInput> inputs);
    std::vector<Event> tick(std::initializer_list<DiggerInput> inputs) {
        return tick(std::span<const DiggerInput>(inputs.begin(), inputs.size()));
    }

    friend bool operator==(const Arena&, const Arena&) = default;
};

// The cells a blast from (x, y) with this reach covers on the current tiles:
// the centre, then each direction in order until steel (not covered) or a
// brick or dirt (covered, and the blast goes no further).
std::vector<Cell> blast_cells(const Arena& arena, std::int32_t x, std::int32_t y,
                              std::uint8_t reach);

// Ticks per tile for a creature of this kind at this pace (percent).
std::uint8_t creature_step_ticks(CreatureKind kind, std::uint32_t pace);

// Block k (from 0) of a duel's closing wall on a width × height arena: the
// top row left to right, then the bottom row right to left, then the second
// row, the last but one, and so on inwards, the middle row once. None once
// the rows are full.
std::optional<Cell> wall_block(std::int32_t width, std::int32_t height, std::uint32_t k);

// A drawing offset from a mover's cell, in tiles.
struct Offset {
    float x = 0.0f;
    float y = 0.0f;
};

// How far a mover is drawn from its cell a fraction f (0 … 1) into the
// current tick: on its previous cell at the start of a step, sliding to its
// current cell by the end.
Offset render_offset(const Mover& mover, float f);

}  // namespace zobra
