// The arena's model: its queries, its generator, the shape of a blast, the
// creatures' pace and how movers are drawn between cells.

#include "core/arena.h"

#include "support/arena_tests.h"
#include "support/panic_error.h"

namespace zobra {
namespace {

TEST(ArenaModel, AFreshArenaIsOpenFloorWithTheBuildDefaults) {
    const Arena a(13, 9, 7);
    EXPECT_EQ(a.tiles.size(), 117u);
    EXPECT_EQ(a.fire_left.size(), 117u);
    EXPECT_TRUE(
        std::all_of(a.tiles.begin(), a.tiles.end(), [](Tile t) { return t == Tile::empty(); }));
    EXPECT_TRUE(
        std::all_of(a.fire_left.begin(), a.fire_left.end(), [](std::uint8_t f) { return f == 0; }));
    EXPECT_EQ(a.rng.state, 0x538454127b096493u);
    EXPECT_EQ(a.time_left, 3600u);
    EXPECT_EQ(a.creature_pace, 100u);
    EXPECT_EQ(a.ticks, 0u);
    EXPECT_EQ(a.outcome, Outcome::Running);
    EXPECT_FALSE(a.duel || a.hatch_open || a.has_winner);
}

TEST(ArenaModel, AnArenaWithoutCellsOrWithAnAbsurdSizeIsAnInternalError) {
    EXPECT_THROW(Arena(0, 9, 1), testing::PanicError);
    EXPECT_THROW(Arena(13, -1, 1), testing::PanicError);
    EXPECT_THROW(Arena(1 << 20, 1 << 20, 1), testing::PanicError);
}

TEST(ArenaModel, EverythingOutsideTheGridReadsAsSteelWithoutFireAndCannotBeChanged) {
    Arena a = arena_from_picture({
        "#####",
        "#1..#",
        "#####",
    });
    a.fire_left.assign(a.fire_left.size(), 3);
    for (const Cell c : {Cell{-1, 0}, Cell{5, 0}, Cell{0, 3}, Cell{2, -1}}) {
        EXPECT_EQ(a.tile(c.x, c.y), Tile::steel());
        EXPECT_EQ(a.fire(c.x, c.y), 0);
        EXPECT_FALSE(a.can_enter(c.x, c.y));
    }
    const std::vector<Tile> before = a.tiles;
    a.set_tile(-1, 0, Tile::empty());
    a.set_tile(5, 1, Tile::empty());
    a.set_tile(1, 3, Tile::empty());
    EXPECT_EQ(a.tiles, before);
    a.set_tile(3, 1, Tile::dirt());
    EXPECT_EQ(a.tile(3, 1), Tile::dirt());
    EXPECT_EQ(a.tiles[a.index(3, 1)], Tile::dirt());
}

TEST(ArenaModel, DiggersMayEnterFloorDirtItemsAndTheHatchButNotWallsOrCharges) {
    Arena a = arena_from_picture({
        "#########",
        "#1.X:CH*#",
        "#########",
    });
    EXPECT_TRUE(a.can_enter(1, 1));   // its own cell
    EXPECT_TRUE(a.can_enter(2, 1));   // floor
    EXPECT_FALSE(a.can_enter(3, 1));  // brick
    EXPECT_TRUE(a.can_enter(4, 1));   // dirt
    EXPECT_TRUE(a.can_enter(5, 1));   // item
    EXPECT_TRUE(a.can_enter(6, 1));   // hatch
    EXPECT_FALSE(a.can_enter(7, 1));  // a charge on open floor
    EXPECT_FALSE(a.can_enter(8, 1));  // steel
}

TEST(ArenaModel, ChargeAtFindsTheFirstChargeInListOrder) {
    Arena a = arena_from_picture({
        "#####",
        "#1*.#",
        "#####",
    });
    EXPECT_EQ(a.charge_at(3, 1), nullptr);
    a.charges.push_back({.x = 2, .y = 1, .fuse = 7, .reach = 5});
    ++a.diggers[0].charges_out;
    ASSERT_NE(a.charge_at(2, 1), nullptr);
    EXPECT_EQ(a.charge_at(2, 1)->fuse, fuse_ticks);
    EXPECT_EQ(a.charge_at(2, 1), &a.charges[0]);
}

// ---------------------------------------------------------------------------

TEST(ArenaPictures, EveryCharacterOfTheLegendReadsBackAsItselfAndBricksShowWhatTheyHide) {
    const Picture rows = {
        "##########", "#.:XHCRBY#", "#hcrby*12#", "#mwg34...#", "##########",
    };
    const Arena a = arena_from_picture({rows.begin(), rows.end()});
    EXPECT_EQ(arena_picture(a), rows);
    EXPECT_EQ(a.tile(1, 2), Tile::brick(Hidden::Hatch));
    EXPECT_EQ(a.tile(2, 2), Tile::brick(Hidden::Charge));
    EXPECT_EQ(a.tile(5, 2), Tile::brick(Hidden::Crystal));
    EXPECT_EQ(a.tile(8, 1), Tile::pickup(PickupKind::Crystal));
    EXPECT_EQ(a.tile(4, 1), Tile::hatch());
}

TEST(ArenaRandom, TheGeneratorStartsFromTheSeedAndDrawsWorkedValues) {
    Arena a(5, 5, 7);
    EXPECT_EQ(a.rng.below(100), 50u);
    EXPECT_EQ(a.rng.below(100), 30u);
    EXPECT_EQ(a.rng.below(100), 58u);
    EXPECT_EQ(a.rng.below(5), 4u);
    EXPECT_EQ(a.rng.below(4), 0u);
    EXPECT_EQ(a.rng.state, 0x5a9ab63884089fa0u);
}

TEST(ArenaRandom, SeedZeroStillGivesAWorkingGeneratorAndADrawBelowZeroIsZero) {
    Rng r{arena_rng_start(0)};
    EXPECT_EQ(r.state, 1u);
    EXPECT_EQ(r.next(), 0x40822041u);
    const std::uint64_t before = r.state;
    EXPECT_EQ(r.below(0), 0u);
    EXPECT_NE(r.state, before);  // the draw still takes its step
}

// ---------------------------------------------------------------------------

TEST(BlastShape, AReachOfZeroCoversTheCentreAlone) {
    const Arena a = arena_from_picture({
        "#####",
        "#...#",
        "#####",
    });
    EXPECT_EQ(blast_cells(a, 2, 1, 0), (std::vector<Cell>{{2, 1}}));
}

TEST(BlastShape, ABlastRunsUpRightDownLeftAndStopsAtBricksAndDirtButNeverCoversSteel) {
    const Arena a = arena_from_picture({
        "#######",
        "#..X..#",
        "#.....#",
        "#..1.:#",
        "#..m..#",
        "###.###",
        "#######",
    });
    // Up: floor, then the brick, which ends it. Right: floor, then dirt.
    // Down: through the creature, past the gap, to steel (not covered).
    // Left: two floor cells and steel. Diggers and creatures do not stop it.
    EXPECT_EQ(blast_cells(a, 3, 3, 8),
              (std::vector<Cell>{
                  {3, 3}, {3, 2}, {3, 1}, {4, 3}, {5, 3}, {3, 4}, {3, 5}, {2, 3}, {1, 3}}));
    EXPECT_EQ(blast_cells(a, 3, 3, 1), (std::vector<Cell>{{3, 3}, {3, 2}, {4, 3}, {3, 4}, {2, 3}}));
}

TEST(BlastShape, ABlastPassesItemsTheHatchAndChargesAndReadsOutsideTheGridAsSteel) {
    Arena a = arena_from_picture({
        "RH....",
        "......",
    });
    a.charges.push_back({.x = 2, .y = 0});
    EXPECT_EQ(blast_cells(a, 0, 0, 3), (std::vector<Cell>{{0, 0}, {1, 0}, {2, 0}, {3, 0}, {0, 1}}));
}

// ---------------------------------------------------------------------------

TEST(CreaturePace, StepLengthsFollowTheDifficultysPace) {
    // Easy 150, Normal 100, Hard 70.
    EXPECT_EQ(creature_step_ticks(CreatureKind::Mite, 150), 13);
    EXPECT_EQ(creature_step_ticks(CreatureKind::Mite, 100), 9);
    EXPECT_EQ(creature_step_ticks(CreatureKind::Mite, 70), 6);
    EXPECT_EQ(creature_step_ticks(CreatureKind::Wisp, 150), 9);
    EXPECT_EQ(creature_step_ticks(CreatureKind::Wisp, 100), 6);
    EXPECT_EQ(creature_step_ticks(CreatureKind::Wisp, 70), 4);
    EXPECT_EQ(creature_step_ticks(CreatureKind::Gobbler, 150), 16);
    EXPECT_EQ(creature_step_ticks(CreatureKind::Gobbler, 100), 11);
    EXPECT_EQ(creature_step_ticks(CreatureKind::Gobbler, 70), 7);
}

TEST(CreaturePace, NoStepIsShorterThanTwoOrLongerThanSixtyTicksWhateverThePace) {
    EXPECT_EQ(creature_step_ticks(CreatureKind::Wisp, 0), 2);
    EXPECT_EQ(creature_step_ticks(CreatureKind::Wisp, 1), 2);
    EXPECT_EQ(creature_step_ticks(CreatureKind::Wisp, 50), 3);
    EXPECT_EQ(creature_step_ticks(CreatureKind::Gobbler, 545), 59);
    EXPECT_EQ(creature_step_ticks(CreatureKind::Gobbler, 546), 60);
    EXPECT_EQ(creature_step_ticks(CreatureKind::Gobbler, 1000), 60);
    // A pace so large that 32-bit arithmetic would wrap round to a short step.
    EXPECT_EQ(creature_step_ticks(CreatureKind::Gobbler, 0xFFFFFFFFu), 60);
    EXPECT_EQ(creature_step_ticks(CreatureKind::Mite, 477218589u), 60);
}

// ---------------------------------------------------------------------------

TEST(RenderOffset, AMoverAtTheStartOfAStepIsDrawnOnItsPreviousCell) {
    const Mover d{.x = 5, .y = 3, .prev_x = 4, .prev_y = 3, .step_timer = 4, .step_len = 4};
    const Offset o = render_offset(d, 0.0f);
    EXPECT_EQ(o.x, -1.0f);
    EXPECT_EQ(o.y, 0.0f);
}

TEST(RenderOffset, AStandingMoverIsDrawnOnItsOwnCell) {
    const Mover c{.x = 5, .y = 3, .prev_x = 5, .prev_y = 2, .step_timer = 0, .step_len = 9};
    const Offset o = render_offset(c, 0.7f);
    EXPECT_EQ(o.x, 0.0f);
    EXPECT_EQ(o.y, 0.0f);
}

TEST(RenderOffset, AMoverSlidesTowardsItsCellAsTheTimerRunsDown) {
    const Mover c{.x = 2, .y = 6, .prev_x = 2, .prev_y = 5, .step_timer = 3, .step_len = 4};
    EXPECT_EQ(render_offset(c, 0.0f).y, -0.75f);
    EXPECT_EQ(render_offset(c, 1.0f).y, -0.5f);
    EXPECT_EQ(render_offset(c, 0.5f).y, -(2.5f / 4.0f));
    // Fractions beyond the step are clamped to its ends.
    const Mover late{.x = 2, .y = 6, .prev_x = 2, .prev_y = 5, .step_timer = 1, .step_len = 4};
    EXPECT_EQ(render_offset(late, 1.0f).y, 0.0f);
    const Mover early{.x = 2, .y = 6, .prev_x = 2, .prev_y = 5, .step_timer = 9, .step_len = 4};
    EXPECT_EQ(render_offset(early, 0.0f).y, -1.0f);
}

TEST(RenderOffset, AStepWithoutLengthIsDrawnAsOneTickLongInsteadOfDividingByZero) {
    const Mover d{.x = 3, .y = 1, .prev_x = 2, .prev_y = 1, .step_timer = 1, .step_len = 0};
    const Offset o = render_offset(d, 0.5f);
    EXPECT_EQ(o.x, -0.5f);
    EXPECT_EQ(o.y, 0.0f);
}

}  // namespace
}  // namespace zobra
