// The diggers' rules within a tick: lighting charges, walking, digging,
// picking up items and the leash between two players; and what their
// charges do: fuses, blasts, fire and chain reactions.

#include "support/arena_tests.h"

namespace zobra {
namespace {

// ---------------------------------------------------------------------------

TEST(LightingCharges, AChargeLiesWhereTheDiggerStandsWithItsReachAndAFuseThatBurnsFromTheSameTick) {
    Arena a = arena_from_picture({
        "#####",
        "#.1.#",
        "#####",
    });
    a.diggers[0].reach = 3;
    EXPECT_EQ(checked_tick(a, {drop}), std::vector<Event>{Event::ChargeLit});
    ASSERT_EQ(a.charges.size(), 1u);
    EXPECT_EQ(a.charges[0], (Charge{.x = 2, .y = 1, .fuse = 49, .reach = 3, .owner = 0}));
    EXPECT_EQ(a.diggers[0].charges_out, 1);
}

TEST(LightingCharges, AChargeLitInTickTExplodesInTickTPlus49) {
    Arena a = arena_from_picture({
        "##########",
        "#1.......#",
        "##########",
    });
    checked_tick(a, {drop});
    const std::uint32_t lit = a.ticks;
    std::uint32_t exploded = 0;
    while (exploded == 0 && a.ticks < 100)
        if (count_of(checked_tick(a), Event::Explosion) > 0) exploded = a.ticks;
    EXPECT_EQ(exploded, lit + 49);
}

TEST(LightingCharges, ADiggerWithOneChargeOutCannotLightAnotherUntilItHasExploded) {
    Arena a = arena_from_picture({
        "##########",
        "#1.......#",
        "##########",
    });
    // Light on the first cell and walk out of reach, asking for more all the way.
    EXPECT_EQ(count_of(checked_tick(a, {{.drop = true, .dir = Dir::Right}}), Event::ChargeLit), 1);
    while (a.charges.size() == 1) {
        const DiggerInput input{
            .drop = true, .dir = a.diggers[0].x < 5 ? std::optional(Dir::Right) : std::nullopt};
        EXPECT_EQ(count_of(checked_tick(a, {input}), Event::ChargeLit), 0) << "tick " << a.ticks;
    }
    EXPECT_EQ(a.ticks, 50u);
    EXPECT_EQ(a.diggers[0].state, DiggerState::Alive);
    EXPECT_EQ(a.diggers[0].charges_out, 0);
    EXPECT_EQ(checked_tick(a, {drop}), std::vector<Event>{Event::ChargeLit});
}

TEST(LightingCharges, NoChargeIsLitOnTheHatchOrOnACellThatAlreadyHasOne) {
    // A creature boxed in at the bottom keeps the hatch shut.
    Arena a = arena_from_picture({
        "#######",
        "#H2.1##",
        "#####m#",
        "#######",
    });
    a.diggers[1].x = a.diggers[1].prev_x = 1;  // digger 2 stands on the hatch
    a.diggers[0].max_charges = 2;
    EXPECT_TRUE(checked_tick(a, {{}, drop}).empty());
    EXPECT_TRUE(a.charges.empty());

    // Digger 2 walks over to digger 1's cell, where digger 1 has lit a charge.
    checked_tick(a, {drop, go(Dir::Right)});
    ASSERT_EQ(a.charges.size(), 1u);
    a.diggers[1].x = a.diggers[1].prev_x = 4;
    a.diggers[1].step_timer = 0;
    EXPECT_TRUE(checked_tick(a, {drop, drop}).empty());
    EXPECT_EQ(a.charges.size(), 1u);
    EXPECT_EQ(a.diggers[1].charges_out, 0);
}

TEST(LightingCharges, AWalkingDiggerLightsOnTheCellItIsWalkingInto) {
    Arena a = arena_from_picture({
        "######",
        "#1...#",
        "######",
    });
    checked_tick(a, {go(Dir::Right)});
    ASSERT_EQ(a.diggers[0].step_timer, 4);
    checked_tick(a, {drop});
    ASSERT_EQ(a.charges.size(), 1u);
    EXPECT_EQ(a.charges[0].x, 2);
}

TEST(LightingCharges, LightingAndWalkingInOneTickLeavesTheChargeBehind) {
    Arena a = arena_from_picture({
        "######",
        "#1...#",
        "######",
    });
    checked_tick(a, {{.drop = true, .dir = Dir::Right}});
    EXPECT_EQ(arena_picture(a), (Picture{
                                    "######",
                                    "#*1..#",
                                    "######",
                                }));
}

// ---------------------------------------------------------------------------

TEST(Walking, WallsAndChargesIncludingItsOwnStopADiggerButItStillTurns) {
    Arena a = arena_from_picture({
        "#####",
        "#1X.#",
        "#.###",
        "#####",
    });
    a.diggers[0].max_charges = 2;
    EXPECT_TRUE(checked_tick(a, {go(Dir::Right)}).empty());  // brick
    EXPECT_EQ(a.diggers[0].facing, Dir::Right);
    EXPECT_TRUE(checked_tick(a, {go(Dir::Up)}).empty());  // steel
    EXPECT_EQ(a.diggers[0].facing, Dir::Up);
    EXPECT_EQ(a.diggers[0].step_timer, 0);
    checked_tick(a, {{.drop = true, .dir = Dir::Down}});
    EXPECT_EQ(a.diggers[0].y, 2);
    checked_ticks(a, 3);
    checked_tick(a, {go(Dir::Up)});  // back onto its own charge: refused
    EXPECT_EQ(a.diggers[0].y, 2);
    EXPECT_EQ(a.diggers[0].facing, Dir::Up);
}

TEST(Walking, AStepStartedInTickTLetsTheNextStartInTickTPlusItsLength) {
    Arena a = arena_from_picture({
        "##########",
        "#1.......#",
        "##########",
    });
    std::vector<std::uint32_t> starts;
    for (int n = 0; n < 12; ++n) {
        const std::int32_t x = a.diggers[0].x;
        checked_tick(a, {go(Dir::Right)});
        if (a.diggers[0].x != x) starts.push_back(a.ticks);
    }
    EXPECT_EQ(starts, (std::vector<std::uint32_t>{1, 5, 9}));
    EXPECT_EQ(a.diggers[0].prev_x, 3);
    EXPECT_EQ(a.diggers[0].step_len, 4);
}

TEST(Walking, StepsTakeFourTicksThreeWithBootsAndTwiceAsLongIntoDirt) {
    struct Case {
        bool boots;
        Tile target;
        std::uint8_t len;
        std::vector<Event> events;
    };
    const std::vector<Case> cases = {
        {false, Tile::empty(), 4, {}},
        {true, Tile::empty(), 3, {}},
        {false, Tile::dirt(), 8, {Event::Dug}},
        {true, Tile::dirt(), 6, {Event::Dug}},
        {false, Tile::pickup(PickupKind::Crystal), 4, {Event::PickedUp}},
        {true, Tile::hatch(), 3, {}},
    };
    for (const Case& c : cases) {
        Arena a = arena_from_picture({
            "#####",
            "#1..#",
            "#####",
        });
        a.diggers[0].boots = c.boots;
        a.set_tile(2, 1, c.target);
        a.creatures.push_back(testing::creature_at(3, 1));
        a.creatures.back().step_timer = 200;
        EXPECT_EQ(checked_tick(a, {go(Dir::Right)}), c.events);
        EXPECT_EQ(a.diggers[0].step_len, c.len);
        EXPECT_EQ(a.diggers[0].step_timer, c.len);
        EXPECT_EQ(a.diggers[0].x, 2);
        EXPECT_NE(a.tile(2, 1).kind, TileKind::Dirt);
        EXPECT_NE(a.tile(2, 1).kind, TileKind::Pickup);
    }
}

TEST(Walking, AShortInputListLeavesTheRemainingDiggersIdleAndExtraEntriesAreIgnored) {
    Arena a = arena_from_picture({
        "######",
        "#1..2#",
        "######",
    });
    const std::vector<DiggerInput> one = {go(Dir::Right)};
    checked_tick(a, one);
    EXPECT_EQ(a.diggers[0].x, 2);
    EXPECT_EQ(a.diggers[1].x, 4);
    EXPECT_EQ(a.diggers[1].facing, Dir::Down);
    const std::vector<DiggerInput> many(7, drop);
    EXPECT_EQ(count_of(checked_tick(a, many), Event::ChargeLit), 2);
}

TEST(Walking, DeadAndEscapedDiggersDoNothing) {
    Arena a = arena_from_picture({
        "######",
        "#1..2#",
        "######",
    });
    a.diggers[0].state = DiggerState::Dead;
    a.diggers[1].state = DiggerState::Escaped;
    a.diggers[1].step_timer = 3;
    a.outcome = Outcome::Lost;  // keep the end checks out of it
    EXPECT_TRUE(
        checked_tick(a, {{.drop = true, .dir = Dir::Right}, {.drop = true, .dir = Dir::Left}})
            .empty());
    EXPECT_EQ(arena_picture(a), (Picture{
                                    "######",
                                    "#....#",
                                    "######",
                                }));
    EXPECT_EQ(a.diggers[1].step_timer, 3);
}

// ---------------------------------------------------------------------------

TEST(PickingUp, ItemsRaiseChargesAndReachUpToEightGiveBootsAndScoreCrystals) {
    Arena a = arena_from_picture({
        "#######",
        "#1CRBY#",
        "#######",
    });
    a.diggers[0].reach = 7;
    for (int n = 0; n < 4; ++n) {
        EXPECT_EQ(checked_tick(a, {go(Dir::Right)}), std::vector<Event>{Event::PickedUp});
        checked_ticks(a, a.diggers[0].step_timer);
    }
    const Digger& d = a.diggers[0];
    EXPECT_EQ(d.max_charges, 2);
    EXPECT_EQ(d.reach, 8);
    EXPECT_TRUE(d.boots);
    EXPECT_EQ(a.score, 50u);
    EXPECT_EQ(arena_picture(a)[1], "#....1#");

    // The caps hold; boots speed up only the steps after they were found.
    Arena b = arena_from_picture({
        "#######",
        "#1CRB.#",
        "#######",
    });
    b.diggers[0].max_charges = 8;
    b.diggers[0].reach = 8;
    for (int len : {4, 4, 4, 3}) {
        checked_tick(b, {go(Dir::Right)});
        EXPECT_EQ(b.diggers[0].step_len, len);
        checked_ticks(b, b.diggers[0].step_timer);
    }
    EXPECT_EQ(b.diggers[0].max_charges, 8);
    EXPECT_EQ(b.diggers[0].reach, 8);
}

// ---------------------------------------------------------------------------

Arena leashed_pair(std::int32_t x0, std::int32_t y0, std::int32_t x1, std::int32_t y1) {
    Arena a(26, 14, 1);
    for (std::int32_t y = 0; y < a.height; ++y)
        for (std::int32_t x = 0; x < a.width; ++x)
            if (x == 0 || y == 0 || x == a.width - 1 || y == a.height - 1)
                a.set_tile(x, y, Tile::steel());
    a.diggers.push_back(testing::digger_at(x0, y0));
    a.diggers.push_back(testing::digger_at(x1, y1));
    a.leash_x = 18;
    a.leash_y = 9;
    return a;
}

bool steps(Arena a, std::size_t i, Dir d) {
    std::vector<DiggerInput> in(2);
    in[i] = go(d);
    const Digger before = a.diggers[i];
    checked_tick(a, in);
    return a.diggers[i].x != before.x || a.diggers[i].y != before.y;
}

TEST(Leash, APlayerEighteenColumnsAwayCannotStepFartherButMayStepAnyOtherWay) {
    const Arena a = leashed_pair(2, 5, 20, 5);
    EXPECT_FALSE(steps(a, 1, Dir::Right));
    EXPECT_TRUE(steps(a, 1, Dir::Up));
    EXPECT_TRUE(steps(a, 1, Dir::Down));
    EXPECT_TRUE(steps(a, 1, Dir::Left));
    EXPECT_FALSE(steps(a, 0, Dir::Left));
    EXPECT_TRUE(steps(a, 0, Dir::Right));
    // The refused step still turns the digger.
    Arena b = a;
    checked_tick(b, {{}, go(Dir::Right)});
    EXPECT_EQ(b.diggers[1].facing, Dir::Right);
}

TEST(Leash, TheVerticalLimitIsNineRows) {
    EXPECT_FALSE(steps(leashed_pair(5, 2, 5, 11), 1, Dir::Down));
    EXPECT_TRUE(steps(leashed_pair(5, 2, 5, 10), 1, Dir::Down));
    EXPECT_TRUE(steps(leashed_pair(5, 2, 5, 11), 1, Dir::Right));
}

TEST(Leash, PlayersAlreadyTooFarApartMayKeepOrShrinkTheDistance) {
    const Arena a = leashed_pair(1, 5, 22, 5);
    EXPECT_FALSE(steps(a, 1, Dir::Right));
    EXPECT_TRUE(steps(a, 1, Dir::Up));
    EXPECT_TRUE(steps(a, 1, Dir::Left));
}

TEST(Leash, TheLeashFallsAwayWhenThePartnerIsGoneAndNeverBindsAThirdDigger) {
    Arena dead = leashed_pair(2, 5, 20, 5);
    dead.diggers[0].state = DiggerState::Dead;
    EXPECT_TRUE(steps(dead, 1, Dir::Right));

    Arena loose = leashed_pair(2, 5, 20, 5);
    loose.leash_x = loose.leash_y = 0;
    EXPECT_TRUE(steps(loose, 1, Dir::Right));

    Arena three = leashed_pair(2, 5, 3, 5);
    three.diggers.push_back(testing::digger_at(20, 5));
    checked_tick(three, {{}, {}, go(Dir::Right)});
    EXPECT_EQ(three.diggers[2].x, 21);
}

TEST(Leash, AZeroLimitLeavesItsOwnAxisFree) {
    Arena a = leashed_pair(2, 2, 20, 11);
    a.leash_x = 0;
    EXPECT_TRUE(steps(a, 1, Dir::Right));
    EXPECT_FALSE(steps(a, 1, Dir::Down));
}

// ---------------------------------------------------------------------------

TEST(Blasts, ABlastBreaksTheFirstBrickAndLeavesWhatLiesBehindItUntouched) {
    Arena a = arena_from_picture({
        "#######",
        "#..:..#",
        "#..X..#",
        "#..*..#",
        "#.....#",
        "#....1#",
        "#######",
    });
    a.charges[0].fuse = 1;
    const std::vector<Event> ev = checked_tick(a);
    EXPECT_EQ(ev, (std::vector<Event>{Event::Explosion, Event::BrickBroken}));
    EXPECT_EQ(a.score, 5u);
    EXPECT_EQ(a.diggers[0].charges_out, 0);
    EXPECT_EQ(arena_picture(a), (Picture{
                                    "#######",
                                    "#..:..#",
                                    "#.....#",
                                    "#.....#",
                                    "#.....#",
                                    "#....1#",
                                    "#######",
                                }));
    EXPECT_EQ(fire_picture(a), (Picture{
                                   ".......",
                                   ".......",
                                   "...8...",
                                   ".88888.",
                                   "...8...",
                                   "...8...",
                                   ".......",
                               }));
}

TEST(Blasts, DirtStopsABlastAndIsClearedWithoutPoints) {
    Arena a = arena_from_picture({
        "#######",
        "#.*::1#",
        "#######",
    });
    a.charges[0].fuse = 1;
    EXPECT_EQ(checked_tick(a), std::vector<Event>{Event::Explosion});
    EXPECT_EQ(arena_picture(a)[1], "#...:1#");
    EXPECT_EQ(fire_picture(a)[1], ".888...");
    EXPECT_EQ(a.score, 0u);
}

TEST(Blasts, BricksGiveUpWhatTheyHid) {
    Arena a = arena_from_picture({
        "#######",
        "#..h..#",
        "#.y*X.#",
        "#..b..#",
        "#1....#",
        "#######",
    });
    a.charges[0].fuse = 1;
    a.charges[0].reach = 1;
    EXPECT_EQ(count_of(checked_tick(a), Event::BrickBroken), 4);
    EXPECT_EQ(a.score, 20u);
    EXPECT_EQ(arena_picture(a), (Picture{
                                    "#######",
                                    "#..H..#",
                                    "#.Y...#",
                                    "#..B..#",
                                    "#1....#",
                                    "#######",
                                }));
    a.set_tile(3, 1, Tile::brick(Hidden::Charge));
    a.set_tile(4, 2, Tile::brick(Hidden::Reach));
    a.charges.push_back({.x = 3, .y = 2, .fuse = 1, .reach = 1});
    ++a.diggers[0].charges_out;
    checked_tick(a);
    EXPECT_EQ(a.tile(3, 1), Tile::pickup(PickupKind::Charge));
    EXPECT_EQ(a.tile(4, 2), Tile::pickup(PickupKind::Reach));
}

TEST(Blasts, AnOpenItemBurnsButOneJustRevealedSurvivesTheBlastsOfItsEightBurningTicks) {
    Arena a = arena_from_picture({
        "########",
        "#.r.*.R#",
        "#......#",
        "#.*....#",
        "#.....1#",
        "########",
    });
    a.diggers[0].max_charges = 3;
    a.charges[0].fuse = 1;  // (4, 1), reach 2: breaks the brick, burns the open item
    a.charges[1].fuse = 5;  // (2, 3), reach 2: reaches the revealed item four ticks later
    checked_tick(a);
    EXPECT_EQ(arena_picture(a)[1], "#.R....#");
    checked_ticks(a, 4);
    EXPECT_EQ(a.tile(2, 1), Tile::pickup(PickupKind::Reach));
    EXPECT_EQ(a.fire(2, 1), 8);
    // Once its cell has stopped burning, the next blast takes it.
    checked_ticks(a, 8);
    ASSERT_EQ(a.fire(2, 1), 0);
    a.charges.push_back({.x = 2, .y = 3, .fuse = 1});
    ++a.diggers[0].charges_out;
    checked_tick(a);
    EXPECT_EQ(a.tile(2, 1), Tile::empty());
}

TEST(Blasts, AChainReactionSeesTheTilesThePreviousBlastLeft) {
    Arena a = arena_from_picture({
        "#########",
        "#.X.*.*.#",
        "#1......#",
        "#########",
    });
    a.diggers[0].max_charges = 2;
    a.charges[0].fuse = 1;   // reach 2: breaks the brick at (2, 1)
    a.charges[1].fuse = 41;  // caught by the first blast
    a.charges[1].reach = 5;  // and reaches past the broken brick to (1, 1)
    const std::vector<Event> ev = checked_tick(a);
    EXPECT_EQ(ev, (std::vector<Event>{Event::Explosion, Event::BrickBroken, Event::Explosion}));
    EXPECT_TRUE(a.charges.empty());
    EXPECT_EQ(a.diggers[0].charges_out, 0);
    EXPECT_EQ(a.score, 5u);
    EXPECT_EQ(fire_picture(a)[1], ".8888888.");
}

TEST(Blasts, ChainedChargesGoOffInTheOrderTheyAreReached) {
    // The later-lit charge at the left is due first; its blast reaches the
    // right one, whose blast in turn breaks the brick beyond it.
    Arena a = arena_from_picture({
        "#########",
        "#.*.*.X1#",
        "#########",
    });
    a.diggers[0].max_charges = 2;
    std::swap(a.charges[0], a.charges[1]);
    a.charges[0].fuse = 30;  // right, (4, 1)
    a.charges[1].fuse = 1;   // left, (2, 1)
    a.charges[0].reach = 2;
    EXPECT_EQ(checked_tick(a),
              (std::vector<Event>{Event::Explosion, Event::Explosion, Event::BrickBroken}));
    EXPECT_EQ(fire_picture(a)[1], ".888888..");
}

TEST(Blasts, AChargeInABurningCellGoesOffAtOnce) {
    Arena a = arena_from_picture({
        "#######",
        "#.*..1#",
        "#######",
    });
    a.fire_left[a.index(2, 1)] = 2;
    EXPECT_EQ(checked_tick(a), std::vector<Event>{Event::Explosion});
    a.fire_left[a.index(2, 1)] = 1;  // out during this tick's count-down
    a.charges.push_back({.x = 2, .y = 1});
    ++a.diggers[0].charges_out;
    checked_ticks(a, 8);
    EXPECT_TRUE(checked_tick(a).empty());
    EXPECT_EQ(a.charges.size(), 1u);
}

TEST(Blasts, ACellBurnsDuringTheContactsOfItsBlastsTickAndSevenMore) {
    for (std::uint32_t later = 0; later <= 9; ++later) {
        Arena a = arena_from_picture({
            "########",
            "#..*..1#",
            "########",
        });
        a.charges[0].fuse = 1;
        a.charges[0].reach = 1;
        a.diggers.push_back(testing::digger_at(6, 1));
        checked_ticks(a, static_cast<int>(later));
        a.diggers[1].x = a.diggers[1].prev_x = 4;  // step into the blast's cell
        const std::vector<Event> ev = checked_tick(a);
        const bool burns = later <= 7;
        EXPECT_EQ(a.diggers[1].state, burns ? DiggerState::Dead : DiggerState::Alive) << later;
        EXPECT_EQ(count_of(ev, Event::DiggerDied), burns ? 1 : 0) << later;
    }
}

}  // namespace
}  // namespace zobra
