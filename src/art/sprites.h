#pragma once
// The sprite set: every picture of the game world (tiles, diggers, creatures,
// pickups, charges, blasts, the hatch) as a 16 × 16 sprite, built once at
// start-up from formulas and small text pictures and looked up by key.

#include <array>
#include <compare>
#include <cstdint>
#include <map>

#include "art/canvas.h"
#include "core/arena.h"

namespace zobra {

// What a sprite shows.
enum class SpriteKind : std::uint8_t {
    Digger,
    Floor,
    Dirt,
    Brick,
    Steel,
    Crystal,
    HatchShut,
    HatchOpen,
    Mite,
    Wisp,
    Blast,
    Fuse,
    Gobbler,
    Boots,
    Charge,
    Reach,
};

// The name of one sprite: its kind and the kind's data. Build keys with the
// named constructors, which leave the fields a kind does not use at 0, so
// that keys naming the same picture compare equal.
struct SpriteKey {
    SpriteKind kind = SpriteKind::Floor;
    std::uint8_t variant = 0;  // the frame, phase, pulse, stage or flicker
    Dir facing = Dir::Up;      // diggers only
    std::uint8_t player = 0;   // diggers only

    static constexpr SpriteKey digger(Dir facing, std::uint8_t player, std::uint8_t frame) {
        return {SpriteKind::Digger, frame, facing, player};
    }
    static constexpr SpriteKey floor() { return {SpriteKind::Floor}; }
    static constexpr SpriteKey dirt() { return {SpriteKind::Dirt}; }
    static constexpr SpriteKey brick() { return {SpriteKind::Brick}; }
    static constexpr SpriteKey steel() { return {SpriteKind::Steel}; }
    static constexpr SpriteKey crystal(std::uint8_t phase) { return {SpriteKind::Crystal, phase}; }
    static constexpr SpriteKey hatch_shut() { return {SpriteKind::HatchShut}; }
    static constexpr SpriteKey hatch_open(std::uint8_t pulse) {
        return {SpriteKind::HatchOpen, pulse};
    }
    static constexpr SpriteKey mite(std::uint8_t frame) { return {SpriteKind::Mite, frame}; }
    static constexpr SpriteKey wisp(std::uint8_t frame) { return {SpriteKind::Wisp, frame}; }
    static constexpr SpriteKey blast(std::uint8_t stage) { return {SpriteKind::Blast, stage}; }
    static constexpr SpriteKey fuse(std::uint8_t flicker) { return {SpriteKind::Fuse, flicker}; }
    static constexpr SpriteKey gobbler(std::uint8_t frame) { return {SpriteKind::Gobbler, frame}; }
    static constexpr SpriteKey boots() { return {SpriteKind::Boots}; }
    static constexpr SpriteKey charge() { return {SpriteKind::Charge}; }
    static constexpr SpriteKey reach(std::uint8_t flicker) { return {SpriteKind::Reach, flicker}; }

    friend constexpr auto operator<=>(const SpriteKey&, const SpriteKey&) = default;
};

// How each creature kind looks: its sprite, and whether its frames follow
// the clock (four of them, `creature_sprite` gets the clock's count) or its
// steps (two). Indexed by `CreatureKind`, beside the kinds' rules in
// core/arena.h.
struct CreatureLook {
    SpriteKind sprite;
    bool frames_by_clock;
};
inline constexpr std::array<CreatureLook, creature_kind_count> creature_looks{{
    {SpriteKind::Mite, false},
    {SpriteKind::Wisp, true},
    {SpriteKind::Gobbler, false},
}};

// The sprite of a creature of this kind: `step_frame` is its walking frame
// (0 or 1), `clock_frame` the frame of the clock-driven ones (0 … 3).
constexpr SpriteKey creature_sprite(CreatureKind kind, std::uint8_t step_frame,
                                    std::uint8_t clock_frame) {
    const CreatureLook& look = creature_looks[static_cast<std::size_t>(kind)];
    return {look.sprite, look.frames_by_clock ? clock_frame : step_frame};
}

// The 65 sprites the game draws, read-only once built.
struct SpriteSet {
    std::map<SpriteKey, Sprite> sprites;
};

// A new sprite for any key; the same key always gives the same pixels.
Sprite build_sprite(const SpriteKey& key);

// Every digger (4 facings × 4 players × 2 frames), the tiles, the crystal's
// six phases, the hatch, the creatures' frames, the blast's four stages and
// the pickups: 65 sprites.
SpriteSet build_sprite_set();

// The stored sprite; a key outside the set is an internal error.
const Sprite& lookup_sprite(const SpriteSet& set, const SpriteKey& key);

}  // namespace zobra
