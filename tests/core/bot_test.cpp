// The computer opponent: what it foresees, the routes it finds, how it runs
// from danger, which goals it picks, and whole rounds and levels it plays.

#include "core/bot.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <vector>

#include "core/levels.h"
#include "support/arena_invariants.h"
#include "support/arena_picture.h"

namespace zobra {
namespace {

using testing::arena_from_picture;
using testing::checked_tick;
using testing::drop;
using testing::go;

std::size_t at(const Arena& a, int32_t x, int32_t y) { return a.index(x, y); }

DiggerInput idle() { return {}; }

std::string text(const DiggerInput& in) {
    return (in.drop ? "drop" : "no drop") +
           (in.dir ? ", dir " + std::to_string(int(*in.dir)) : ", no dir");
}

::testing::AssertionResult decides(const Arena& arena, std::size_t i, const DiggerInput& expected) {
    const DiggerInput got = bot_decide(arena, i);
    if (got.drop == expected.drop && got.dir == expected.dir) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "decided " << text(got) << ", expected " << text(expected);
}

// A charge of digger 0 lying where the digger stands, as right after it lit it.
void light_under(Arena& a, std::size_t i, uint16_t fuse, uint8_t reach) {
    Digger& d = a.diggers[i];
    a.charges.push_back(
        {.x = d.x, .y = d.y, .fuse = fuse, .reach = reach, .owner = static_cast<uint8_t>(i)});
    ++d.charges_out;
    d.max_charges = std::max(d.max_charges, d.charges_out);
}

// Ticks idle and records, cell by cell, the first tick in which it burns and
// the first in which it is steel.
struct Watch {
    std::vector<uint32_t> burns;
    std::vector<uint32_t> steel;
};

Watch watch(Arena a, uint32_t ticks) {
    Watch w{std::vector<uint32_t>(a.tiles.size(), no_tick),
            std::vector<uint32_t>(a.tiles.size(), no_tick)};
    for (uint32_t t = 1; t <= ticks; ++t) {
        checked_tick(a);
        for (std::size_t c = 0; c < a.tiles.size(); ++c) {
            if (a.fire_left[c] > 0 && w.burns[c] == no_tick) w.burns[c] = t;
            if (a.tiles[c].kind == TileKind::Steel && w.steel[c] == no_tick) w.steel[c] = t;
        }
    }
    return w;
}

// ---------------------------------------------------------------------------
// Foreseeing danger

TEST(BotDanger, EveryBlastAndChainReactionIsForeseenToTheTick) {
    // In list order: a charge that only the second sets off, the second that
    // only the third sets off, and the third with the shortest fuse, so the
    // chain needs more than one look at every pair.
    Arena a = arena_from_picture({
        "###############",
        "#.....*.*.*...#",
        "#.#.#.#.#.#.#.#",
        "#.............#",
        "#1............#",
        "###############",
    });
    a.charges = {
        {.x = 10, .y = 1, .fuse = 45}, {.x = 8, .y = 1, .fuse = 40}, {.x = 6, .y = 1, .fuse = 10}};
    a.fire_left[at(a, 3, 3)] = 5;

    const DangerMap d = danger_map(a);
    EXPECT_EQ(d.width, 15);
    EXPECT_EQ(d.fire_now[at(a, 3, 3)], 5u);
    EXPECT_EQ(d.blast_eta[at(a, 12, 1)], 10u);  // the far charge goes off with the chain
    EXPECT_EQ(d.blast_eta[at(a, 1, 1)], no_tick);

    const Watch w = watch(a, 60);
    for (std::size_t c = 0; c < a.tiles.size(); ++c) {
        EXPECT_EQ(d.wall_eta[c], no_tick);
        if (c != at(a, 3, 3)) {
            EXPECT_EQ(d.blast_eta[c], w.burns[c]) << "cell " << c;
        }
    }
}

TEST(BotDanger, ATrialChargeAddsItsBlastAndSetsOffWhatItReaches) {
    Arena a = arena_from_picture({
        "#########",
        "#1..*...#",
        "#########",
    });
    a.charges[0].fuse = 40;
    const Charge trial{.x = 2, .y = 1, .fuse = 20, .reach = 2, .owner = 0};
    const DangerMap before = danger_map(a);
    const DangerMap after = danger_map(a, trial);
    EXPECT_EQ(before.blast_eta[at(a, 1, 1)], no_tick);
    EXPECT_EQ(before.blast_eta[at(a, 6, 1)], 40u);
    EXPECT_EQ(after.blast_eta[at(a, 1, 1)], 20u);
    EXPECT_EQ(after.blast_eta[at(a, 6, 1)], 20u);  // the lying charge is set off early
    EXPECT_EQ(after.blast_eta[at(a, 7, 1)], no_tick);
}

// An open duel arena with the pillars of "PFEILER" and the diggers waiting in
// the middle row, which the wall reaches last.
Arena pillar_duel() {
    Arena a = arena_from_picture({
        "###################",
        "#.................#",
        "#.#.#.#.#.#.#.#.#.#",
        "#.................#",
        "#.#.#.#.#.#.#.#.#.#",
        "#1.2.............4#",
        "#.#.#.#.#.#.#.#.#.#",
        "#.................#",
        "#.#.#.#.#.#.#.#.#.#",
        "#3................#",
        "###################",
    });
    a.duel = true;
    a.time_left = 3000;
    return a;
}

TEST(BotDanger, TheClosingWallIsForeseenBlockByBlockWithin240Ticks) {
    Arena a = pillar_duel();
    a.diggers[2].x = a.diggers[2].prev_x = 5;
    a.diggers[2].y = a.diggers[2].prev_y = 5;
    a.time_left = 900;
    const DangerMap d = danger_map(a);
    const Watch w = watch(a, 300);
    int threatened = 0;
    for (int32_t y = 1; y < a.height - 1; ++y)
        for (int32_t x = 1; x < a.width - 1; ++x) {
            const std::size_t c = at(a, x, y);
            if (a.tiles[c].kind == TileKind::Steel) continue;
            const uint32_t expected = w.steel[c] < wall_warning_ticks ? w.steel[c] : no_tick;
            EXPECT_EQ(d.wall_eta[c], expected) << "cell " << x << ", " << y;
            threatened += expected != no_tick;
        }
    EXPECT_EQ(threatened, 34);  // the top row and the bottom row: blocks 0 … 33
    EXPECT_EQ(d.wall_eta[at(a, 1, 1)], 104u);
    EXPECT_EQ(d.wall_eta[at(a, 1, 9)], 236u);

    // Later in the round: blocks that have landed are steel, no longer a threat.
    a.time_left = 700;
    EXPECT_EQ(danger_map(a).wall_eta[at(a, 1, 1)], no_tick);
    EXPECT_EQ(danger_map(a).wall_eta[at(a, 9, 9)], 4u);  // block 25

    a.duel = false;
    const DangerMap level = danger_map(a);
    EXPECT_EQ(std::count(level.wall_eta.begin(), level.wall_eta.end(), no_tick),
              static_cast<long>(level.wall_eta.size()));
}

// ---------------------------------------------------------------------------
// Routes

TEST(BotRoutes, DirtCostsDoubleAndAFasterRouteFoundLaterEntersACellAgain) {
    const Arena a = arena_from_picture({
        "#####",
        "#1:.#",
        "#...#",
        "#####",
    });
    const RouteMap r = route_map(a, danger_map(a), 1, 1, 0, 4);
    EXPECT_EQ(r.arrival[at(a, 1, 1)], 0u);
    EXPECT_EQ(r.first_step[at(a, 1, 1)], no_dir);
    EXPECT_EQ(r.arrival[at(a, 2, 1)], 8u);
    EXPECT_EQ(r.first_step[at(a, 2, 1)], uint8_t(Dir::Right));
    // Found first through the dirt at 12, then at 8 round the bottom.
    EXPECT_EQ(r.arrival[at(a, 2, 2)], 8u);
    EXPECT_EQ(r.first_step[at(a, 2, 2)], uint8_t(Dir::Down));
    EXPECT_EQ(r.arrival[at(a, 3, 1)], 12u);
    EXPECT_EQ(r.first_step[at(a, 3, 1)], uint8_t(Dir::Right));
    EXPECT_EQ(r.arrival[at(a, 3, 2)], 12u);
    EXPECT_EQ(r.first_step[at(a, 3, 2)], uint8_t(Dir::Down));
    EXPECT_EQ(r.arrival[at(a, 0, 0)], no_tick);

    const RouteMap booted = route_map(a, danger_map(a), 1, 1, 10, 3);
    EXPECT_EQ(booted.arrival[at(a, 2, 1)], 16u);
    EXPECT_EQ(booted.arrival[at(a, 3, 2)], 19u);
}

TEST(BotRoutes, ARouteCrossesABlastWithThreeTicksToSpareOrAfterItBurntOut) {
    // The charge's blast crosses the corridor at (3, 1); the digger gets
    // there 8 ticks after setting off.
    Arena a = arena_from_picture({
        "#######",
        "#1....#",
        "###.###",
        "###*###",
        "#######",
    });
    auto reaches_end = [&](uint16_t fuse, uint32_t start) {
        a.charges[0].fuse = fuse;
        return route_map(a, danger_map(a), 1, 1, start, 4).arrival[at(a, 5, 1)] != no_tick;
    };
    EXPECT_TRUE(reaches_end(12, 0));    // through at 8, 8 + 3 < 12
    EXPECT_FALSE(reaches_end(11, 0));   // 8 + 3 is not below 11
    EXPECT_FALSE(reaches_end(11, 15));  // sets off from (2, 1) at 19, not after 11 + 8
    EXPECT_TRUE(reaches_end(11, 16));   // sets off at 20: that blast has burnt out
}

TEST(BotRoutes, ARouteEntersABurningCellOnlyAfterItsFireIsOutAndNeverMeetsTheWall) {
    Arena a = arena_from_picture({
        "######",
        "#1...#",
        "######",
    });
    a.fire_left[at(a, 2, 1)] = 3;
    EXPECT_EQ(route_map(a, danger_map(a), 1, 1, 0, 4).arrival[at(a, 2, 1)], no_tick);
    EXPECT_EQ(route_map(a, danger_map(a), 1, 1, 3, 4).arrival[at(a, 2, 1)], no_tick);
    EXPECT_EQ(route_map(a, danger_map(a), 1, 1, 4, 4).arrival[at(a, 2, 1)], 8u);

    a.fire_left[at(a, 2, 1)] = 0;
    DangerMap d = danger_map(a);
    d.wall_eta[at(a, 3, 1)] = 11;  // arrival 8, 8 + 3 is not below 11
    EXPECT_EQ(route_map(a, d, 1, 1, 0, 4).arrival[at(a, 3, 1)], no_tick);
    d.wall_eta[at(a, 3, 1)] = 12;
    EXPECT_EQ(route_map(a, d, 1, 1, 0, 4).arrival[at(a, 3, 1)], 8u);
}

TEST(BotRoutes, CreaturesHauntTheirCellTheirNeighboursAndTheCellTheyLeft) {
    Arena a = arena_from_picture({
        "#########",
        "#1......#",
        "#.......#",
        "#....m..#",
        "#########",
    });
    a.creatures[0].prev_x = 2;  // as if it had jumped: the rule holds for any cell
    a.creatures[0].prev_y = 2;
    for (int32_t y = 0; y < a.height; ++y)
        for (int32_t x = 0; x < a.width; ++x) {
            const int32_t d = std::abs(x - 5) + std::abs(y - 3);
            EXPECT_EQ(is_haunted(a, x, y), d <= 1 || (x == 2 && y == 2)) << x << ", " << y;
        }
    const RouteMap r = route_map(a, danger_map(a), 1, 1, 0, 4);
    EXPECT_EQ(r.arrival[at(a, 2, 2)], no_tick);
    EXPECT_EQ(r.arrival[at(a, 2, 3)], 12u);  // by (1, 3), not through (2, 2)
    EXPECT_EQ(r.arrival[at(a, 5, 1)], 16u);
    EXPECT_EQ(r.arrival[at(a, 4, 2)], 16u);
    EXPECT_EQ(r.arrival[at(a, 4, 3)], no_tick);
    EXPECT_EQ(r.arrival[at(a, 5, 2)], no_tick);
    EXPECT_EQ(r.arrival[at(a, 6, 2)], 24u);  // round the top
    EXPECT_EQ(r.arrival[at(a, 7, 3)], 32u);
}

// ---------------------------------------------------------------------------
// Running from danger

TEST(BotFlight, ABotInMidStepOrDeadAnswersNothingEvenInDanger) {
    Arena a = arena_from_picture({
        "#######",
        "#..1..#",
        "#######",
    });
    light_under(a, 0, 30, 1);
    a.diggers[0].step_timer = 2;
    EXPECT_TRUE(decides(a, 0, idle()));
    a.diggers[0].step_timer = 1;
    EXPECT_TRUE(decides(a, 0, go(Dir::Left)));

    EXPECT_TRUE(decides(a, 1, idle()));  // there is no digger 1
    a.diggers[0].state = DiggerState::Dead;
    EXPECT_TRUE(decides(a, 0, idle()));
}

TEST(BotFlight, ABotFleesAlongTheFastestSafeRouteHoweverLong) {
    // Its own charge covers the whole top corridor; the safe cells below are
    // 24 ticks away on the left and 16 on the right.
    Arena a = arena_from_picture({
        "###########",
        "#.....1...#",
        "#.#######.#",
        "#.........#",
        "###########",
    });
    light_under(a, 0, 50, 8);
    EXPECT_TRUE(decides(a, 0, go(Dir::Right)));

    // With the right side walled off the only refuge is far to the left.
    a.set_tile(9, 2, Tile::steel());
    EXPECT_TRUE(decides(a, 0, go(Dir::Left)));
}

TEST(BotFlight, OfTwoEqualRefugesTheFirstRowByRowIsChosen) {
    Arena a = arena_from_picture({
        "#######",
        "#..#..#",
        "#..1..#",
        "#.....#",
        "#######",
    });
    light_under(a, 0, 50, 1);
    // (2, 1) through the left and (4, 1) through the right are both 8 ticks
    // away, as are four more cells in lower rows.
    EXPECT_TRUE(decides(a, 0, go(Dir::Left)));
}

TEST(BotFlight, ABotLightsAChargeByABrickWithAFreeLaneThenRunsTheNextTickAndSurvives) {
    Arena a = arena_from_picture({
        "#######",
        "#1X...#",
        "#.#####",
        "#.....#",
        "#######",
    });
    ASSERT_TRUE(decides(a, 0, drop));
    EXPECT_EQ(checked_tick(a, {bot_decide(a, 0)}), std::vector<Event>{Event::ChargeLit});
    EXPECT_TRUE(decides(a, 0, go(Dir::Down)));  // its own cell now waits for a blast
    for (int t = 0; t < 80; ++t) {
        const DiggerInput input = bot_decide(a, 0);
        EXPECT_FALSE(input.drop && input.dir);
        checked_tick(a, {input});
    }
    EXPECT_EQ(a.diggers[0].state, DiggerState::Alive);
    EXPECT_EQ(a.tile(2, 1).kind, TileKind::Empty);
    EXPECT_EQ(a.score, brick_points);
}

TEST(BotFlight, ABotSkipsEveryChargeItCouldNotEscapeFrom) {
    // Reach 3 fills the whole corridor from either cell next to the brick.
    Arena a = arena_from_picture({
        "#######",
        "#...1X#",
        "#######",
    });
    a.diggers[0].reach = 3;
    const std::vector<BotGoal> goals = bot_goals(a, 0);
    ASSERT_EQ(goals.size(), 3u);
    EXPECT_EQ(goals[0].kind, GoalKind::Bomb);
    EXPECT_EQ(goals[0].x, 4);
    EXPECT_TRUE(decides(a, 0, idle()));
    for (int t = 0; t < 10; ++t) checked_tick(a, {bot_decide(a, 0)});
    EXPECT_TRUE(a.charges.empty());
}

TEST(BotFlight, ACellTheClosingWallTakesWithin240TicksIsUnsafeAndTheBotLeavesIt) {
    Arena a = pillar_duel();
    a.diggers[0].x = a.diggers[0].prev_x = 3;
    a.diggers[0].y = a.diggers[0].prev_y = 1;
    a.time_left = 1100;  // the wall reaches (3, 1) in 1100 − 788 = 312 ticks
    EXPECT_TRUE(is_safe(danger_map(a), 3, 1, 1));
    a.time_left = 1000;  // in 212 ticks; the whole top row is under threat
    EXPECT_FALSE(is_safe(danger_map(a), 3, 1, 1));
    EXPECT_TRUE(decides(a, 0, go(Dir::Down)));
}

TEST(BotFlight, ABotNextToACreatureStepsAwayBeforeGoingForAnything) {
    const Arena a = arena_from_picture({
        "########",
        "#.1...C#",
        "#.m....#",
        "########",
    });
    // Catching the mite from (4, 2) would be worth most, but first the bot
    // gets off the cell next to it, to the first free one row by row.
    const BotGoal best = bot_goals(a, 0)[0];
    EXPECT_EQ(std::make_pair(best.x, best.y), std::make_pair(4, 2));
    EXPECT_EQ(best.score, 10.0f / 20.0f);
    EXPECT_TRUE(decides(a, 0, go(Dir::Left)));
}

TEST(BotFlight, WithNowhereSafeABotTakesTheFirstOpenStepAwayFromFireAndCreatures) {
    // Boxed in by its own blast and a mite, it still steps rather than stand
    // on its charge: up is steel, right has the mite, down is burning, and
    // left is the only open step even though the blast will reach it too.
    Arena a = arena_from_picture({
        "#######",
        "#######",
        "##.1m.#",
        "###.###",
        "#######",
    });
    light_under(a, 0, 50, 8);
    a.fire_left[at(a, 3, 3)] = 4;
    EXPECT_TRUE(decides(a, 0, go(Dir::Left)));
    a.fire_left[at(a, 2, 2)] = 1;
    EXPECT_TRUE(decides(a, 0, idle()));
}

// ---------------------------------------------------------------------------
// Goals

TEST(BotGoals, ItemsHatchAndChargesAreScoredByWorthOverTheWalkAndTriedBestFirst) {
    Arena a = arena_from_picture({
        "#######",
        "#1.C..#",
        "#.#X#.#",
        "#..X.H#",
        "#######",
    });
    a.diggers[0].reach = 1;
    // The hatch 24 ticks away, the item 8, charges by the lower brick from
    // (2, 3) at 12 ticks and from (4, 3) at 28; no charge next to the item,
    // which it would destroy, not even on it by the upper brick.
    std::vector<BotGoal> goals = bot_goals(a, 0);
    ASSERT_EQ(goals.size(), 4u);
    EXPECT_EQ(goals[0].kind, GoalKind::Go);
    EXPECT_EQ(std::make_pair(goals[0].x, goals[0].y), std::make_pair(5, 3));
    EXPECT_EQ(goals[0].score, 1000.0f / 32.0f);
    EXPECT_EQ(std::make_pair(goals[1].x, goals[1].y), std::make_pair(3, 1));
    EXPECT_EQ(goals[1].score, 0.5f);
    EXPECT_EQ(goals[2].kind, GoalKind::Bomb);
    EXPECT_EQ(std::make_pair(goals[2].x, goals[2].y), std::make_pair(2, 3));
    EXPECT_EQ(goals[2].score, 2.0f / 20.0f);
    EXPECT_EQ(std::make_pair(goals[3].x, goals[3].y), std::make_pair(4, 3));
    EXPECT_EQ(goals[3].score, 2.0f / 36.0f);
    EXPECT_TRUE(decides(a, 0, go(Dir::Right)));

    // In a duel there is no hatch to go for.
    a.duel = true;
    goals = bot_goals(a, 0);
    ASSERT_EQ(goals.size(), 3u);
    EXPECT_EQ(goals[0].score, 0.5f);

    // With all its charges out it looks for items only.
    a.duel = false;
    a.diggers[0].max_charges = 0;
    goals = bot_goals(a, 0);
    ASSERT_EQ(goals.size(), 2u);
    EXPECT_EQ(goals[1].kind, GoalKind::Go);
}

TEST(BotGoals, TheHatchIsAGoalOnceTheCreaturesAreGoneButNeverAPlaceForACharge) {
    Arena a = arena_from_picture({
        "##############",
        "#1.HX#######m#",
        "##############",
    });
    std::vector<BotGoal> goals = bot_goals(a, 0);
    ASSERT_EQ(goals.size(), 1u);
    EXPECT_EQ(goals[0].kind, GoalKind::Bomb);
    EXPECT_EQ(goals[0].x, 2);

    a.creatures.clear();
    goals = bot_goals(a, 0);
    ASSERT_EQ(goals.size(), 2u);
    EXPECT_EQ(goals[0].kind, GoalKind::Go);
    EXPECT_EQ(goals[0].x, 3);
    EXPECT_EQ(goals[0].score, 1000.0f / 16.0f);
    EXPECT_EQ(goals[1].x, 2);
}

TEST(BotGoals, EqualScoresKeepTheOrderFoundRowByRow) {
    const Arena a = arena_from_picture({
        "#######",
        "#.....#",
        "#C.1.C#",
        "#.....#",
        "#..C..#",
        "#######",
    });
    const std::vector<BotGoal> goals = bot_goals(a, 0);
    ASSERT_EQ(goals.size(), 3u);
    EXPECT_EQ(std::make_pair(goals[0].x, goals[0].y), std::make_pair(1, 2));
    EXPECT_EQ(std::make_pair(goals[1].x, goals[1].y), std::make_pair(5, 2));
    EXPECT_EQ(std::make_pair(goals[2].x, goals[2].y), std::make_pair(3, 4));
    for (const BotGoal& g : goals) EXPECT_EQ(g.score, 0.5f);
    EXPECT_TRUE(decides(a, 0, go(Dir::Left)));
}

TEST(BotGoals, ARivalInTheBlastCountsEightAndOneWithinThreeCellsThree) {
    Arena a = arena_from_picture({
        "#########",
        "#1..2...#",
        "#########",
    });
    a.duel = true;
    const std::vector<BotGoal> goals = bot_goals(a, 0);
    const std::vector<std::pair<int32_t, float>> expected = {
        {2, 8.0f / 12.0f}, {3, 8.0f / 16.0f}, {4, 8.0f / 20.0f}, {1, 3.0f / 8.0f},
        {5, 8.0f / 24.0f}, {6, 8.0f / 28.0f}, {7, 3.0f / 32.0f}};
    ASSERT_EQ(goals.size(), expected.size());
    for (std::size_t g = 0; g < goals.size(); ++g) {
        EXPECT_EQ(goals[g].kind, GoalKind::Bomb);
        EXPECT_EQ(goals[g].x, expected[g].first);
        EXPECT_EQ(goals[g].score, expected[g].second);
    }
    EXPECT_TRUE(decides(a, 0, go(Dir::Right)));

    a.diggers[1].state = DiggerState::Dead;
    EXPECT_TRUE(bot_goals(a, 0).empty());
}

TEST(BotGoals, WhenTheBestChargeLeavesNoWayOutTheNextOneIsTried) {
    // From (3, 1) the blast would fill every cell it can reach; lit where it
    // stands, the charge leaves the bottom of the shaft free.
    const Arena a = arena_from_picture({
        "#########",
        "#.1..m..#",
        "###.#####",
        "###.#####",
        "#########",
    });
    const std::vector<BotGoal> goals = bot_goals(a, 0);
    ASSERT_EQ(goals.size(), 3u);
    EXPECT_EQ(std::make_pair(goals[0].x, goals[0].score), std::make_pair(3, 10.0f / 12.0f));
    EXPECT_EQ(std::make_pair(goals[1].x, goals[1].score), std::make_pair(2, 3.0f / 8.0f));
    EXPECT_TRUE(decides(a, 0, drop));
}

TEST(BotGoals, AtMostEightChargesAreTriedBeforeTheBotRoams) {
    // Eight blasting spots in the top corridor, each filling it, and the
    // only way on runs under the closing wall, which a digger setting off
    // from any of them meets too late. Two more spots far off on the right
    // would leave a way out, but they come ninth and tenth, so the bot
    // roams instead, and stays, being as near its rival as it can get.
    Arena a = arena_from_picture({
        "###################",
        "#.................#",
        "#.XXXXXXX########.#",
        "#1.......#######X.#",
        "#XXXXXXXX#######..#",
        "###################",
        "###################",
        "#2#################",
        "###################",
        "###################",
        "###################",
    });
    a.duel = true;
    a.diggers[0].reach = 8;
    a.time_left = 808;  // the wall reaches (1, 1) in 12 ticks, (x, 1) 4 ticks a cell later
    const std::vector<BotGoal> goals = bot_goals(a, 0);
    ASSERT_EQ(goals.size(), 10u);
    for (std::size_t g = 0; g < goals_tried; ++g) EXPECT_EQ(goals[g].y, 3);
    EXPECT_EQ(std::make_pair(goals[8].x, goals[8].y), std::make_pair(17, 3));
    EXPECT_EQ(goals[8].score, 2.0f / 88.0f);
    EXPECT_TRUE(decides(a, 0, idle()));  // its own cell is the nearest to the rival

    // One blasting spot fewer in the corridor, and the eighth goal tried is
    // the first on the right.
    a.set_tile(8, 3, Tile::steel());
    ASSERT_EQ(bot_goals(a, 0)[7].x, 17);
    EXPECT_TRUE(decides(a, 0, go(Dir::Up)));
}

TEST(BotGoals, ARoamingBotHeadsForTheCellNearestTheCreaturesThenTheQuickestThenTheFirst) {
    // Out of charges. (3, 2) and (5, 2) are both two cells from the mite and
    // twelve ticks away; (3, 2) comes first.
    Arena a = arena_from_picture({
        "#########",
        "#...m...#",
        "#.......#",
        "#...#...#",
        "#...1...#",
        "#########",
    });
    a.diggers[0].max_charges = 0;
    ASSERT_TRUE(bot_goals(a, 0).empty());
    EXPECT_TRUE(decides(a, 0, go(Dir::Left)));
    a.set_tile(3, 2, Tile::steel());
    EXPECT_TRUE(decides(a, 0, go(Dir::Right)));
}

TEST(BotGoals, InADuelABotRoamsTowardsTheNearestRivalAndWithNobodyLeftStaysPut) {
    Arena a = arena_from_picture({
        "###########",
        "#.1..#...2#",
        "###########",
    });
    a.duel = true;
    EXPECT_TRUE(decides(a, 0, go(Dir::Right)));
    a.diggers[1].state = DiggerState::Dead;  // no goal, no target, no danger
    EXPECT_TRUE(bot_goals(a, 0).empty());
    EXPECT_TRUE(decides(a, 0, idle()));
}

// ---------------------------------------------------------------------------
// Whole rounds and levels

struct Replay {
    std::vector<std::vector<Event>> events;
    Arena end;
};

// A duel round with every digger steered by the computer, to its end.
Replay play_duel(uint64_t place) {
    Replay replay;
    Arena a = duel_arena(place, 0, 0);
    for (uint32_t t = 0; t <= 3100 && a.outcome == Outcome::Running; ++t) {
        std::vector<DiggerInput> inputs(a.diggers.size());
        for (std::size_t i = 0; i < a.diggers.size(); ++i) {
            EXPECT_TRUE(a.diggers[i].bot);
            inputs[i] = bot_decide(a, i);
            EXPECT_FALSE(inputs[i].drop && inputs[i].dir);
        }
        replay.events.push_back(checked_tick(a, inputs));
    }
    replay.end = a;
    return replay;
}

TEST(BotMatches, FourComputerDiggersPlayARoundToItsEndOnEveryDuelPlaceTheSameWayTwice) {
    for (uint64_t place = 0; place < duel_place_count; ++place) {
        SCOPED_TRACE(duel_places[place].name);
        const Replay first = play_duel(place);
        const Arena& end = first.end;
        ASSERT_EQ(end.outcome, Outcome::Finished);
        EXPECT_EQ(first.events.back().back(), Event::RoundOver);
        const auto alive =
            std::count_if(end.diggers.begin(), end.diggers.end(),
                          [](const Digger& d) { return d.state == DiggerState::Alive; });
        if (end.has_winner) {
            EXPECT_EQ(alive, 1);
            EXPECT_EQ(end.diggers[end.winner].state, DiggerState::Alive);
        } else {
            EXPECT_TRUE(alive == 0 || end.time_left == 0);
        }
        if (end.time_left > 0) {
            EXPECT_TRUE(end.charges.empty());
            EXPECT_EQ(std::count(end.fire_left.begin(), end.fire_left.end(), 0),
                      static_cast<long>(end.fire_left.size()));
        }

        const Replay second = play_duel(place);
        ASSERT_EQ(second.events.size(), first.events.size());
        for (std::size_t t = 0; t < first.events.size(); ++t)
            ASSERT_EQ(second.events[t], first.events[t]) << t;
        EXPECT_EQ(second.end.tiles, end.tiles);
        EXPECT_EQ(second.end.diggers, end.diggers);
        EXPECT_EQ(second.end.score, end.score);
        EXPECT_EQ(second.end.winner, end.winner);
    }
}

TEST(BotMatches, TheComputerSteersTheFirstDiggerThroughTheFirstFiveLevels) {
    for (std::size_t level = 0; level < 5; ++level) {
        SCOPED_TRACE(level_catalogue()[level].name);
        Arena a = level_arena(level_catalogue()[level], 1, Difficulty::Normal);
        int steps = 0;
        for (; steps < 4000 && a.outcome == Outcome::Running; ++steps) {
            const DiggerInput input = bot_decide(a, 0);
            EXPECT_FALSE(input.drop && input.dir);
            // The same arena always gets the same answer, whatever the
            // creatures' pace.
            Arena paced = a;
            paced.creature_pace = 70;
            ASSERT_TRUE(decides(a, 0, input));
            ASSERT_TRUE(decides(paced, 0, input));
            checked_tick(a, {input});
        }
        const Digger& digger = a.diggers[0];
        switch (a.outcome) {
            case Outcome::Finished:
                EXPECT_EQ(digger.state, DiggerState::Escaped);
                EXPECT_TRUE(a.creatures.empty());
                break;
            case Outcome::Lost:
                EXPECT_EQ(digger.state, DiggerState::Dead);
                break;
            case Outcome::Running:
                EXPECT_EQ(steps, 4000);
                EXPECT_EQ(digger.state, DiggerState::Alive);
                break;
        }
    }
}

}  // namespace
}  // namespace zobra
