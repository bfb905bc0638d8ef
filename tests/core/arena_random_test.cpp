// Randomised games: many seeded input sequences on several kinds of arena,
// thousands of ticks each. After every tick the invariants must hold and
// nothing may move backwards; the same seed must give the same game.

#include <gtest/gtest.h>

#include "core/arena.h"
#include "support/arena_invariants.h"

namespace zobra {
namespace {

using testing::arena_invariants_hold;

enum class Setting { Level, Pair, Duel, Crowd };

constexpr int ticks_per_game = 3000;
constexpr std::uint64_t seeds_per_setting = 12;
constexpr std::uint32_t lost_ticks_watched = 120;

void put_border(Arena& a) {
    for (std::int32_t y = 0; y < a.height; ++y)
        for (std::int32_t x = 0; x < a.width; ++x)
            if (x == 0 || y == 0 || x == a.width - 1 || y == a.height - 1)
                a.set_tile(x, y, Tile::steel());
}

bool near_corner(const Arena& a, std::int32_t x, std::int32_t y) {
    for (const Cell c :
         {Cell{1, 1}, Cell{a.width - 2, a.height - 2}, Cell{a.width - 2, 1}, Cell{1, a.height - 2}})
        if (std::abs(x - c.x) + std::abs(y - c.y) < 3) return true;
    return false;
}

// A rough level in the spirit of the real ones: pillars, bricks hiding
// items and the hatch, some dirt and open items, creatures away from the
// diggers' corners.
Arena random_arena(Setting setting, std::uint64_t seed) {
    const bool duel = setting == Setting::Duel;
    const std::int32_t w = duel ? 19
                           : setting == Setting::Crowd
                               ? 27
                               : 13 + 2 * static_cast<std::int32_t>(seed % 4);
    const std::int32_t h = duel ? 11
                           : setting == Setting::Crowd
                               ? 15
                               : 9 + 2 * static_cast<std::int32_t>(seed % 3);
    Arena a(w, h, seed);
    Rng layout{(seed * 0x2545F4914F6CDD1DULL) | 1};
    put_border(a);
    // Every fourth level has no creatures and an open hatch near the start,
    // so that the random players get out now and then.
    const bool empty_level = !duel && seed % 4 == 0;
    bool hatch_placed = duel;
    if (empty_level) {
        a.set_tile(3, 1, Tile::hatch());
        hatch_placed = true;
    }
    for (std::int32_t y = 1; y < h - 1; ++y)
        for (std::int32_t x = 1; x < w - 1; ++x) {
            if (near_corner(a, x, y) || a.tile(x, y).kind != TileKind::Empty) continue;
            if (x % 2 == 0 && y % 2 == 0) {
                a.set_tile(x, y, Tile::steel());
                continue;
            }
            const std::uint32_t r = layout.below(100);
            if (r < 45) {
                Hidden hidden = r < 12 ? static_cast<Hidden>(r % 4) : Hidden::Nothing;
                if (!hatch_placed && r == 20) {
                    hidden = Hidden::Hatch;
                    hatch_placed = true;
                }
                a.set_tile(x, y, Tile::brick(hidden));
            } else if (r < 55) {
                a.set_tile(x, y, Tile::dirt());
            } else if (r < 58) {
                a.set_tile(x, y, Tile::pickup(static_cast<PickupKind>(r % 4)));
            } else if (!duel && !empty_level && r < (setting == Setting::Crowd ? 80u : 64u)) {
                Creature creature;
                creature.place({x, y});
                creature.heading = static_cast<Dir>(layout.below(4));
                creature.kind = static_cast<CreatureKind>(layout.below(3));
                a.creatures.push_back(creature);
            }
        }
    if (!hatch_placed) a.set_tile(w / 2 + 1, 1, Tile::hatch());

    const std::size_t diggers = duel ? 4 : setting == Setting::Level ? 1 : 2;
    const std::array<Cell, 4> corners = {Cell{1, 1}, Cell{w - 2, h - 2}, Cell{w - 2, 1},
                                         Cell{1, h - 2}};
    for (std::size_t i = 0; i < diggers; ++i) {
        Cell c = corners[i];
        if (setting == Setting::Pair && i == 1) c = {2, 1};
        Digger digger;
        digger.place(c);
        digger.max_charges = static_cast<std::uint8_t>(1 + seed % 3);
        digger.reach = static_cast<std::uint8_t>(2 + seed % 4);
        a.diggers.push_back(digger);
    }
    if (setting == Setting::Pair) {
        a.leash_x = 18;
        a.leash_y = 9;
    }
    a.duel = duel;
    a.time_left = duel ? 820 : 1500 + 400 * static_cast<std::uint32_t>(seed % 4);
    a.creature_pace = std::array<std::uint32_t, 3>{150, 100, 70}[seed % 3];
    return a;
}

// Restless players: they keep a direction for a while, sometimes stop and
// now and then light a charge.
std::vector<DiggerInput> random_inputs(Rng& rng, std::vector<DiggerInput>& held) {
    for (DiggerInput& in : held) {
        if (rng.below(6) == 0) {
            const std::uint32_t d = rng.below(5);
            in.dir = d < 4 ? std::optional(static_cast<Dir>(d)) : std::nullopt;
        }
        in.drop = rng.below(14) == 0;
    }
    std::vector<DiggerInput> out = held;
    out.resize(rng.below(9) == 0 ? rng.below(static_cast<std::uint32_t>(held.size()))
                                 : held.size());
    return out;
}

// FNV-1a over everything a tick can change, to compare two runs cheaply.
struct Digest {
    std::uint64_t h = 0xcbf29ce484222325ULL;
    void add(std::uint64_t v) {
        for (int i = 0; i < 8; ++i) {
            h ^= (v >> (8 * i)) & 0xFF;
            h *= 0x100000001b3ULL;
        }
    }
    template <typename... Values>
    void add_all(Values... values) {
        (add(static_cast<std::uint64_t>(values)), ...);
    }
    void add(const Arena& a, const std::vector<Event>& events) {
        for (Event e : events) add(static_cast<std::uint64_t>(e));
        for (Tile t : a.tiles) add(static_cast<std::uint64_t>(t.kind) << 8 | t.payload);
        for (std::uint8_t f : a.fire_left) add(f);
        for (const Charge& c : a.charges) add_all(c.x, c.y, c.fuse);
        for (const Creature& c : a.creatures)
            add_all(c.x, c.y, c.step_timer, static_cast<std::uint8_t>(c.heading));
        for (const Digger& d : a.diggers)
            add_all(d.x, d.y, d.step_timer, static_cast<std::uint8_t>(d.state), d.charges_out,
                    d.max_charges, d.reach);
        add(a.rng.state);
        add(a.score);
        add(a.time_left);
        add(static_cast<std::uint64_t>(a.outcome));
    }
};

struct GameLog {
    std::uint64_t digest = 0;
    std::size_t events = 0;
    std::size_t explosions = 0;
    std::size_t arenas = 0;
    std::size_t won = 0;  // levels won or duel rounds ended
};

// Plays ticks_per_game ticks, starting a fresh arena whenever one ends, and
// checks every tick.
GameLog play(Setting setting, std::uint64_t seed) {
    GameLog log;
    Digest digest;
    Rng inputs{(seed * 0xD1B54A32D192ED03ULL) | 1};
    Arena a = random_arena(setting, seed);
    std::vector<DiggerInput> held(a.diggers.size());
    ++log.arenas;
    std::uint32_t lost_at = 0;
    for (int n = 0; n < ticks_per_game; ++n) {
        if (a.outcome == Outcome::Lost && lost_at == 0) lost_at = a.ticks;
        if (a.outcome == Outcome::Lost && a.ticks - lost_at >= lost_ticks_watched) {
            // A lost level plays on by itself; after a while, the next one.
            a = random_arena(setting, seed * 1000 + log.arenas);
            held.assign(a.diggers.size(), {});
            ++log.arenas;
            lost_at = 0;
        }
        if (a.outcome == Outcome::Finished) {
            ++log.won;
            // A finished arena is frozen; check once, then play the next.
            const std::uint32_t ticks = a.ticks;
            EXPECT_TRUE(a.tick(random_inputs(inputs, held)).empty());
            EXPECT_EQ(a.ticks, ticks);
            a = random_arena(setting, seed * 1000 + log.arenas);
            held.assign(a.diggers.size(), {});
            ++log.arenas;
        }
        const Arena before = a;
        const std::vector<Event> events = a.tick(random_inputs(inputs, held));
        digest.add(a, events);
        log.events += events.size();
        log.explosions +=
            static_cast<std::size_t>(std::count(events.begin(), events.end(), Event::Explosion));

        const ::testing::AssertionResult ok = arena_invariants_hold(a);
        if (!ok) {
            ADD_FAILURE() << "seed " << seed << ": " << ok.message();
            break;
        }
        // Nothing runs backwards.
        EXPECT_EQ(a.ticks, before.ticks + 1);
        EXPECT_GE(a.score, before.score);
        EXPECT_LE(a.time_left, before.time_left);
        EXPECT_LE(a.creatures.size(), before.creatures.size());
        EXPECT_TRUE(a.hatch_open || !before.hatch_open);
        EXPECT_TRUE(before.outcome == Outcome::Running || a.outcome == before.outcome);
        EXPECT_TRUE(std::all_of(a.fire_left.begin(), a.fire_left.end(),
                                [](std::uint8_t f) { return f <= fire_ticks; }));
        EXPECT_TRUE(std::all_of(a.charges.begin(), a.charges.end(),
                                [](const Charge& c) { return c.fuse < fuse_ticks; }));
        for (std::size_t i = 0; i < a.diggers.size(); ++i) {
            EXPECT_TRUE(before.diggers[i].state == DiggerState::Alive ||
                        a.diggers[i].state == before.diggers[i].state);
            EXPECT_LE(a.diggers[i].max_charges, item_cap);
            EXPECT_LE(a.diggers[i].reach, item_cap);
        }
        EXPECT_FALSE(a.duel && a.outcome == Outcome::Lost);
        if (::testing::Test::HasFailure()) break;
    }
    log.digest = digest.h;
    return log;
}

class RandomGames : public ::testing::TestWithParam<Setting> {};

TEST_P(RandomGames, NoInvariantBreaksAndTheSameSeedPlaysTheSameGame) {
    std::size_t explosions = 0;
    std::size_t won = 0;
    std::vector<std::uint64_t> digests;
    for (std::uint64_t seed = 1; seed <= seeds_per_setting; ++seed) {
        const GameLog first = play(GetParam(), seed);
        const GameLog second = play(GetParam(), seed);
        ASSERT_FALSE(HasFailure()) << "seed " << seed;
        EXPECT_EQ(first.digest, second.digest) << "seed " << seed;
        EXPECT_EQ(first.events, second.events);
        EXPECT_GT(first.events, 0u);
        explosions += first.explosions;
        won += first.won;
        digests.push_back(first.digest);
    }
    // The games really differ from seed to seed, and charges went off.
    std::sort(digests.begin(), digests.end());
    EXPECT_EQ(std::unique(digests.begin(), digests.end()), digests.end());
    EXPECT_GT(explosions, seeds_per_setting * 5);
    EXPECT_GT(won, 0u);
}

std::string setting_name(const ::testing::TestParamInfo<Setting>& info) {
    static constexpr std::array<const char*, 4> names = {"Level", "Pair", "Duel", "Crowd"};
    return names[static_cast<std::size_t>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(Arenas, RandomGames,
                         ::testing::Values(Setting::Level, Setting::Pair, Setting::Duel,
                                           Setting::Crowd),
                         setting_name);

}  // namespace
}  // namespace zobra
