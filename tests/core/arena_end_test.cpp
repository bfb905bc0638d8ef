// How levels and duel rounds end: the clock, the hatch, escaping, the time
// bonus, lost and finished arenas, duel winners and the closing wall.

#include "support/arena_tests.h"

namespace zobra {
namespace {

// ---------------------------------------------------------------------------

TEST(Clock, TheClockRunsDownAndAtZeroEveryDiggerStillInTheLevelDies) {
    Arena a = arena_from_picture({
        "######",
        "#1.2m#",
        "######",
    });
    a.time_left = 3;
    a.creatures[0].step_timer = 200;
    checked_ticks(a, 2);
    EXPECT_EQ(a.time_left, 1u);
    EXPECT_EQ(checked_tick(a), (std::vector<Event>{Event::TimeUp, Event::DiggerDied,
                                                   Event::DiggerDied, Event::AllLost}));
    EXPECT_EQ(a.time_left, 0u);
    EXPECT_EQ(a.outcome, Outcome::Lost);
    checked_ticks(a, 5);
    EXPECT_EQ(a.time_left, 0u);
}

TEST(Clock, WithOnePlayerOutAndTheOtherStillInsideTheLevelIsWonWithoutBonus) {
    Arena a = arena_from_picture({
        "######",
        "#1H.2#",
        "######",
    });
    a.time_left = 9;
    checked_tick(a, {go(Dir::Right)});
    ASSERT_EQ(a.diggers[0].state, DiggerState::Escaped);
    const std::uint32_t score = a.score;
    std::vector<Event> ev;
    while (ev.empty()) ev = checked_tick(a);
    EXPECT_EQ(ev, (std::vector<Event>{Event::TimeUp, Event::DiggerDied, Event::RoundOver}));
    EXPECT_EQ(a.outcome, Outcome::Finished);
    EXPECT_EQ(a.score, score);
}

TEST(Clock, TheClockStandsStillOnceALevelIsLost) {
    Arena a = arena_from_picture({
        "#####",
        "#1.m#",
        "#####",
    });
    a.diggers[0].state = DiggerState::Dead;
    a.creatures[0].step_timer = 100;
    EXPECT_EQ(checked_tick(a), std::vector<Event>{Event::AllLost});
    const std::uint32_t left = a.time_left;
    checked_ticks(a, 30);
    EXPECT_EQ(a.time_left, left);
    EXPECT_EQ(a.outcome, Outcome::Lost);
}

// ---------------------------------------------------------------------------

TEST(Hatch, ALevelWithoutCreaturesHasItsHatchOpenFromTheFirstTickWithoutFanfare) {
    Arena a = arena_from_picture({
        "#####",
        "#1.H#",
        "#####",
    });
    EXPECT_TRUE(checked_tick(a).empty());
    EXPECT_TRUE(a.hatch_open);
}

TEST(Hatch, TheHatchOpensWhenTheLastCreatureBurnsButNobodyEscapesInThatTick) {
    Arena a = arena_from_picture({
        "#######",
        "#H1..m#",
        "#######",
    });
    a.diggers[0].x = a.diggers[0].prev_x = 1;  // standing on the hatch
    a.creatures[0].step_timer = 100;
    a.fire_left[a.index(5, 1)] = 2;
    EXPECT_EQ(checked_tick(a), (std::vector<Event>{Event::CreatureKilled, Event::HatchOpened}));
    EXPECT_EQ(a.diggers[0].state, DiggerState::Alive);
    EXPECT_EQ(checked_tick(a), (std::vector<Event>{Event::DiggerEscaped, Event::RoundOver}));
    EXPECT_EQ(a.outcome, Outcome::Finished);
}

TEST(Hatch, ADiggerSteppingOntoTheOpenHatchEscapesInThatTickButNotWhileCreaturesRemain) {
    Arena a = arena_from_picture({
        "#######",
        "#1H...#",
        "#####m#",
        "#######",
    });
    checked_tick(a, {go(Dir::Right)});
    EXPECT_EQ(a.diggers[0].state, DiggerState::Alive);
    checked_ticks(a, 20);
    EXPECT_EQ(a.diggers[0].state, DiggerState::Alive);

    a.creatures.clear();
    a.diggers[0].x = a.diggers[0].prev_x = 1;
    a.diggers[0].step_timer = 0;
    const std::vector<Event> ev = checked_tick(a, {go(Dir::Right)});
    EXPECT_EQ(ev, (std::vector<Event>{Event::DiggerEscaped, Event::HatchOpened, Event::RoundOver}));
    EXPECT_EQ(a.diggers[0].state, DiggerState::Escaped);
    EXPECT_TRUE(arena_picture(a)[1] == "#.H...#");
}

TEST(Hatch, AWonLevelAddsTenPointsForEveryWholeSecondLeft) {
    Arena a = arena_from_picture({
        "#####",
        "#1H.#",
        "#####",
    });
    a.time_left = 1235;  // 1234 when the level ends in this tick
    a.score = 7;
    checked_tick(a, {go(Dir::Right)});
    EXPECT_EQ(a.outcome, Outcome::Finished);
    EXPECT_EQ(a.score, 7u + 610u);
}

TEST(Hatch, InPairPlayTheLevelRunsOnAfterTheFirstEscapeAndALaterDeathDoesNotSpoilTheWin) {
    Arena a = arena_from_picture({
        "#######",
        "#1H..2#",
        "#######",
    });
    a.fire_left[a.index(5, 1)] = 0;
    EXPECT_EQ(checked_tick(a, {go(Dir::Right)}), std::vector<Event>{Event::DiggerEscaped});
    EXPECT_EQ(a.outcome, Outcome::Running);
    a.fire_left[a.index(5, 1)] = 3;
    EXPECT_EQ(checked_tick(a), (std::vector<Event>{Event::DiggerDied, Event::RoundOver}));
    EXPECT_EQ(a.outcome, Outcome::Finished);
}

// ---------------------------------------------------------------------------

TEST(Outcome, ALostLevelKeepsBurningAndCrawlingButDecidesNothingMore) {
    Arena a = arena_from_picture({
        "#########",
        "#1*....m#",
        "##X######",
        "#########",
    });
    a.charges[0].fuse = 3;
    a.diggers[0].state = DiggerState::Dead;
    EXPECT_EQ(count_of(checked_tick(a), Event::AllLost), 1);
    const std::uint32_t left = a.time_left;
    std::vector<Event> all = checked_ticks(a, 60);
    EXPECT_EQ(count_of(all, Event::Explosion), 1);
    EXPECT_EQ(count_of(all, Event::BrickBroken), 1);
    EXPECT_GT(count_of(all, Event::CreatureStep), 0);
    EXPECT_EQ(count_of(all, Event::AllLost) + count_of(all, Event::RoundOver) +
                  count_of(all, Event::HatchOpened),
              0);
    EXPECT_EQ(a.time_left, left);
    EXPECT_EQ(a.ticks, 61u);
    EXPECT_EQ(a.fire(2, 1), 0);
    EXPECT_EQ(a.outcome, Outcome::Lost);
}

TEST(Outcome, AFinishedArenaIsFrozen) {
    Arena a = arena_from_picture({
        "#######",
        "#1*..m#",
        "#######",
    });
    a.fire_left[a.index(3, 1)] = 5;
    a.outcome = Outcome::Finished;
    const Arena before = a;
    for (int n = 0; n < 60; ++n)
        EXPECT_TRUE(checked_tick(a, {{.drop = true, .dir = Dir::Right}}).empty());
    EXPECT_EQ(a.ticks, before.ticks);
    EXPECT_EQ(a.tiles, before.tiles);
    EXPECT_EQ(a.fire_left, before.fire_left);
    EXPECT_EQ(a.charges, before.charges);
    EXPECT_EQ(a.creatures, before.creatures);
    EXPECT_EQ(a.diggers, before.diggers);
    EXPECT_EQ(a.rng, before.rng);
    EXPECT_EQ(a.time_left, before.time_left);
}

// ---------------------------------------------------------------------------

Arena duel_of(const std::vector<std::string_view>& picture) {
    Arena a = arena_from_picture(picture);
    a.duel = true;
    a.time_left = 3000;
    return a;
}

TEST(DuelRounds, TheClockKillsNobodyInADuelAndTimeUpEndsTheRoundWithoutAWinner) {
    Arena a = duel_of({
        "#######",
        "#1...2#",
        "#######",
    });
    a.time_left = 2;
    EXPECT_TRUE(checked_tick(a).empty());
    EXPECT_EQ(checked_tick(a), (std::vector<Event>{Event::TimeUp, Event::RoundOver}));
    EXPECT_EQ(a.outcome, Outcome::Finished);
    EXPECT_FALSE(a.has_winner);
    EXPECT_EQ(a.diggers[0].state, DiggerState::Alive);
}

TEST(DuelRounds, TimeUpWithOneDiggerStandingMakesItTheWinnerEvenWithChargesBurning) {
    Arena a = duel_of({
        "#######",
        "#1...2#",
        "#######",
    });
    a.diggers[0].state = DiggerState::Dead;
    a.time_left = 1;
    a.charges.push_back({.x = 3, .y = 1, .owner = 1});
    a.diggers[1].charges_out = 1;
    EXPECT_EQ(checked_tick(a), (std::vector<Event>{Event::TimeUp, Event::RoundOver}));
    EXPECT_TRUE(a.has_winner);
    EXPECT_EQ(a.winner, 1);
}

TEST(DuelRounds, ASurvivorWinsOnlyOnceTheLastChargeHasGoneOffAndTheFireIsOut) {
    Arena a = duel_of({
        "#########",
        "#1.*....#",
        "#......2#",
        "#########",
    });
    a.charges[0].fuse = 10;
    a.diggers[0].x = a.diggers[0].prev_x = 2;  // in the blast
    std::vector<Event> ev;
    while (count_of(ev, Event::RoundOver) == 0 && a.ticks < 100) ev = checked_tick(a);
    EXPECT_EQ(a.ticks, 10u + 8u);  // the blast's tick, then eight ticks of fire
    EXPECT_EQ(a.diggers[0].state, DiggerState::Dead);
    EXPECT_TRUE(a.has_winner);
    EXPECT_EQ(a.winner, 1);
    EXPECT_EQ(ev, std::vector<Event>{Event::RoundOver});
}

TEST(DuelRounds, WhenTheLastTwoDieInOneBlastTheRoundEndsWithoutAWinnerOnceTheFireIsOut) {
    Arena a = duel_of({
        "#########",
        "#1.*.2..#",
        "#......3#",
        "#########",
    });
    a.charges[0].fuse = 1;
    a.diggers[2].state = DiggerState::Dead;
    EXPECT_EQ(checked_tick(a),
              (std::vector<Event>{Event::Explosion, Event::DiggerDied, Event::DiggerDied}));
    EXPECT_TRUE(checked_ticks(a, 7).empty());
    EXPECT_EQ(checked_tick(a), std::vector<Event>{Event::RoundOver});
    EXPECT_FALSE(a.has_winner);
    EXPECT_EQ(a.outcome, Outcome::Finished);
}

TEST(DuelRounds, DiggersCannotEscapeInADuel) {
    Arena a = duel_of({
        "#######",
        "#1H..2#",
        "#######",
    });
    checked_tick(a, {go(Dir::Right)});
    EXPECT_EQ(a.diggers[0].state, DiggerState::Alive);
    EXPECT_FALSE(a.hatch_open);
}

// ---------------------------------------------------------------------------

Arena open_duel_19x11() {
    Arena a(19, 11, 53473);
    for (std::int32_t y = 0; y < a.height; ++y)
        for (std::int32_t x = 0; x < a.width; ++x)
            if (x == 0 || y == 0 || x == a.width - 1 || y == a.height - 1)
                a.set_tile(x, y, Tile::steel());
    a.duel = true;
    a.time_left = 3000;
    return a;
}

TEST(ClosingWall, OnTheDuelArenaTheRowsCloseOneToNineTwoToEightAndSoOnTillTimeLeft188) {
    Arena a = open_duel_19x11();
    // Two diggers wait on the very last block, so the round lasts until then.
    a.diggers.push_back(testing::digger_at(17, 5));
    a.diggers.push_back(testing::digger_at(17, 5));
    a.time_left = 801;
    std::vector<Cell> blocks;
    std::vector<std::uint32_t> times;
    while (a.outcome == Outcome::Running) {
        const std::vector<Tile> before = a.tiles;
        const std::vector<Event> ev = checked_tick(a);
        if (count_of(ev, Event::WallClosed) == 0) continue;
        EXPECT_EQ(count_of(ev, Event::WallClosed), 1);
        for (std::int32_t y = 0; y < a.height; ++y)
            for (std::int32_t x = 0; x < a.width; ++x)
                if (before[a.index(x, y)] != a.tile(x, y)) blocks.push_back({x, y});
        times.push_back(a.time_left);
    }
    ASSERT_EQ(blocks.size(), 153u);
    ASSERT_EQ(times.size(), 153u);
    EXPECT_EQ(times.front(), 796u);
    EXPECT_EQ(times.back(), 188u);
    const std::vector<std::int32_t> rows = {1, 9, 2, 8, 3, 7, 4, 6, 5};
    for (std::size_t r = 0; r < rows.size(); ++r) {
        const bool from_top = r % 2 == 0;
        for (std::int32_t n = 0; n < 17; ++n) {
            const Cell expected{from_top ? 1 + n : 17 - n, rows[r]};
            const std::size_t block = r * 17 + static_cast<std::size_t>(n);
            EXPECT_EQ(blocks[block], expected) << "block " << block;
        }
    }
    // The last block crushes both diggers; the round ends at once, drawn.
    EXPECT_EQ(a.time_left, 188u);
    EXPECT_FALSE(a.has_winner);
    for (std::int32_t y = 1; y < 10; ++y)
        EXPECT_EQ(arena_picture(a)[static_cast<std::size_t>(y)], "###################");
}

TEST(ClosingWall, AfterTheArenaIsFullNothingMoreCloses) {
    Arena a = open_duel_19x11();
    a.diggers.push_back(testing::digger_at(1, 1));
    a.diggers.push_back(testing::digger_at(2, 1));
    a.time_left = 188;
    a.charges.push_back({.x = 3, .y = 1, .fuse = 60000, .owner = 0});  // keeps the round going
    a.diggers[0].charges_out = 1;
    a.set_tile(3, 1, Tile::empty());
    const std::vector<Event> ev = checked_ticks(a, 187);
    EXPECT_EQ(count_of(ev, Event::WallClosed), 0);
    EXPECT_EQ(count_of(checked_tick(a), Event::RoundOver), 1);
}

TEST(ClosingWall, ABlockCrushesTheDiggerAndTheChargeOnItsCellAndPutsOutTheFire) {
    Arena a = open_duel_19x11();
    a.diggers.push_back(testing::digger_at(1, 1));
    a.diggers.push_back(testing::digger_at(9, 5));
    a.diggers.push_back(testing::digger_at(9, 6));
    a.charges.push_back({.x = 1, .y = 1, .fuse = 30, .owner = 2});
    a.diggers[2].charges_out = 1;
    a.fire_left[a.index(1, 1)] = 5;
    a.time_left = 797;
    // The fire would set the charge off in step 7; the wall comes first.
    EXPECT_EQ(checked_tick(a), (std::vector<Event>{Event::WallClosed, Event::DiggerDied}));
    EXPECT_EQ(a.tile(1, 1), Tile::steel());
    EXPECT_EQ(a.fire(1, 1), 0);
    EXPECT_TRUE(a.charges.empty());
    EXPECT_EQ(a.diggers[2].charges_out, 0);
    EXPECT_EQ(a.diggers[0].state, DiggerState::Dead);
    // Three more ticks of nothing, then the next block, to the right.
    EXPECT_TRUE(checked_ticks(a, 3).empty());
    EXPECT_EQ(checked_tick(a), std::vector<Event>{Event::WallClosed});
    EXPECT_EQ(a.tile(2, 1), Tile::steel());
}

TEST(ClosingWall, OnlyDuelsHaveAClosingWall) {
    Arena a = open_duel_19x11();
    a.duel = false;
    a.diggers.push_back(testing::digger_at(1, 1));
    a.time_left = 700;
    EXPECT_EQ(count_of(checked_ticks(a, 100), Event::WallClosed), 0);
}

}  // namespace
}  // namespace zobra
