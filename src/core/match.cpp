#include "core/match.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <type_traits>

#include "core/bot.h"

namespace zobra {

namespace {

// A duel round's arena with the computer in every seat no person steers.
Arena round_arena(const MatchSetup& setup, std::uint32_t round, std::uint8_t computer_seats) {
    Arena arena = duel_arena(setup.place, 0, round);
    const std::uint8_t people = people_seats(setup) & ~computer_seats;
    for (std::size_t i = 0; i < arena.diggers.size(); ++i)
        arena.diggers[i].bot = ((people >> i) & 1u) == 0;
    return arena;
}

Arena first_arena(const MatchSetup& setup) {
    const std::uint32_t humans = mode_humans(setup.mode);
    if (is_duel(setup.mode)) return round_arena(setup, 0, 0);
    Arena arena =
        level_arena(level_catalogue()[setup.place % level_count], humans, setup.difficulty);
    for (std::size_t i = 0; i < setup.carry.size() && i < arena.diggers.size(); ++i) {
        if (!setup.carry[i]) continue;
        const Carry& carried = *setup.carry[i];
        Digger& digger = arena.diggers[i];
        digger.max_charges = std::max(digger.max_charges, carried.max_charges);
        digger.reach = std::max(digger.reach, carried.reach);
        digger.boots = digger.boots || carried.boots;
    }
    return arena;
}

}  // namespace

std::uint8_t pack_seat(const DiggerInput& input) {
    const std::uint32_t dir = input.dir ? 1u + static_cast<std::uint32_t>(*input.dir) : 0u;
    return static_cast<std::uint8_t>(dir | (input.drop ? 8u : 0u));
}

std::optional<DiggerInput> unpack_seat(std::uint8_t nibble) {
    const std::uint32_t dir = nibble & 7u;
    if (nibble > 15 || dir > 4) return std::nullopt;
    DiggerInput input;
    if (dir != 0) input.dir = static_cast<Dir>(dir - 1);
    input.drop = (nibble & 8u) != 0;
    return input;
}

std::uint8_t people_seats(const MatchSetup& setup) {
    if (setup.seats != 0) return setup.seats;
    return static_cast<std::uint8_t>((1u << mode_humans(setup.mode)) - 1u);
}

Match::Match(const MatchSetup& setup) : setup(setup), arena(first_arena(setup)) {}

std::uint32_t Match::humans() const { return static_cast<std::uint32_t>(std::popcount(seats())); }

bool Match::duel_decided() const {
    return std::any_of(duel_wins.begin(), duel_wins.end(),
                       [](std::uint32_t w) { return w >= duel_wins_to_end; });
}

bool Match::humans_won() const {
    if (!duel()) return arena.outcome == Outcome::Finished;
    for (std::size_t i = 0; i < duel_wins.size(); ++i)
        if (((seats() >> i) & 1u) != 0 && duel_wins[i] >= duel_wins_to_end) return true;
    return false;
}

std::vector<DiggerInput> digger_inputs(const Arena& arena, const TickInput& input) {
    std::vector<DiggerInput> inputs(arena.diggers.size());
    for (std::size_t i = 0; i < arena.diggers.size(); ++i) {
        if (arena.diggers[i].bot)
            inputs[i] = bot_decide(arena, i);
        else if (i < input.diggers.size())
            inputs[i] = input.diggers[i];
    }
    return inputs;
}

// On an end screen a confirm past the guard goes on: to the next duel
// round, or to the match's end. A lost level burns and crawls on until
// then; a finished arena stands still.
TickReport Match::advance(const TickInput& input) {
    TickReport report;
    if (phase == MatchPhase::Over) return report;
    ++ticks;
    const std::uint8_t taken = input.to_computer & seats() & ~computer_seats;
    if (taken != 0) {
        computer_seats |= taken;
        for (std::size_t i = 0; i < arena.diggers.size(); ++i)
            if (((taken >> i) & 1u) != 0) arena.diggers[i].bot = true;
    }
    if (phase != MatchPhase::Running) {
        ++end_ticks;
        if (input.confirm && end_ticks >= end_guard_ticks) {
            if (phase == MatchPhase::RoundOver && !duel_decided()) {
                ++duel_round;
                arena = round_arena(setup, duel_round, computer_seats);
                phase = MatchPhase::Running;
                end_ticks = 0;
                time_up = false;
            } else {
                phase = MatchPhase::Over;
            }
            return report;
        }
        if (arena.outcome == Outcome::Finished) return report;
    }

    report.events = arena.tick(digger_inputs(arena, input));
    for (const Event event : report.events) {
        if (event == Event::TimeUp) time_up = true;
        if (event != Event::RoundOver && event != Event::AllLost) continue;
        report.decided = true;
        end_ticks = 0;
        if (event == Event::AllLost) {
            phase = MatchPhase::Lost;
        } else if (arena.duel) {
            // A round with one survivor counts for it; a draw for nobody.
            if (arena.has_winner && arena.winner < duel_wins.size()) ++duel_wins[arena.winner];
            phase = MatchPhase::RoundOver;
        } else {
            // The diggers that escaped take their items along.
            for (std::size_t i = 0; i < carry.size(); ++i) {
                carry[i].reset();
                if (i < arena.diggers.size() && arena.diggers[i].state == DiggerState::Escaped) {
                    const Digger& d = arena.diggers[i];
                    carry[i] = Carry{d.boots, d.max_charges, d.reach};
                }
            }
            phase = MatchPhase::LevelWon;
        }
    }
    return report;
}

// ---------------------------------------------------------------------------
// The state hash: every field fed as 64-bit words in a fixed order, mixed
// by multiplication, finished by an avalanche.

namespace {

constexpr std::uint64_t mix_factor = 0x9E3779B97F4A7C15ULL;

std::uint64_t mix(std::uint64_t lane, std::uint64_t word) {
    lane = (lane ^ word) * mix_factor;
    return lane ^ (lane >> 29);
}

class Digest {
  public:
    explicit Digest(std::uint64_t seed) : h_(seed) {}
    void add(std::uint64_t word) { h_ = mix(h_, word); }
    void add_signed(std::int32_t value) { add(static_cast<std::uint32_t>(value)); }
    // Bytes in bulk (the grid), eight at a time as little-endian words, in
    // four independent lanes, so that the multiplications overlap.
    void add_bytes(const std::uint8_t* bytes, std::size_t count) {
        std::array<std::uint64_t, 4> lanes = {h_, h_ ^ 1, h_ ^ 2, h_ ^ 3};
        std::size_t i = 0;
        for (; i + 32 <= count; i += 32)
            for (std::size_t k = 0; k < 4; ++k)
                lanes[k] = mix(lanes[k], word_at(bytes + i + 8 * k));
        std::uint64_t tail = 0;
        for (std::size_t shift = 0; i < count; ++i, shift += 8) {
            if (shift == 64) {
                lanes[0] = mix(lanes[0], tail);
                tail = 0;
                shift = 0;
            }
            tail |= std::uint64_t{bytes[i]} << shift;
        }
        for (const std::uint64_t lane : lanes) add(lane);
        add(tail);
        add(count);
    }
    std::uint64_t finish() const {
        std::uint64_t h = h_;
        h ^= h >> 33;
        h *= 0xFF51AFD7ED558CCDULL;
        h ^= h >> 33;
        h *= 0xC4CEB9FE1A85EC53ULL;
        h ^= h >> 33;
        return h;
    }

  private:
    // Every machine the game runs on (x86-64, arm64, WebAssembly) stores
    // numbers little-endian, so a word read from memory is the same there.
    static std::uint64_t word_at(const std::uint8_t* bytes) {
        static_assert(std::endian::native == std::endian::little);
        std::uint64_t word = 0;
        std::memcpy(&word, bytes, sizeof word);
        return word;
    }
    std::uint64_t h_;
};

std::uint64_t pack_mover(const Mover& m) {
    return std::uint64_t{static_cast<std::uint16_t>(m.x)} |
           std::uint64_t{static_cast<std::uint16_t>(m.y)} << 16 |
           std::uint64_t{static_cast<std::uint16_t>(m.prev_x)} << 32 |
           std::uint64_t{static_cast<std::uint16_t>(m.prev_y)} << 48;
}

void add_mover(Digest& d, const Mover& m) {
    // Sides are at most 4096, so 16 bits hold every position.
    d.add(pack_mover(m));
    d.add(std::uint64_t{m.step_timer} | std::uint64_t{m.step_len} << 8);
}

void add_arena(Digest& d, const Arena& a) {
    d.add(static_cast<std::uint64_t>(static_cast<std::uint32_t>(a.width)) << 32 |
          static_cast<std::uint32_t>(a.height));
    // The grid as its bytes: a tile is its kind and payload byte, nothing
    // more, and a fire counter is one byte.
    static_assert(sizeof(Tile) == 2 && std::is_trivially_copyable_v<Tile>);
    d.add_bytes(reinterpret_cast<const std::uint8_t*>(a.tiles.data()), a.tiles.size() * 2);
    d.add_bytes(a.fire_left.data(), a.fire_left.size());

    d.add(a.charges.size());
    for (const Charge& c : a.charges) {
        d.add(std::uint64_t{static_cast<std::uint32_t>(c.x)} << 32 |
              static_cast<std::uint32_t>(c.y));
        d.add(std::uint64_t{c.fuse} | std::uint64_t{c.reach} << 16 | std::uint64_t{c.owner} << 24);
    }
    d.add(a.creatures.size());
    for (const Creature& c : a.creatures) {
        add_mover(d, c);
        d.add(std::uint64_t{static_cast<std::uint8_t>(c.heading)} |
              std::uint64_t{static_cast<std::uint8_t>(c.kind)} << 8);
    }
    d.add(a.diggers.size());
    for (const Digger& g : a.diggers) {
        add_mover(d, g);
        d.add(std::uint64_t{g.max_charges} | std::uint64_t{g.charges_out} << 8 |
              std::uint64_t{g.reach} << 16 |
              std::uint64_t{static_cast<std::uint8_t>(g.facing)} << 24 |
              std::uint64_t{static_cast<std::uint8_t>(g.state)} << 32 |
              std::uint64_t{g.boots} << 40 | std::uint64_t{g.bot} << 48);
    }
    d.add_signed(a.leash_x);
    d.add_signed(a.leash_y);
    d.add(a.rng.state);
    d.add(std::uint64_t{a.ticks} << 32 | a.time_left);
    d.add(std::uint64_t{a.score} << 32 | a.creature_pace);
    d.add(std::uint64_t{a.has_winner} | std::uint64_t{a.winner} << 8 | std::uint64_t{a.duel} << 16 |
          std::uint64_t{a.hatch_open} << 24 |
          std::uint64_t{static_cast<std::uint8_t>(a.outcome)} << 32);
}

std::uint64_t pack_carry(const std::optional<Carry>& c) {
    if (!c) return 0;
    return 1 | std::uint64_t{c->boots} << 8 | std::uint64_t{c->max_charges} << 16 |
           std::uint64_t{c->reach} << 24;
}

}  // namespace

std::uint64_t state_hash(const Arena& arena) {
    Digest d(0x5A0B8A5EED000001ULL);
    add_arena(d, arena);
    return d.finish();
}

std::uint64_t state_hash(const Match& m) {
    Digest d(0x5A0B8A5EED000002ULL);
    d.add(std::uint64_t{static_cast<std::uint8_t>(m.setup.mode)} |
          std::uint64_t{static_cast<std::uint8_t>(m.setup.difficulty)} << 8 |
          std::uint64_t{m.setup.place} << 16);
    for (const std::optional<Carry>& c : m.setup.carry) d.add(pack_carry(c));
    add_arena(d, m.arena);
    for (const std::uint32_t w : m.duel_wins) d.add(w);
    d.add(m.duel_round);
    for (const std::optional<Carry>& c : m.carry) d.add(pack_carry(c));
    d.add(std::uint64_t{static_cast<std::uint8_t>(m.phase)} | std::uint64_t{m.time_up} << 8);
    d.add(std::uint64_t{m.ticks} << 32 | m.end_ticks);
    // Only a duel between machines has seats of its own (and so keeps the
    // hashes of every match on one machine as they were).
    if (m.setup.seats != 0)
        d.add(std::uint64_t{m.setup.seats} | std::uint64_t{m.computer_seats} << 8);
    return d.finish();
}

// ---------------------------------------------------------------------------
// The rules' digest: the constants, the creatures' traits, every level of the
// catalogue and the first rounds of every duel place, and the arenas they
// grow into. A change to a rule that these do not show (the tick's own
// code) moves `rules_revision`.

namespace {

constexpr std::uint64_t rules_revision = 1;  // raise it with any change to the rules' code

void add_params(Digest& d, const LevelParams& p) {
    d.add(p.seed);
    d.add_signed(p.width);
    d.add_signed(p.height);
    d.add(std::uint64_t{p.brick_pct} << 32 | p.dirt_pct);
    for (const std::uint32_t n : p.creatures) d.add(n);
    d.add(std::uint64_t{p.charge_items} << 32 | p.reach_items);
    d.add(std::uint64_t{p.boots_items} << 32 | p.crystal_items);
    d.add(std::uint64_t{static_cast<std::uint8_t>(p.layout)} | std::uint64_t{p.hatch} << 8);
}

std::uint64_t compute_rules_hash() {
    Digest d(0x5A0B8A5EED000003ULL);
    d.add(rules_revision);
    for (const std::uint64_t c :
         {std::uint64_t{ticks_per_second}, std::uint64_t{fuse_ticks}, std::uint64_t{fire_ticks},
          std::uint64_t{walk_step_ticks}, std::uint64_t{dig_factor}, std::uint64_t{item_cap},
          std::uint64_t{brick_points}, std::uint64_t{crystal_points},
          std::uint64_t{time_bonus_points}, std::uint64_t{wall_start_ticks},
          std::uint64_t{wall_interval_ticks}, std::uint64_t{min_creature_step_ticks},
          std::uint64_t{max_creature_step_ticks}, std::uint64_t{duel_wins_to_end},
          std::uint64_t{end_guard_ticks}})
        d.add(c);
    for (const CreatureTraits& t : creature_traits) {
        d.add(std::uint64_t{t.step_ticks} << 32 | t.points);
        d.add(std::uint64_t{t.shies_charges} | std::uint64_t{t.shies_fire} << 8 |
              std::uint64_t{t.eats} << 16 | std::uint64_t{t.hunts} << 24 |
              std::uint64_t{static_cast<std::uint8_t>(t.step_sound)} << 32);
    }
    for (const Level& level : level_catalogue()) {
        for (const char c : level.name) d.add(static_cast<std::uint8_t>(c));
        add_params(d, level.params);
        d.add(std::uint64_t{level.time} | std::uint64_t{level.start_charges} << 32 |
              std::uint64_t{level.start_reach} << 40);
        for (const Difficulty difficulty : {Difficulty::Easy, Difficulty::Normal, Difficulty::Hard})
            for (std::uint32_t humans = 1; humans <= max_humans; ++humans)
                add_arena(d, level_arena(level, humans, difficulty));
    }
    for (std::uint64_t place = 0; place < duel_place_count; ++place) {
        for (std::uint32_t round = 0; round < 4; ++round) {
            add_params(d, duel_params(place, round));
            add_arena(d, duel_arena(place, 1, round));
        }
    }
    return d.finish();
}

}  // namespace

std::uint64_t rules_hash() {
    static const std::uint64_t hash = compute_rules_hash();
    return hash;
}

}  // namespace zobra
