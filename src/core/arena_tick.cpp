// One tick of the arena. `Arena::tick` at the bottom reads as the order of
// play; every rule it applies is one function above it, in that same order.

#include <algorithm>
#include <cstdlib>

#include "core/arena.h"

namespace zobra {

namespace {

using Events = std::vector<Event>;

// ---------------------------------------------------------------------------
// Small rules shared by several steps.

std::size_t charge_index_at(const Arena& a, std::int32_t x, std::int32_t y) {
    for (std::size_t i = 0; i < a.charges.size(); ++i)
        if (a.charges[i].x == x && a.charges[i].y == y) return i;
    return a.charges.size();
}

// Takes a charge off the grid (exploded, eaten or crushed) and gives its
// owner the slot back. A charge whose owner does not exist just goes.
void remove_charge(Arena& a, std::size_t i) {
    const std::uint8_t owner = a.charges[i].owner;
    a.charges.erase(a.charges.begin() + static_cast<std::ptrdiff_t>(i));
    if (owner < a.diggers.size()) {
        Digger& d = a.diggers[owner];
        if (d.charges_out > 0) --d.charges_out;
    }
}

void kill_digger(Digger& d, Events& ev) {
    d.state = DiggerState::Dead;
    ev.push_back(Event::DiggerDied);
}

bool is_alive(const Digger& d) { return d.state == DiggerState::Alive; }

std::size_t alive_count(const Arena& a) {
    return static_cast<std::size_t>(std::count_if(a.diggers.begin(), a.diggers.end(), is_alive));
}

bool creature_at(const Arena& a, std::int32_t x, std::int32_t y) {
    return std::any_of(a.creatures.begin(), a.creatures.end(),
                       [&](const Creature& c) { return c.x == x && c.y == y; });
}

// ---------------------------------------------------------------------------
// Step 1: fire burns down.

void burn_down_fire(Arena& a) {
    for (std::uint8_t& f : a.fire_left)
        if (f > 0) --f;
}

// ---------------------------------------------------------------------------
// Step 2: the clock. Out of time, everybody still in a level dies; a duel
// round just ends (step 10).

void run_clock(Arena& a, Events& ev) {
    if (a.outcome != Outcome::Running || a.time_left == 0) return;
    if (--a.time_left > 0) return;
    ev.push_back(Event::TimeUp);
    if (a.duel) return;
    for (Digger& d : a.diggers)
        if (is_alive(d)) kill_digger(d, ev);
}

// ---------------------------------------------------------------------------
// Step 3: the duel's closing wall. In the last forty seconds a steel block
// lands every four ticks, in the order of `wall_block`.

void close_duel_wall(Arena& a, Events& ev) {
    if (!a.duel || a.outcome != Outcome::Running || a.time_left >= wall_start_ticks) return;
    const std::uint32_t since = wall_start_ticks - a.time_left;
    if (since % wall_interval_ticks != 0) return;

    const std::optional<Cell> block =
        wall_block(a.width, a.height, since / wall_interval_ticks - 1);
    if (!block || !a.inside(block->x, block->y)) return;
    a.set_tile(block->x, block->y, Tile::steel());
    a.fire_left[a.index(block->x, block->y)] = 0;
    if (std::size_t i = charge_index_at(a, block->x, block->y); i < a.charges.size())
        remove_charge(a, i);
    ev.push_back(Event::WallClosed);
    for (Digger& d : a.diggers)
        if (is_alive(d) && d.cell() == *block) kill_digger(d, ev);
}

// ---------------------------------------------------------------------------
// Step 4: the diggers.

// A digger lights a charge where it stands (the target of its step when
// walking), if it has one to spare and the cell is neither taken by a charge
// nor the hatch.
void light_charge(Arena& a, std::size_t i, Events& ev) {
    Digger& d = a.diggers[i];
    if (d.charges_out >= d.max_charges) return;
    if (a.charge_at(d.x, d.y) != nullptr || a.tile(d.x, d.y).kind == TileKind::Hatch) return;
    a.charges.push_back({d.x, d.y, fuse_ticks, d.reach, static_cast<std::uint8_t>(i)});
    ++d.charges_out;
    ev.push_back(Event::ChargeLit);
}

// Two players are kept within leash_x × leash_y of each other: a step that
// would widen a distance beyond its limit is refused, while steps that keep
// or shrink an over-long distance stay allowed so nobody gets stuck. A
// limit of 0 leaves that axis free.
bool leash_allows(const Arena& a, std::size_t i, Cell target) {
    if (i > 1 || a.diggers.size() < 2 || (a.leash_x == 0 && a.leash_y == 0)) return true;
    const Digger& other = a.diggers[i ^ 1];
    if (!is_alive(other)) return true;
    const Digger& d = a.diggers[i];
    const auto widens = [](std::int32_t to, std::int32_t from, std::int32_t o, std::int32_t limit) {
        return limit != 0 && std::abs(to - o) > limit && std::abs(to - o) > std::abs(from - o);
    };
    return !widens(target.x, d.x, other.x, a.leash_x) && !widens(target.y, d.y, other.y, a.leash_y);
}

std::uint8_t one_more_up_to_cap(std::uint8_t value) {
    return static_cast<std::uint8_t>(std::min<int>(value + 1, item_cap));
}

void apply_pickup(Arena& a, Digger& d, PickupKind item) {
    switch (item) {
        case PickupKind::Charge:
            d.max_charges = one_more_up_to_cap(d.max_charges);
            break;
        case PickupKind::Reach:
            d.reach = one_more_up_to_cap(d.reach);
            break;
        case PickupKind::Boots:
            d.boots = true;
            break;
        case PickupKind::Crystal:
            a.score += crystal_points;
            break;
    }
}

// A step into dirt digs it away and takes twice as long; a step onto an item
// picks it up. Boots shorten only steps started after they were found.
void walk(Arena& a, std::size_t i, Dir dir, Events& ev) {
    Digger& d = a.diggers[i];
    d.facing = dir;
    const Cell target{d.x + dir_dx(dir), d.y + dir_dy(dir)};
    if (!a.can_enter(target.x, target.y) || !leash_allows(a, i, target)) return;

    auto len = static_cast<std::uint8_t>(walk_step_ticks - (d.boots ? 1 : 0));
    const Tile t = a.tile(target.x, target.y);
    if (t.kind == TileKind::Dirt) {
        a.set_tile(target.x, target.y, Tile::empty());
        ev.push_back(Event::Dug);
        len = static_cast<std::uint8_t>(len * dig_factor);
    } else if (t.kind == TileKind::Pickup) {
        a.set_tile(target.x, target.y, Tile::empty());
        apply_pickup(a, d, t.item());
        ev.push_back(Event::PickedUp);
    }
    d.start_step(target, len);
}

void move_diggers(Arena& a, std::span<const DiggerInput> inputs, Events& ev) {
    static constexpr DiggerInput idle{};
    for (std::size_t i = 0; i < a.diggers.size(); ++i) {
        if (!is_alive(a.diggers[i])) continue;
        const DiggerInput& input = i < inputs.size() ? inputs[i] : idle;
        if (a.diggers[i].step_timer > 0) --a.diggers[i].step_timer;
        if (input.drop) light_charge(a, i, ev);
        if (input.dir && a.diggers[i].step_timer == 0) walk(a, i, *input.dir, ev);
    }
}

// ---------------------------------------------------------------------------
// Step 5: the creatures.

struct DirList {
    std::array<Dir, 4> dirs{};
    std::uint32_t count = 0;
    void push(Dir d) { dirs[count++] = d; }
    bool contains(Dir d) const {
        return std::find(dirs.begin(), dirs.begin() + count, d) != dirs.begin() + count;
    }
};

// Creatures walk on open floor, items and the hatch, never onto each other,
// and keep away from whatever their kind shies.
bool creature_may_enter(const Arena& a, const Creature& c, std::int32_t x, std::int32_t y) {
    const TileKind kind = a.tile(x, y).kind;
    if (kind != TileKind::Empty && kind != TileKind::Pickup && kind != TileKind::Hatch)
        return false;
    if (creature_at(a, x, y)) return false;
    const CreatureTraits& nature = traits(c.kind);
    if (nature.shies_charges && a.charge_at(x, y) != nullptr) return false;
    return !(nature.shies_fire && a.fire(x, y) > 0);
}

std::int32_t distance_to_nearest_digger(const Arena& a, Cell cell) {
    std::int32_t best = -1;
    for (const Digger& d : a.diggers) {
        if (!is_alive(d)) continue;
        const std::int32_t dist = std::abs(cell.x - d.x) + std::abs(cell.y - d.y);
        if (best < 0 || dist < best) best = dist;
    }
    return best < 0 ? 0 : best;
}

// Turning back happens only at dead ends. Two draws, always both: k decides
// whether the creature follows its nature (k ≠ 0, four times in five) or the
// random candidate r. By nature a hunter homes in on the nearest digger and
// any other creature runs straight on.
Dir choose_direction(Arena& a, const Creature& c, const DirList& options) {
    DirList candidates;
    for (std::uint32_t n = 0; n < options.count; ++n)
        if (options.dirs[n] != reverse(c.heading)) candidates.push(options.dirs[n]);
    if (candidates.count == 0) candidates = options;

    const std::uint32_t k = a.rng.below(5);
    const std::uint32_t r = a.rng.below(candidates.count);
    if (k == 0) return candidates.dirs[r];

    if (traits(c.kind).hunts) {
        Dir best = candidates.dirs[0];
        std::int32_t best_dist = -1;
        for (std::uint32_t n = 0; n < candidates.count; ++n) {
            const Dir d = candidates.dirs[n];
            const std::int32_t dist =
                distance_to_nearest_digger(a, {c.x + dir_dx(d), c.y + dir_dy(d)});
            if (best_dist < 0 || dist < best_dist) {
                best = d;
                best_dist = dist;
            }
        }
        return best;
    }
    return candidates.contains(c.heading) ? c.heading : candidates.dirs[r];
}

// An eater eats the first charge on the cell it steps into (no blast) and
// then any item lying there.
void gobble(Arena& a, Cell target, Events& ev) {
    if (std::size_t i = charge_index_at(a, target.x, target.y); i < a.charges.size()) {
        remove_charge(a, i);
        ev.push_back(Event::Gobbled);
    }
    if (a.tile(target.x, target.y).kind == TileKind::Pickup) {
        a.set_tile(target.x, target.y, Tile::empty());
        ev.push_back(Event::Gobbled);
    }
}

void move_creature(Arena& a, std::size_t n, Events& ev) {
    {
        Creature& c = a.creatures[n];
        if (c.step_timer > 0 && --c.step_timer > 0) return;
    }
    const Creature c = a.creatures[n];
    DirList options;
    for (Dir d : all_dirs)
        if (creature_may_enter(a, c, c.x + dir_dx(d), c.y + dir_dy(d))) options.push(d);
    // Boxed in: wait, without touching the generator.
    if (options.count == 0) return;

    const Dir dir = choose_direction(a, c, options);
    const Cell target{c.x + dir_dx(dir), c.y + dir_dy(dir)};
    if (traits(c.kind).eats) gobble(a, target, ev);

    Creature& m = a.creatures[n];
    m.heading = dir;
    m.start_step(target, creature_step_ticks(c.kind, a.creature_pace));
    ev.push_back(traits(c.kind).step_sound);
}

void move_creatures(Arena& a, Events& ev) {
    for (std::size_t n = 0; n < a.creatures.size(); ++n) move_creature(a, n, ev);
}

// ---------------------------------------------------------------------------
// Step 6: fuses burn.

void burn_fuses(Arena& a) {
    for (Charge& c : a.charges)
        if (c.fuse > 0) --c.fuse;
}

// ---------------------------------------------------------------------------
// Step 7: explosions. A charge goes off when its fuse is out or fire reaches
// it; the scan restarts from the front after every blast, so charges caught
// by a blast go off in the same tick, each blast shaped by the tiles the
// previous ones left.

Tile revealed(Tile brick) {
    switch (brick.hidden()) {
        case Hidden::Charge:
        case Hidden::Reach:
        case Hidden::Boots:
        case Hidden::Crystal:
            return Tile::pickup(static_cast<PickupKind>(brick.payload));
        case Hidden::Hatch:
            return Tile::hatch();
        case Hidden::Nothing:
            break;
    }
    return Tile::empty();
}

// Bricks give up what they hid, dirt is cleared, an item lying open burns
// unless its cell is already on fire (so an item a blast has just revealed
// survives the chain reactions after it). Then the cell burns.
void blast(Arena& a, const Charge& charge, Events& ev) {
    for (const Cell c : blast_cells(a, charge.x, charge.y, charge.reach)) {
        const std::size_t at = a.index(c.x, c.y);
        Tile& t = a.tiles[at];
        switch (t.kind) {
            case TileKind::Brick:
                t = revealed(t);
                a.score += brick_points;
                ev.push_back(Event::BrickBroken);
                break;
            case TileKind::Dirt:
                t = Tile::empty();
                break;
            case TileKind::Pickup:
                if (a.fire_left[at] == 0) t = Tile::empty();
                break;
            case TileKind::Empty:
            case TileKind::Steel:
            case TileKind::Hatch:
                break;
        }
        a.fire_left[at] = fire_ticks;
    }
}

void explode_charges(Arena& a, Events& ev) {
    for (;;) {
        const auto due = std::find_if(a.charges.begin(), a.charges.end(), [&](const Charge& c) {
            return c.fuse == 0 || a.fire(c.x, c.y) > 0;
        });
        if (due == a.charges.end()) return;
        const Charge charge = *due;
        remove_charge(a, static_cast<std::size_t>(due - a.charges.begin()));
        ev.push_back(Event::Explosion);
        blast(a, charge, ev);
    }
}

// ---------------------------------------------------------------------------
// Step 8: contacts. A digger dies on a creature's cell, when it and a
// creature pass through each other mid-step, or in fire; otherwise it
// escapes from the hatch once no creature is left. Creatures burning this
// very tick still count, so nobody escapes in the tick the last one dies.

bool touches_creature(const Arena& a, const Digger& d) {
    return std::any_of(a.creatures.begin(), a.creatures.end(), [&](const Creature& c) {
        if (c.x == d.x && c.y == d.y) return true;
        return c.step_timer > 0 && d.step_timer > 0 && c.x == d.prev_x && c.y == d.prev_y &&
               c.prev_x == d.x && c.prev_y == d.y;
    });
}

void check_contacts(Arena& a, Events& ev) {
    for (Digger& d : a.diggers) {
        if (!is_alive(d)) continue;
        if (touches_creature(a, d) || a.fire(d.x, d.y) > 0) {
            kill_digger(d, ev);
        } else if (a.tile(d.x, d.y).kind == TileKind::Hatch && !a.duel && a.creatures.empty()) {
            d.state = DiggerState::Escaped;
            ev.push_back(Event::DiggerEscaped);
        }
    }
}

// ---------------------------------------------------------------------------
// Step 9: creatures in fire die and score their kind's points.

void burn_creatures(Arena& a, Events& ev) {
    std::uint32_t points = 0;
    const auto burnt =
        std::remove_if(a.creatures.begin(), a.creatures.end(), [&](const Creature& c) {
            if (a.fire(c.x, c.y) == 0) return false;
            points += traits(c.kind).points;
            return true;
        });
    if (burnt == a.creatures.end()) return;
    a.creatures.erase(burnt, a.creatures.end());
    a.score += points;
    ev.push_back(Event::CreatureKilled);
}

// ---------------------------------------------------------------------------
// Step 10: the end checks.

// The hatch opens once the creatures are gone; a level that never had any
// starts with it open, without fanfare.
void check_hatch(Arena& a, bool level_had_creatures, Events& ev) {
    if (!a.creatures.empty() || a.hatch_open) return;
    a.hatch_open = true;
    if (a.ticks != 1 || level_had_creatures) ev.push_back(Event::HatchOpened);
}

// A level is decided once nobody is left alive: won if somebody escaped
// (with ten points for every whole second left), lost otherwise.
void check_level_end(Arena& a, Events& ev) {
    if (alive_count(a) > 0) return;
    const bool escaped = std::any_of(a.diggers.begin(), a.diggers.end(), [](const Digger& d) {
        return d.state == DiggerState::Escaped;
    });
    if (escaped) {
        a.outcome = Outcome::Finished;
        a.score += a.time_left / ticks_per_second * time_bonus_points;
        ev.push_back(Event::RoundOver);
    } else {
        a.outcome = Outcome::Lost;
        ev.push_back(Event::AllLost);
    }
}

// A duel round ends when time is up, or when at most one digger stands and
// every charge and flame is gone: a survivor wins only once the fire is out.
void check_round_end(Arena& a, Events& ev) {
    const std::size_t alive = alive_count(a);
    const bool quiet = a.charges.empty() && std::all_of(a.fire_left.begin(), a.fire_left.end(),
                                                        [](std::uint8_t f) { return f == 0; });
    if (!(quiet && alive < 2) && a.time_left != 0) return;
    a.has_winner = alive == 1;
    if (a.has_winner) {
        const auto survivor = std::find_if(a.diggers.begin(), a.diggers.end(), is_alive);
        a.winner = static_cast<std::uint8_t>(survivor - a.diggers.begin());
    }
    a.outcome = Outcome::Finished;
    ev.push_back(Event::RoundOver);
}

}  // namespace

std::vector<Event> Arena::tick(std::span<const DiggerInput> inputs) {
    Events ev;
    if (outcome == Outcome::Finished) return ev;
    const bool had_creatures = !creatures.empty();
    ++ticks;
    burn_down_fire(*this);
    run_clock(*this, ev);
    close_duel_wall(*this, ev);
    move_diggers(*this, inputs, ev);
    move_creatures(*this, ev);
    burn_fuses(*this);
    explode_charges(*this, ev);
    check_contacts(*this, ev);
    burn_creatures(*this, ev);
    // A lost level keeps burning and crawling, but nothing more is decided.
    if (outcome != Outcome::Running) return ev;
    if (duel) {
        check_round_end(*this, ev);
    } else {
        check_hatch(*this, had_creatures, ev);
        check_level_end(*this, ev);
    }
    return ev;
}

}  // namespace zobra
