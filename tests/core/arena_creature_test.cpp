// The creatures' rules: where they may walk, how they choose (two draws
// from the arena's generator), wisps hunting, gobblers eating, creatures
// burning; and the contacts that kill diggers.

#include "support/arena_tests.h"

namespace zobra {
namespace {

// The generator's state after n more steps.
std::uint64_t after_steps(Rng rng, int n) {
    for (int i = 0; i < n; ++i) rng.next();
    return rng.state;
}

// ---------------------------------------------------------------------------

TEST(CreatureMoves, ACreatureInADeadEndTurnsBack) {
    Arena a = arena_from_picture({
        "######",
        "#m...#",
        "####1#",
        "######",
    });
    a.creatures[0].heading = Dir::Left;
    const Rng before = a.rng;
    EXPECT_EQ(checked_tick(a), std::vector<Event>{Event::CreatureStep});
    const Creature& m = a.creatures[0];
    EXPECT_EQ(m, (Creature{{2, 1, 1, 1, 9, 9}, Dir::Right, CreatureKind::Mite}));
    EXPECT_EQ(a.rng.state, after_steps(before, 2));
}

TEST(CreatureMoves, AStepLastsItsLengthAndTheNextStartsRightAfter) {
    Arena a = arena_from_picture({
        "#########",
        "#w......#",
        "#########",
    });
    a.creatures[0].heading = Dir::Right;
    a.creature_pace = 70;  // Hard: 6 × 70 / 100 = 4 ticks
    a.hatch_open = true;
    a.outcome = Outcome::Lost;  // no diggers needed
    std::vector<std::uint32_t> starts;
    for (int n = 0; n < 9; ++n)
        if (count_of(checked_tick(a), Event::WispStep) == 1) starts.push_back(a.ticks);
    EXPECT_EQ(starts, (std::vector<std::uint32_t>{1, 5, 9}));
    EXPECT_EQ(a.creatures[0].x, 4);
    EXPECT_EQ(a.creatures[0].step_len, 4);
}

TEST(CreatureMoves, ABoxedInCreatureStandsStillAndDrawsNothing) {
    Arena a = arena_from_picture({
        "#######",
        "#1#.:X#",
        "####g##",
        "#######",
    });
    a.creatures.push_back(testing::creature_at(3, 1, CreatureKind::Wisp));
    a.creatures[0].heading = Dir::Left;
    // Dirt and steel all round both of them: no creature digs.
    const Rng before = a.rng;
    EXPECT_TRUE(checked_ticks(a, 5).empty());
    EXPECT_EQ(a.rng, before);
    EXPECT_EQ(a.creatures[0].x, 4);
    EXPECT_EQ(a.creatures[0].y, 2);
    EXPECT_EQ(a.creatures[0].heading, Dir::Left);
    EXPECT_EQ(a.creatures[0].step_timer, 0);
}

TEST(CreatureMoves, CreaturesNeverShareACellButMayFollowIntoOneJustLeft) {
    Arena a = arena_from_picture({
        "#######",
        "#.mm..#",
        "#######",
    });
    a.creatures[0].heading = Dir::Right;
    a.creatures[1].heading = Dir::Left;
    a.outcome = Outcome::Lost;
    checked_tick(a);
    // The first is blocked by the second and turns back; the second, now
    // free to go on, steps into the cell the first has just left.
    EXPECT_EQ(arena_picture(a)[1], "#mm...#");
    EXPECT_EQ(a.creatures[0].heading, Dir::Left);
    EXPECT_EQ(a.creatures[1].heading, Dir::Left);
}

TEST(CreatureMoves, MitesAndGobblersRunStraightOnUnlessTheFirstDrawIsZero) {
    // A long walk over open floor: before every step the first draw is read
    // from a copy of the generator; a non-zero one must keep the heading
    // whenever straight on is possible.
    for (CreatureKind kind : {CreatureKind::Mite, CreatureKind::Gobbler}) {
        Arena a(15, 9, 3);
        for (std::int32_t y = 0; y < a.height; ++y)
            for (std::int32_t x = 0; x < a.width; ++x)
                if (x == 0 || y == 0 || x == a.width - 1 || y == a.height - 1)
                    a.set_tile(x, y, Tile::steel());
        a.creatures.push_back(testing::creature_at(7, 4, kind));
        a.outcome = Outcome::Lost;
        int steps = 0;
        int straight = 0;
        int turned_by_chance = 0;
        for (int n = 0; n < 4000; ++n) {
            const Creature c = a.creatures[0];
            Rng probe = a.rng;
            const bool first_draw_zero = probe.below(5) == 0;
            const bool ahead_open =
                a.tile(c.x + dir_dx(c.heading), c.y + dir_dy(c.heading)).kind == TileKind::Empty;
            checked_tick(a);
            if (a.creatures[0].step_timer != a.creatures[0].step_len) continue;  // no new step
            ++steps;
            if (a.creatures[0].heading == c.heading) ++straight;
            if (ahead_open && !first_draw_zero) {
                EXPECT_EQ(a.creatures[0].heading, c.heading);
            }
            if (ahead_open && first_draw_zero && a.creatures[0].heading != c.heading)
                ++turned_by_chance;
            EXPECT_NE(a.creatures[0].heading, reverse(c.heading)) << "turned back on open floor";
        }
        EXPECT_GT(steps, 300);
        EXPECT_GE(straight * 5, steps * 4 - steps / 4);  // walls force some turns
        EXPECT_GT(turned_by_chance, 0);
    }
}

TEST(CreatureMoves, BothDrawsAreTakenForEveryStepEvenWhenOnlyOneWayIsOpen) {
    Arena a = arena_from_picture({
        "########",
        "#......#",
        "#.w..m.#",
        "#.....1#",
        "########",
    });
    const Rng before = a.rng;
    checked_tick(a);
    EXPECT_EQ(a.rng.state, after_steps(before, 4));
}

// ---------------------------------------------------------------------------

TEST(Wisps, AWispHuntsTheNearestDiggerUnlessTheFirstDrawIsZero) {
    int hunted = 0;
    int wandered = 0;
    for (std::uint64_t seed = 1; seed <= 60; ++seed) {
        Arena a = arena_from_picture(
            {
                "##########",
                "#........#",
                "#...w...1#",
                "#........#",
                "##########",
            },
            seed);
        Rng probe = a.rng;
        const std::uint32_t k = probe.below(5);
        const std::uint32_t r = probe.below(3);  // candidates Up, Right, Left
        checked_tick(a);
        const Dir expected = k != 0 ? Dir::Right : std::array{Dir::Up, Dir::Right, Dir::Left}[r];
        EXPECT_EQ(a.creatures[0].heading, expected) << "seed " << seed;
        (k != 0 ? hunted : wandered) += 1;
    }
    EXPECT_GT(hunted, 0);
    EXPECT_GT(wandered, 0);
}

TEST(Wisps, OnEqualDistancesTheEarlierDirectionWinsAndWithoutDiggersAllAreEqual) {
    // Up and Right both bring the wisp within one cell of the digger.
    Arena a = arena_from_picture(
        {
            "#######",
            "#....1#",
            "#...w.#",
            "#.....#",
            "#######",
        },
        2);
    Rng probe = a.rng;
    ASSERT_NE(probe.below(5), 0u);
    checked_tick(a);
    EXPECT_EQ(a.creatures[0].heading, Dir::Up);

    Arena b = arena_from_picture(
        {
            "#######",
            "#....1#",
            "#...w.#",
            "#.....#",
            "#######",
        },
        2);
    b.creatures[0].heading = Dir::Left;  // candidates Up, Down, Left
    b.diggers[0].state = DiggerState::Escaped;
    b.outcome = Outcome::Lost;
    checked_tick(b);
    EXPECT_EQ(b.creatures[0].heading, Dir::Up);
}

TEST(Wisps, AWispNeverStepsIntoFireOrOntoACharge) {
    Arena a = arena_from_picture({
        "#######",
        "#.w*..#",
        "#.#.###",
        "#.#..1#",
        "#######",
    });
    a.creatures[0].heading = Dir::Right;
    a.fire_left[a.index(1, 1)] = 5;
    // Straight on is a charge, the way back is burning: the wisp waits.
    EXPECT_TRUE(checked_tick(a).empty());
    EXPECT_EQ(a.creatures[0].x, 2);
    checked_ticks(a, 3);
    EXPECT_EQ(a.creatures[0].x, 2);
    // Once the fire is out, back it goes, the only way open.
    EXPECT_EQ(checked_tick(a), std::vector<Event>{Event::WispStep});
    EXPECT_EQ(a.creatures[0].x, 1);
}

TEST(Mites, AMiteShiesFromChargesButWalksIntoFireAndDiesThereInTheSameTick) {
    Arena a = arena_from_picture({
        "########",
        "#..m*.1#",
        "########",
    });
    a.creatures[0].heading = Dir::Right;
    a.fire_left[a.index(2, 1)] = 3;
    EXPECT_EQ(checked_tick(a),
              (std::vector<Event>{Event::CreatureStep, Event::CreatureKilled, Event::HatchOpened}));
    EXPECT_TRUE(a.creatures.empty());
    EXPECT_EQ(a.score, 100u);
}

// ---------------------------------------------------------------------------

TEST(Gobblers, AGobblerEatsAChargeWithoutABlastAndItsOwnerMayLightAnotherAtOnce) {
    Arena a = arena_from_picture({
        "########",
        "#g*....#",
        "#######1",
        "########",
    });
    a.set_tile(7, 2, Tile::steel());
    a.diggers[0].x = a.diggers[0].prev_x = 6;
    a.diggers[0].y = a.diggers[0].prev_y = 1;
    a.creatures[0].heading = Dir::Right;
    EXPECT_EQ(checked_tick(a), (std::vector<Event>{Event::Gobbled, Event::CreatureStep}));
    EXPECT_TRUE(a.charges.empty());
    EXPECT_EQ(a.diggers[0].charges_out, 0);
    EXPECT_EQ(a.fire(2, 1), 0);
    EXPECT_EQ(checked_tick(a, {{.drop = true}}), std::vector<Event>{Event::ChargeLit});
}

TEST(Gobblers, AGobblerEatsItemsAndEatsAChargeAndAnItemInOneStep) {
    Arena a = arena_from_picture({
        "#######",
        "#gY...#",
        "###.###",
        "#g...1#",
        "#######",
    });
    a.set_tile(2, 3, Tile::pickup(PickupKind::Boots));
    a.charges.push_back({.x = 2, .y = 3});
    a.diggers[0].charges_out = 1;
    const std::vector<Event> ev = checked_tick(a);
    EXPECT_EQ(ev, (std::vector<Event>{Event::Gobbled, Event::CreatureStep, Event::Gobbled,
                                      Event::Gobbled, Event::CreatureStep}));
    EXPECT_EQ(arena_picture(a), (Picture{
                                    "#######",
                                    "#.g...#",
                                    "###.###",
                                    "#.g..1#",
                                    "#######",
                                }));
    EXPECT_EQ(a.diggers[0].charges_out, 0);
}

TEST(Gobblers, AChargeWhoseOwnerDoesNotExistIsEatenWithoutTouchingAnyDigger) {
    Arena a = arena_from_picture({
        "######",
        "#g..1#",
        "######",
    });
    a.creatures[0].heading = Dir::Right;
    a.charges.push_back({.x = 2, .y = 1, .owner = 9});
    a.diggers[0].charges_out = 0;
    a.tick({});
    EXPECT_TRUE(a.charges.empty());
    EXPECT_EQ(a.diggers[0].charges_out, 0);
}

// ---------------------------------------------------------------------------

TEST(Burning, CreaturesInFireDieTogetherWithOneEventAndTheirPointsAdded) {
    Arena a = arena_from_picture({
        "#########",
        "#.m.w.g.#",
        "#######1#",
        "#########",
    });
    for (Creature& c : a.creatures) c.step_timer = 50;  // standing still
    a.fire_left[a.index(2, 1)] = 4;
    a.fire_left[a.index(6, 1)] = 1;  // out before the creatures burn
    a.fire_left[a.index(4, 1)] = 2;
    EXPECT_EQ(checked_tick(a), std::vector<Event>{Event::CreatureKilled});
    EXPECT_EQ(a.score, 300u);
    ASSERT_EQ(a.creatures.size(), 1u);
    EXPECT_EQ(a.creatures[0].kind, CreatureKind::Gobbler);
}

// ---------------------------------------------------------------------------

TEST(Contacts, ADiggerDiesWhenACreatureWalksOntoItOrItWalksOntoACreature) {
    Arena a = arena_from_picture({
        "#######",
        "#m1..w#",
        "#.....#",
        "#######",
    });
    a.creatures[0].heading = Dir::Right;
    a.creatures[1].step_timer = 30;
    a.diggers.push_back(testing::digger_at(4, 2));
    a.set_tile(1, 2, Tile::steel());
    const std::vector<Event> ev = checked_tick(a, {{}, go(Dir::Up)});
    EXPECT_EQ(ev, (std::vector<Event>{Event::CreatureStep, Event::DiggerDied}));
    EXPECT_EQ(a.diggers[0].state, DiggerState::Dead);
    EXPECT_EQ(a.diggers[1].state, DiggerState::Alive);
    checked_ticks(a, 3);
    checked_tick(a, {{}, go(Dir::Right)});
    EXPECT_EQ(a.diggers[1].state, DiggerState::Dead);
    EXPECT_EQ(a.outcome, Outcome::Lost);
}

TEST(Contacts, ADiggerAndACreatureSwappingCellsInMidStepTouchAndTheDiggerDies) {
    Arena a = arena_from_picture({
        "#######",
        "#.1m..#",
        "#.....#",
        "#######",
    });
    a.creatures[0].heading = Dir::Left;
    a.set_tile(3, 2, Tile::steel());
    a.set_tile(4, 1, Tile::steel());
    EXPECT_EQ(checked_tick(a, {go(Dir::Right)}),
              (std::vector<Event>{Event::CreatureStep, Event::DiggerDied, Event::AllLost}));
    EXPECT_EQ(a.diggers[0].x, 3);
    EXPECT_EQ(a.creatures[0].x, 2);
}

TEST(Contacts, ADiggerSteppingIntoTheCellACreatureIsLeavingSurvives) {
    Arena a = arena_from_picture({
        "#######",
        "#1m...#",
        "#######",
    });
    a.creatures[0].heading = Dir::Right;
    EXPECT_EQ(checked_tick(a, {go(Dir::Right)}), std::vector<Event>{Event::CreatureStep});
    EXPECT_EQ(a.diggers[0].state, DiggerState::Alive);
    EXPECT_EQ(arena_picture(a)[1], "#.1m..#");
}

}  // namespace
}  // namespace zobra
