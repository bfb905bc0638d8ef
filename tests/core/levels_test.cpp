#include "core/levels.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/arena_invariants.h"
#include "support/arena_picture.h"
#include "support/panic_error.h"

namespace zobra {
namespace {

// ---- Reading arenas back ------------------------------------------------------

// Built levels are compared as pictures in the rule tests' legend, so a brick
// shows what it hides and the diggers and creatures stand where they start.
using testing::arena_picture;

std::int32_t distance(Cell a, Cell b) { return std::abs(a.x - b.x) + std::abs(a.y - b.y); }

std::vector<Cell> corners_of(const Arena& arena) {
    const std::int32_t w = arena.width;
    const std::int32_t h = arena.height;
    return {{1, 1}, {w - 2, h - 2}, {w - 2, 1}, {1, h - 2}};
}

// The cells a digger at `from` could reach once every brick and all dirt
// were blasted away: everything but steel is passable then.
std::vector<bool> reachable_without_bricks(const Arena& arena, Cell from) {
    std::vector<bool> seen(arena.tiles.size(), false);
    std::vector<Cell> todo{from};
    seen[arena.index(from.x, from.y)] = true;
    while (!todo.empty()) {
        const Cell c = todo.back();
        todo.pop_back();
        for (const Dir d : all_dirs) {
            const Cell n{c.x + dir_dx(d), c.y + dir_dy(d)};
            if (!arena.inside(n.x, n.y) || seen[arena.index(n.x, n.y)]) continue;
            if (arena.tile(n.x, n.y).kind == TileKind::Steel) continue;
            seen[arena.index(n.x, n.y)] = true;
            todo.push_back(n);
        }
    }
    return seen;
}

std::size_t count_tiles(const Arena& arena, Tile wanted) {
    return static_cast<std::size_t>(std::count(arena.tiles.begin(), arena.tiles.end(), wanted));
}

std::size_t count_kind(const Arena& arena, TileKind kind) {
    return static_cast<std::size_t>(std::count_if(arena.tiles.begin(), arena.tiles.end(),
                                                  [&](Tile t) { return t.kind == kind; }));
}

const Level& level(std::size_t number) { return level_catalogue()[number - 1]; }

LevelParams plain_params(std::int32_t width, std::int32_t height, Layout layout) {
    LevelParams p;
    p.seed = 99;
    p.width = width;
    p.height = height;
    p.layout = layout;
    return p;
}

// ---- The catalogue ------------------------------------------------------------

struct TellingRow {
    std::size_t number;
    std::string_view name;
    std::int32_t width, height;
    std::uint32_t brick_pct, dirt_pct;
    std::uint32_t mites, wisps, gobblers;
    std::uint32_t charge_items, reach_items, boots_items, crystal_items;
    Layout layout;
    std::uint32_t time;
    std::uint8_t start_charges, start_reach;
};

TEST(LevelCatalogue, TheTellingRowsHaveTheirSizesFillingsCreaturesItemsLayoutsAndClocks) {
    const TellingRow rows[] = {
        {1, "ERSTE ZOBRA", 13, 9, 40, 0, 2, 0, 0, 2, 3, 0, 3, Layout::Grid, 4160, 1, 2},
        {4, "IRRLICHT", 13, 9, 41, 0, 2, 1, 0, 2, 3, 0, 3, Layout::Cross, 4160, 1, 2},
        {5, "WEICHE ERDE", 13, 9, 42, 12, 3, 1, 0, 2, 3, 0, 4, Layout::ColumnBars, 4160, 1, 2},
        {6, "GITTERWERK", 15, 9, 42, 0, 3, 1, 0, 2, 3, 1, 4, Layout::Scatter, 4340, 1, 2},
        {8, "NIMMERSATT", 15, 9, 43, 0, 3, 1, 1, 3, 4, 0, 4, Layout::RowBars, 4340, 1, 2},
        {31, "DREI HUNGRIGE", 25, 15, 55, 10, 8, 5, 3, 6, 8, 0, 10, Layout::Grid, 6740, 4, 4},
        {40, "ENDSTATION", 27, 15, 58, 0, 8, 5, 3, 6, 8, 0, 12, Layout::Cross, 7040, 4, 4},
    };
    for (const TellingRow& row : rows) {
        SCOPED_TRACE("level " + std::to_string(row.number));
        const Level& l = level(row.number);
        EXPECT_EQ(l.name, row.name);
        EXPECT_EQ(l.params.seed, 24301 + 7919 * (row.number - 1));
        EXPECT_EQ(l.params.width, row.width);
        EXPECT_EQ(l.params.height, row.height);
        EXPECT_EQ(l.params.brick_pct, row.brick_pct);
        EXPECT_EQ(l.params.dirt_pct, row.dirt_pct);
        EXPECT_EQ(l.params.creatures,
                  (std::array<std::uint32_t, 3>{row.mites, row.wisps, row.gobblers}));
        EXPECT_EQ(l.params.charge_items, row.charge_items);
        EXPECT_EQ(l.params.reach_items, row.reach_items);
        EXPECT_EQ(l.params.boots_items, row.boots_items);
        EXPECT_EQ(l.params.crystal_items, row.crystal_items);
        EXPECT_EQ(l.params.layout, row.layout);
        EXPECT_TRUE(l.params.hatch);
        EXPECT_EQ(l.time, row.time);
        EXPECT_EQ(l.start_charges, row.start_charges);
        EXPECT_EQ(l.start_reach, row.start_reach);
    }
}

TEST(LevelCatalogue, IsBuiltOnceWithFortyDifferentNames) {
    const auto& first = level_catalogue();
    EXPECT_EQ(&first, &level_catalogue());
    std::vector<std::string_view> names;
    for (const Level& l : first) names.push_back(l.name);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(std::unique(names.begin(), names.end()), names.end());
    EXPECT_EQ(level(2).name, "ZWEI MILBEN");
    EXPECT_EQ(level(39).name, "KEIN ZURUECK");
}

TEST(LevelCatalogue, LevelOneRunsLongerOnEasyAndShorterOnHardWithCreaturesPacedToMatch) {
    const Arena easy = level_arena(level(1), 1, Difficulty::Easy);
    const Arena normal = level_arena(level(1), 1, Difficulty::Normal);
    const Arena hard = level_arena(level(1), 1, Difficulty::Hard);
    EXPECT_EQ(normal.time_left, 4160u);
    EXPECT_EQ(easy.time_left, 6240u);
    EXPECT_EQ(hard.time_left, 3120u);
    EXPECT_EQ(easy.creature_pace, 150u);
    EXPECT_EQ(normal.creature_pace, 100u);
    EXPECT_EQ(hard.creature_pace, 70u);
    EXPECT_EQ(easy.tiles, hard.tiles);
}

// ---- Golden builds --------------------------------------------------------------

TEST(LevelBuilder, LevelOneIsAlwaysThisPicture) {
    const Arena arena = level_arena(level(1), 1, Difficulty::Normal);
    // clang-format off
    const std::vector<std::string> expected{
        "#############",
        "#1...X.X.r..#",
        "#.#X#.#X#h#.#",
        "#r..m..X.y..#",
        "#X#X#X#X#.#.#",
        "#yXXX.mX.y..#",
        "#.#X#X#c#X#.#",
        "#..XX.crXX..#",
        "#############",
    };
    // clang-format on
    EXPECT_EQ(arena_picture(arena), expected);
    const std::vector<Creature> creatures{
        {{6, 5, 6, 5, 0, 1}, Dir::Right, CreatureKind::Mite},
        {{4, 3, 4, 3, 0, 1}, Dir::Right, CreatureKind::Mite},
    };
    EXPECT_EQ(arena.creatures, creatures);
    EXPECT_EQ(arena.rng.state, 0xD80DCD7831849571ULL);
}

TEST(LevelBuilder, TheScatteredPillarsOfLevelSixFollowTheirHash) {
    const Arena arena = level_arena(level(6), 1, Difficulty::Normal);
    // clang-format off
    const std::vector<std::string> expected{
        "###############",
        "#1.y#X###.....#",
        "#..XXXm.Xh##..#",
        "##.ybX..y..Xc.#",
        "#Xy.#XX.mrX..##",
        "#..rX..#XcX#..#",
        "#..##wX.rX.#..#",
        "#..#...m.X....#",
        "###############",
    };
    // clang-format on
    EXPECT_EQ(arena_picture(arena), expected);
    ASSERT_EQ(arena.creatures.size(), 4u);
    EXPECT_EQ(arena.creatures[3], (Creature{{5, 6, 5, 6, 0, 1}, Dir::Up, CreatureKind::Wisp}));
}

TEST(LevelBuilder, BuildingTheSameLevelTwiceGivesTheSameArena) {
    for (const std::size_t number : {7u, 23u, 40u}) {
        const Arena a = level_arena(level(number), 2, Difficulty::Hard);
        const Arena b = level_arena(level(number), 2, Difficulty::Hard);
        EXPECT_EQ(a.tiles, b.tiles);
        EXPECT_EQ(a.creatures, b.creatures);
        EXPECT_EQ(a.diggers, b.diggers);
        EXPECT_EQ(a.rng, b.rng);
        // The builder draws from its own generator and leaves the arena's as seeded.
        EXPECT_EQ(a.rng.state, arena_rng_start(level(number).params.seed));
    }
}

// ---- Corners, pockets and creatures ---------------------------------------------

TEST(LevelBuilder, TheCellsAroundTheTopLeftStartAreAlwaysOpenFloor) {
    for (const Level& l : level_catalogue()) {
        const Arena arena = build_arena(l.params, 1);
        for (const Cell c : {Cell{1, 1}, Cell{2, 1}, Cell{1, 2}})
            EXPECT_EQ(arena.tile(c.x, c.y), Tile::empty()) << l.name << " at " << c.x << "," << c.y;
    }
}

TEST(LevelBuilder, ACornerTheScatteredPillarsWallOffBecomesSteelWhenNobodyStartsThere) {
    // On level 18 the pillars close the bottom-left corner in; its three cells
    // got no pillar of their own, yet end up steel.
    const Arena arena = level_arena(level(18), 2, Difficulty::Normal);
    EXPECT_EQ(level(18).params.layout, Layout::Scatter);
    for (const Cell c : {Cell{1, 9}, Cell{2, 9}, Cell{1, 8}})
        EXPECT_EQ(arena.tile(c.x, c.y), Tile::steel()) << c.x << "," << c.y;
    for (const Cell c :
         {Cell{17, 9}, Cell{16, 9}, Cell{17, 8}, Cell{17, 1}, Cell{16, 1}, Cell{17, 2}})
        EXPECT_EQ(arena.tile(c.x, c.y), Tile::empty()) << c.x << "," << c.y;
}

TEST(LevelBuilder, ADuelCornerThePillarsWallOffIsBrokenOpenSoThatNoDiggerStartsInSteel) {
    // On this round the scattered pillars shut the top-left corner into a
    // pocket of a few cells; walling up the rest would bury three diggers.
    const Arena arena = duel_arena(4, 1, 3);
    // clang-format off
    const std::vector<std::string> expected{
        "###################",
        "#1.XX###r#..X##X.3#",
        "#.X####XX.XX.#.#X.#",
        "##bXX#.Xr#XccX.#X.#",
        "#X#X.XXXXXXXX...#.#",
        "#r..Xbr.X..###XXXX#",
        "#ccXX.X..XXcX#XXXc#",
        "#.XXXr.X#.XX#rX#rX#",
        "#.X.c#Xc.XX###.#X.#",
        "#4.br#.#XX###X.#.2#",
        "###################",
    };
    // clang-format on
    EXPECT_EQ(arena_picture(arena), expected);
}

TEST(LevelBuilder, NoCreatureStartsWithinFourStepsOfACorner) {
    for (const Level& l : level_catalogue()) {
        const Arena arena = build_arena(l.params, 1);
        for (const Creature& c : arena.creatures)
            for (const Cell corner : corners_of(arena))
                EXPECT_GE(distance({c.x, c.y}, corner), 5) << l.name;
    }
}

TEST(LevelBuilder, CrossAndGridPlaceTheSameSteelOnTheDuelSize) {
    LevelParams grid = duel_params(0, 0);
    LevelParams cross = grid;
    cross.layout = Layout::Cross;
    EXPECT_EQ(build_arena(grid, 4).tiles, build_arena(cross, 4).tiles);
}

TEST(LevelBuilder, CrossLeavesTheMiddleColumnAndRowFreeOnThirteenByNine) {
    const Arena grid = build_arena(plain_params(13, 9, Layout::Grid), 1);
    const Arena cross = build_arena(plain_params(13, 9, Layout::Cross), 1);
    EXPECT_EQ(grid.tile(6, 2), Tile::steel());
    EXPECT_EQ(grid.tile(4, 4), Tile::steel());
    for (std::int32_t y = 1; y < 8; ++y) EXPECT_NE(cross.tile(6, y), Tile::steel()) << y;
    for (std::int32_t x = 1; x < 12; ++x) EXPECT_NE(cross.tile(x, 4), Tile::steel()) << x;
    EXPECT_EQ(cross.tile(4, 2), Tile::steel());
    EXPECT_EQ(count_kind(grid, TileKind::Steel) - count_kind(cross, TileKind::Steel), 7u);
}

TEST(LevelBuilder, TheOtherLayoutsDrawTheirPatternsAwayFromTheCorners) {
    // clang-format off
    const std::vector<std::pair<Layout, std::vector<std::string>>> layouts{
        // Bars on the even rows, their gaps staggered from bar to bar.
        {Layout::RowBars, {"#############",
                           "#1..........#",
                           "#.#.###.###.#",
                           "#...........#",
                           "#.###.###.###",
                           "#...........#",
                           "#.#.###.###.#",
                           "#...........#",
                           "#############"}},
        {Layout::ColumnBars, {"#############",
                              "#1....#.....#",
                              "#.#.#.#.#.#.#",
                              "#...#...#...#",
                              "#.#.#.#.#.#.#",
                              "#.#...#...#.#",
                              "#.#.#.#.#.#.#",
                              "#...#...#...#",
                              "#############"}},
        // Two-by-two blocks from (2, 2), cut where they touch a corner.
        {Layout::Blocks, {"#############",
                          "#1..........#",
                          "#.##.##.##..#",
                          "#.##.##.##.##",
                          "#...........#",
                          "#.##.##.##.##",
                          "#.##.##.##..#",
                          "#...........#",
                          "#############"}},
    };
    // clang-format on
    for (const auto& [layout, expected] : layouts) {
        SCOPED_TRACE(static_cast<int>(layout));
        EXPECT_EQ(arena_picture(build_arena(plain_params(13, 9, layout), 1)), expected);
    }
}

// ---- Bricks, items and the hatch -----------------------------------------------

TEST(LevelBuilder, WithFewerBricksThanItemsEveryBrickHidesSomething) {
    LevelParams p = plain_params(15, 11, Layout::Grid);
    p.brick_pct = 12;
    p.charge_items = 20;
    p.reach_items = 20;
    p.hatch = true;
    const Arena arena = build_arena(p, 1);
    const std::size_t bricks = count_kind(arena, TileKind::Brick);
    ASSERT_GT(bricks, 1u);
    ASSERT_LT(bricks, 41u);
    EXPECT_EQ(count_tiles(arena, Tile::brick(Hidden::Nothing)), 0u);
    EXPECT_EQ(count_tiles(arena, Tile::brick(Hidden::Hatch)), 1u);
    // Charges come first and take every brick that is left.
    EXPECT_EQ(count_tiles(arena, Tile::brick(Hidden::Charge)),
              std::min<std::size_t>(bricks - 1, 20));
    EXPECT_EQ(count_tiles(arena, Tile::brick(Hidden::Charge)) +
                  count_tiles(arena, Tile::brick(Hidden::Reach)),
              bricks - 1);
}

TEST(LevelBuilder, WithoutBricksTheHatchLiesOpenFarFromTheStart) {
    LevelParams p = plain_params(15, 11, Layout::Blocks);
    p.hatch = true;
    p.charge_items = 3;
    const Arena arena = build_arena(p, 1);
    EXPECT_EQ(count_tiles(arena, Tile::hatch()), 1u);
    EXPECT_EQ(count_kind(arena, TileKind::Pickup) + count_kind(arena, TileKind::Brick), 0u);
    for (std::int32_t y = 0; y < arena.height; ++y)
        for (std::int32_t x = 0; x < arena.width; ++x)
            if (arena.tile(x, y) == Tile::hatch()) {
                EXPECT_GE(distance({x, y}, {1, 1}), (15 + 11) / 3);
            }
}

TEST(LevelBuilder, CreaturesTakeBricksWhenNoFloorIsFreeAndStayAwayWhenThereIsNoRoom) {
    LevelParams p = plain_params(15, 11, Layout::Grid);
    p.brick_pct = 100;
    p.creatures = {4, 0, 2};  // mites and gobblers
    const Arena full = build_arena(p, 1);
    ASSERT_EQ(full.creatures.size(), 6u);
    for (const Creature& c : full.creatures) EXPECT_EQ(full.tile(c.x, c.y), Tile::empty());
    EXPECT_EQ(full.creatures[5].kind, CreatureKind::Gobbler);

    // On 7 × 7 every inside cell is within four steps of a corner.
    p.width = 7;
    p.height = 7;
    EXPECT_TRUE(build_arena(p, 1).creatures.empty());
}

// ---- Diggers ------------------------------------------------------------------------

TEST(LevelArena, ASoloDiggerStartsTopLeftWithTheLevelsChargesAndReach) {
    const Arena arena = level_arena(level(31), 1, Difficulty::Normal);
    ASSERT_EQ(arena.diggers.size(), 1u);
    const Digger& d = arena.diggers[0];
    EXPECT_EQ((Cell{d.x, d.y}), (Cell{1, 1}));
    EXPECT_EQ((Cell{d.prev_x, d.prev_y}), (Cell{1, 1}));
    EXPECT_EQ(d.max_charges, 4);
    EXPECT_EQ(d.reach, 4);
    EXPECT_EQ(d.facing, Dir::Down);
    EXPECT_EQ(d.state, DiggerState::Alive);
    EXPECT_FALSE(d.bot);
    EXPECT_EQ(arena.leash_x, 0);
    EXPECT_FALSE(arena.duel);
}

TEST(LevelArena, TwoPlayersStartSideBySideOnALeash) {
    const Arena arena = level_arena(level(12), 2, Difficulty::Easy);
    ASSERT_EQ(arena.diggers.size(), 2u);
    EXPECT_EQ((Cell{arena.diggers[0].x, arena.diggers[0].y}), (Cell{1, 1}));
    const Digger& second = arena.diggers[1];
    EXPECT_EQ((Cell{second.x, second.y}), (Cell{2, 1}));
    EXPECT_EQ((Cell{second.prev_x, second.prev_y}), (Cell{2, 1}));
    EXPECT_EQ(second.max_charges, level(12).start_charges);
    EXPECT_EQ(second.reach, level(12).start_reach);
    EXPECT_EQ(arena.leash_x, 18);
    EXPECT_EQ(arena.leash_y, 9);
}

TEST(LevelArena, AnArenaHoldsOneToFourDiggers) {
    EXPECT_THROW(build_arena(level(1).params, 0), testing::PanicError);
    EXPECT_THROW(build_arena(level(1).params, 5), testing::PanicError);
}

TEST(DuelArena, FourDiggersStartInTheCornersAndTheComputerSteersTheOthers) {
    const Arena solo = duel_arena(0, 1, 0);
    const Arena pair = duel_arena(0, 2, 0);
    ASSERT_EQ(solo.diggers.size(), 4u);
    const std::vector<Cell> corners{{1, 1}, {17, 9}, {17, 1}, {1, 9}};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ((Cell{solo.diggers[i].x, solo.diggers[i].y}), corners[i]);
        EXPECT_EQ(solo.diggers[i].bot, i >= 1);
        EXPECT_EQ(pair.diggers[i].bot, i >= 2);
        EXPECT_EQ(solo.diggers[i].max_charges, 1);
        EXPECT_EQ(solo.diggers[i].reach, 2);
    }
    EXPECT_TRUE(solo.duel);
    EXPECT_EQ(solo.time_left, 3000u);
    EXPECT_EQ(solo.creature_pace, 100u);
    EXPECT_TRUE(solo.creatures.empty());
    EXPECT_EQ(solo.tiles, pair.tiles);
}

TEST(DuelArena, ThePlaceIsTakenModFiveAndEveryRoundHasItsOwnSeed) {
    EXPECT_EQ(duel_params(2, 3).seed, 263024u);
    EXPECT_EQ(duel_params(7, 3), duel_params(2, 3));
    EXPECT_EQ(duel_arena(7, 1, 3).tiles, duel_arena(2, 1, 3).tiles);
    EXPECT_NE(duel_arena(2, 1, 3).tiles, duel_arena(2, 1, 4).tiles);
    EXPECT_EQ(duel_places[4].name, "WILDWUCHS");
    const Arena arena = duel_arena(1, 2, 0);
    EXPECT_EQ(count_kind(arena, TileKind::Hatch) + count_tiles(arena, Tile::brick(Hidden::Hatch)),
              0u);
    EXPECT_EQ(count_tiles(arena, Tile::brick(Hidden::Boots)), 3u);
    EXPECT_EQ(count_tiles(arena, Tile::brick(Hidden::Crystal)), 0u);
}

// ---- Every arena the game can build -----------------------------------------------

void expect_sound_arena(const Arena& arena, const LevelParams& p, const std::string& what) {
    SCOPED_TRACE(what);
    ASSERT_TRUE(testing::arena_invariants_hold(arena));
    ASSERT_EQ(arena.width, p.width);
    ASSERT_EQ(arena.height, p.height);
    ASSERT_EQ(count_kind(arena, TileKind::Pickup), 0u);

    // Every digger can reach every open cell once the bricks are gone, and so
    // no pocket is left that nobody could enter.
    const Digger& first = arena.diggers.at(0);
    const std::vector<bool> reach = reachable_without_bricks(arena, {first.x, first.y});
    for (std::int32_t y = 0; y < arena.height; ++y)
        for (std::int32_t x = 0; x < arena.width; ++x)
            ASSERT_EQ(reach[arena.index(x, y)], arena.tile(x, y).kind != TileKind::Steel)
                << x << "," << y;
    for (const Digger& d : arena.diggers) {
        ASSERT_EQ(arena.tile(d.x, d.y), Tile::empty());
        ASSERT_EQ(d.state, DiggerState::Alive);
        ASSERT_EQ(d.charges_out, 0);
    }

    const std::size_t hatches =
        count_tiles(arena, Tile::brick(Hidden::Hatch)) + count_kind(arena, TileKind::Hatch);
    ASSERT_EQ(hatches, p.hatch ? 1u : 0u);
    for (std::int32_t y = 0; y < arena.height; ++y)
        for (std::int32_t x = 0; x < arena.width; ++x)
            if (arena.tile(x, y) == Tile::brick(Hidden::Hatch)) {
                ASSERT_GE(distance({x, y}, {1, 1}), (p.width + p.height) / 3);
            }

    for (const Creature& c : arena.creatures) {
        ASSERT_EQ(arena.tile(c.x, c.y), Tile::empty());
        for (const Cell corner : corners_of(arena)) ASSERT_GE(distance({c.x, c.y}, corner), 5);
    }
    ASSERT_EQ(arena.creatures.size(), creature_total(p));
    ASSERT_TRUE(arena.charges.empty());
    ASSERT_EQ(std::count(arena.fire_left.begin(), arena.fire_left.end(), 0),
              static_cast<long>(arena.tiles.size()));
    ASSERT_EQ(arena.outcome, Outcome::Running);
    ASSERT_EQ(arena.score, 0u);
    ASSERT_EQ(arena.ticks, 0u);
}

TEST(EveryArena, EveryLevelOnEveryDifficultyForOneAndTwoPlayersIsSound) {
    for (std::size_t i = 0; i < level_count; ++i)
        for (const Difficulty difficulty : {Difficulty::Easy, Difficulty::Normal, Difficulty::Hard})
            for (const std::uint32_t players : {1u, 2u}) {
                const Level& l = level_catalogue()[i];
                expect_sound_arena(level_arena(l, players, difficulty), l.params,
                                   std::string(l.name) + " with " + std::to_string(players));
            }
}

TEST(EveryArena, EveryDuelPlaceIsSoundForTheFirstTenRounds) {
    for (std::uint64_t place = 0; place < duel_place_count; ++place)
        for (std::uint32_t round = 0; round < 10; ++round)
            for (const std::uint32_t humans : {1u, 2u})
                expect_sound_arena(
                    duel_arena(place, humans, round), duel_params(place, round),
                    std::string(duel_places[place].name) + " round " + std::to_string(round));
}

}  // namespace
}  // namespace zobra
