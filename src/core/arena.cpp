// The arena's queries, its generator, blast shapes and drawing offsets. The
// rules of a tick live in arena_tick.cpp.

#include "core/arena.h"

#include <algorithm>
#include <string>

#include "core/panic.h"

namespace zobra {

namespace {

// Large enough for any arena the game builds, small enough that
// width × height can never overflow.
constexpr std::int32_t max_side_cells = 4096;

}  // namespace

std::uint64_t Rng::next() {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
}

std::uint32_t Rng::below(std::uint32_t n) {
    return static_cast<std::uint32_t>((next() >> 33) % std::max<std::uint32_t>(n, 1));
}

Arena::Arena(std::int32_t w, std::int32_t h, std::uint64_t seed)
    : rng{arena_rng_start(seed)}, width(w), height(h) {
    if (w < 1 || h < 1 || w > max_side_cells || h > max_side_cells)
        panic("arena size out of range: " + std::to_string(w) + " x " + std::to_string(h));
    const auto cells = static_cast<std::size_t>(w) * static_cast<std::size_t>(h);
    tiles.assign(cells, Tile::empty());
    fire_left.assign(cells, 0);
}

Tile Arena::tile(std::int32_t x, std::int32_t y) const {
    return inside(x, y) ? tiles[index(x, y)] : Tile::steel();
}

void Arena::set_tile(std::int32_t x, std::int32_t y, Tile t) {
    if (inside(x, y)) tiles[index(x, y)] = t;
}

std::uint8_t Arena::fire(std::int32_t x, std::int32_t y) const {
    return inside(x, y) ? fire_left[index(x, y)] : 0;
}

const Charge* Arena::charge_at(std::int32_t x, std::int32_t y) const {
    for (const Charge& c : charges)
        if (c.x == x && c.y == y) return &c;
    return nullptr;
}

bool Arena::can_enter(std::int32_t x, std::int32_t y) const {
    const TileKind kind = tile(x, y).kind;
    if (kind == TileKind::Steel || kind == TileKind::Brick) return false;
    return charge_at(x, y) == nullptr;
}

std::vector<Cell> blast_cells(const Arena& arena, std::int32_t x, std::int32_t y,
                              std::uint8_t reach) {
    std::vector<Cell> cells;
    cells.reserve(1 + 4 * static_cast<std::size_t>(reach));
    cells.push_back({x, y});
    for (Dir d : all_dirs) {
        for (std::int32_t dist = 1; dist <= reach; ++dist) {
            const Cell c{x + dist * dir_dx(d), y + dist * dir_dy(d)};
            const TileKind kind = arena.tile(c.x, c.y).kind;
            if (kind == TileKind::Steel) break;
            cells.push_back(c);
            if (kind == TileKind::Brick || kind == TileKind::Dirt) break;
        }
    }
    return cells;
}

std::uint8_t creature_step_ticks(CreatureKind kind, std::uint32_t pace) {
    // In 64 bits so that no pace can overflow the product.
    const std::uint64_t base = traits(kind).step_ticks;
    const std::uint64_t ticks = base * pace / 100;
    return static_cast<std::uint8_t>(
        std::clamp<std::uint64_t>(ticks, min_creature_step_ticks, max_creature_step_ticks));
}

std::optional<Cell> wall_block(std::int32_t width, std::int32_t height, std::uint32_t k) {
    const std::int32_t inner = width >= 4 ? width - 2 : 1;
    const std::int32_t p = static_cast<std::int32_t>(k) / inner;
    const std::int32_t o = static_cast<std::int32_t>(k) % inner;
    const std::int32_t q = p / 2;
    const std::int32_t bottom = height - q - 2;
    const bool from_bottom = p % 2 == 1;
    if (q >= bottom) return std::nullopt;                     // nothing left to fill
    if (q + 1 == bottom && from_bottom) return std::nullopt;  // the middle row fills only once
    return from_bottom ? Cell{width - 2 - o, bottom} : Cell{o + 1, q + 1};
}

Offset render_offset(const Mover& m, float f) {
    if (m.step_timer == 0) return {};
    // A step length of 0 never comes from the rules; draw it as 1 rather
    // than divide by zero.
    const float len = static_cast<float>(std::max<std::uint8_t>(m.step_len, 1));
    const float t = std::clamp((static_cast<float>(m.step_timer) - f) / len, 0.0f, 1.0f);
    return {static_cast<float>(m.prev_x - m.x) * t, static_cast<float>(m.prev_y - m.y) * t};
}

}  // namespace zobra
