// The session driven frame by frame, the way the shell drives it.

#include "game/session.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "core/levels.h"

namespace zobra {
namespace {

constexpr float frame_dt = 1.0f / 60.0f;

FrameInput input_with(const std::function<void(FrameInput&)>& set) {
    FrameInput input;
    set(input);
    return input;
}

FrameInput pressed(Dir dir, std::size_t slot = 0) {
    return input_with([&](FrameInput& f) {
        f.pressed_dir[slot] = dir;
        f.held_dir[slot] = dir;
    });
}
FrameInput held(Dir dir, std::size_t slot = 0) {
    return input_with([&](FrameInput& f) { f.held_dir[slot] = dir; });
}
const FrameInput nothing{};
// Enter (or a click, a tap, a pad) and Space: both confirm, but Space types on
// the naming screen.
const FrameInput confirm = input_with([](FrameInput& f) { f.confirm = f.confirm_typing = true; });
const FrameInput space = input_with([](FrameInput& f) {
    f.confirm = true;
    f.typed = " ";
});
const FrameInput back = input_with([](FrameInput& f) { f.back = true; });
const FrameInput pause = input_with([](FrameInput& f) { f.pause = true; });
const FrameInput restart = input_with([](FrameInput& f) { f.restart = true; });
const FrameInput open_all = input_with([](FrameInput& f) { f.open_all = true; });
const FrameInput music = input_with([](FrameInput& f) { f.music = true; });
const FrameInput rename = input_with([](FrameInput& f) { f.rename = true; });
const FrameInput next = input_with([](FrameInput& f) { f.next_player = true; });

// A walled room with digger 0 at (1, 1) and nothing else.
Arena room(std::int32_t width, std::int32_t height) {
    Arena arena(width, height, 7);
    for (std::int32_t y = 0; y < height; ++y)
        for (std::int32_t x = 0; x < width; ++x)
            if (x == 0 || y == 0 || x == width - 1 || y == height - 1)
                arena.set_tile(x, y, Tile::steel());
    Digger digger;
    digger.place({1, 1});
    arena.diggers.push_back(digger);
    return arena;
}

// A level whose digger escapes through the hatch to its right at the next
// step to the right.
Arena hatch_next_door() {
    Arena arena = room(6, 5);
    arena.set_tile(2, 1, Tile::hatch());
    return arena;
}

// A level lost at the next step: the clock runs out.
Arena clock_at_one() {
    Arena arena = room(6, 5);
    arena.time_left = 1;
    return arena;
}

// A duel round that digger `winner` wins at the next step; the others are
// already dead.
Arena duel_won_by(std::uint8_t winner) {
    Arena arena = room(9, 9);
    arena.duel = true;
    arena.diggers.resize(4, arena.diggers[0]);
    for (std::size_t i = 0; i < 4; ++i) {
        arena.diggers[i].bot = i >= 1;
        if (i != winner) arena.diggers[i].state = DiggerState::Dead;
    }
    return arena;
}

// Runs frames; true when any of them asked the shell to save.
bool frames(Session& session, const FrameInput& input, int count, float dt = frame_dt) {
    bool save = false;
    for (int i = 0; i < count; ++i) save = session.update(input, dt).save || save;
    return save;
}

FrameInput typed(const std::string& text) {
    return input_with([&](FrameInput& f) { f.typed = text; });
}

bool in_play(const Session& session) { return shows_arena(session.screen); }

std::vector<Event> events_of(const FrameOutcome& outcome) {
    return {outcome.events.begin(), outcome.events.end()};
}

// Runs frames of nothing until the end screen accepts a confirm.
void wait_out_guard(Session& session) { frames(session, nothing, 31); }

// A confirm on an end screen acts at the next tick: a frame one tick long.
FrameOutcome confirm_at_next_tick(Session& session) {
    return session.update(confirm, tick_seconds);
}

Progress solved(std::uint64_t count) {
    Progress progress;
    progress.solved = count;
    return progress;
}

TEST(SessionTitle, StartsOnTheSavedPlayersNextLevelWithTheSavedChoices) {
    Progress progress = solved(12);
    progress.mode = Mode::Pair;
    progress.difficulty = Difficulty::Hard;
    Session session(progress);
    EXPECT_EQ(session.screen, Screen::Title);
    EXPECT_EQ(session.level_index, 12u);
    EXPECT_EQ(session.progress.mode, Mode::Pair);
    EXPECT_EQ(session.match.arena.diggers.size(), 1u);  // the title always holds a solo level
    EXPECT_EQ(session.match.arena.width,
              level_arena(level_catalogue()[12], 1, Difficulty::Hard).width);
    EXPECT_EQ(Session(solved(40)).level_index, 39u);
    EXPECT_EQ(Session(solved(1000)).level_index, 39u);
}

TEST(SessionTitle, HoldingRightMovesOnceThenRepeatsAfterAPause) {
    Session session(Progress{});
    session.progress.all_open = true;
    session.update(pressed(Dir::Right), frame_dt);
    EXPECT_EQ(session.level_index, 1u);
    // Nothing more until the hold passes 0.45 s.
    int frame = 1;
    while (session.level_index == 1 && frame < 100) {
        session.update(held(Dir::Right), frame_dt);
        ++frame;
    }
    // 27 frames of 1/60 s add up to just over 0.45 s in 32-bit floats.
    EXPECT_EQ(frame, 27);
    // Then one step per 0.06 s: every third or fourth frame at 60 frames a second.
    std::vector<int> gaps;
    int last = frame;
    std::uint64_t level = session.level_index;
    for (; frame < 60; ++frame) {
        session.update(held(Dir::Right), frame_dt);
        if (session.level_index != level) {
            gaps.push_back(frame + 1 - last);
            last = frame + 1;
            level = session.level_index;
        }
    }
    ASSERT_FALSE(gaps.empty());
    for (int gap : gaps) EXPECT_TRUE(gap == 3 || gap == 4) << gap;

    // With long frames it still moves at most once per frame, and stops at 40.
    EXPECT_FALSE(frames(session, held(Dir::Right), 60, 0.1f));  // the level choice is not saved
    EXPECT_EQ(session.level_index, 39u);
}

TEST(SessionTitle, LettingGoStopsTheRepeatAndUpChangesTheModeOnce) {
    Session session(Progress{});
    frames(session, held(Dir::Right), 26);
    session.update(nothing, frame_dt);
    frames(session, held(Dir::Right), 26);
    EXPECT_EQ(session.level_index, 0u);

    EXPECT_TRUE(session.update(pressed(Dir::Up), frame_dt).save);
    EXPECT_FALSE(frames(session, held(Dir::Up), 120));
    EXPECT_EQ(session.progress.mode, Mode::Pair);
    session.update(pressed(Dir::Down, 1), frame_dt);  // the second half works the menu too
    EXPECT_EQ(session.progress.difficulty, Difficulty::Hard);
    session.update(pressed(Dir::Down), frame_dt);
    EXPECT_EQ(session.progress.difficulty, Difficulty::Easy);
    for (Mode expected : {Mode::DuelSolo, Mode::DuelPair, Mode::Solo}) {
        session.update(pressed(Dir::Up), frame_dt);
        EXPECT_EQ(session.progress.mode, expected);
    }
}

TEST(SessionTitle, LeftAndRightCycleTheDuelPlacesAndLeaveTheLevelAlone) {
    Progress progress = solved(5);
    progress.mode = Mode::DuelSolo;
    Session session(progress);
    session.update(pressed(Dir::Left), frame_dt);
    EXPECT_EQ(session.duel_arena_index, 4u);
    session.update(pressed(Dir::Right), frame_dt);
    session.update(pressed(Dir::Right), frame_dt);
    EXPECT_EQ(session.duel_arena_index, 1u);
    EXPECT_EQ(session.level_index, 5u);
    session.update(pressed(Dir::Left, 1), frame_dt);
    EXPECT_EQ(session.duel_arena_index, 0u);
}

TEST(SessionTitle, ALockedLevelIgnoresConfirmUntilF9OpensEverything) {
    Session session(solved(1));
    session.update(pressed(Dir::Right), frame_dt);
    EXPECT_EQ(session.level_index, 2u);
    EXPECT_FALSE(session.update(confirm, frame_dt).save);
    EXPECT_FALSE(in_play(session));

    EXPECT_TRUE(session.update(open_all, frame_dt).save);
    EXPECT_TRUE(session.progress.all_open);
    session.update(confirm, frame_dt);
    EXPECT_EQ(session.screen, Screen::Play);
    EXPECT_EQ(session.match.arena.width,
              level_arena(level_catalogue()[2], 1, Difficulty::Normal).width);

    // The level just opened by the last win is open, and so are earlier ones.
    Session next_level(solved(1));
    next_level.update(confirm, frame_dt);
    EXPECT_TRUE(in_play(next_level));
    EXPECT_EQ(next_level.level_index, 1u);
    next_level.update(back, frame_dt);
    next_level.update(pressed(Dir::Left), frame_dt);
    next_level.update(confirm, frame_dt);
    EXPECT_TRUE(in_play(next_level));
}

TEST(SessionTitle, EscLeavesTheProgramAndTheNamingScreenTakesConfirmAndEsc) {
    Session session(Progress{});
    // The N that opens the naming screen is not typed into the name.
    FrameInput opening = typed("n");
    opening.rename = true;
    session.update(opening, frame_dt);
    EXPECT_EQ(session.screen, Screen::Naming);
    EXPECT_EQ(session.naming_text, "");
    session.update(typed("an"), frame_dt);
    FrameInput letter_m = typed("m");
    letter_m.music = true;  // M is a letter here, not the music
    EXPECT_FALSE(session.update(letter_m, frame_dt).save);
    EXPECT_FALSE(session.progress.music_off);
    FrameInput last_letter_and_enter = typed("a");
    last_letter_and_enter.confirm = last_letter_and_enter.confirm_typing = true;
    EXPECT_TRUE(session.update(last_letter_and_enter, frame_dt).save);
    EXPECT_EQ(session.progress.name, "ANMA");
    EXPECT_EQ(session.screen, Screen::Title);

    session.update(rename, frame_dt);
    session.update(typed("bert"), frame_dt);
    EXPECT_EQ(session.naming_text, "BERT");
    const FrameOutcome cancelled = session.update(back, frame_dt);
    EXPECT_EQ(session.progress.name, "ANMA");
    EXPECT_FALSE(cancelled.save);
    EXPECT_FALSE(cancelled.leave);
    EXPECT_EQ(session.naming_text, "");

    EXPECT_TRUE(session.update(back, frame_dt).leave);
}

TEST(SessionTitle, SpaceNeitherEndsANameNorGoesIntoIt) {
    Session session(Progress{});
    session.update(rename, frame_dt);
    for (const char* text : {"A", "b", "-", "3"}) session.update(typed(text), frame_dt);
    EXPECT_FALSE(session.update(space, frame_dt).save);
    EXPECT_EQ(session.screen, Screen::Naming);
    session.update(typed("x"), frame_dt);
    EXPECT_TRUE(session.update(confirm, frame_dt).save);
    EXPECT_EQ(session.progress.name, "AB3X");
    EXPECT_EQ(session.screen, Screen::Title);
    // On the title itself Space starts the level as ever.
    session.update(space, frame_dt);
    EXPECT_EQ(session.screen, Screen::Play);
}

TEST(SessionTitle, TabSwitchesPlayerAndShowsTheirNextLevel) {
    Progress progress = solved(3);
    progress.others.push_back(Profile{1, "ZWEI", 12, {}});
    Session session(progress);
    EXPECT_TRUE(session.update(next, frame_dt).save);
    EXPECT_EQ(session.progress.slot, 1u);
    EXPECT_EQ(session.level_index, 12u);
}

TEST(SessionTitle, MusicTogglesOnTheTitleAndInPlay) {
    Session session(Progress{});
    session.update(music, frame_dt);
    EXPECT_TRUE(session.progress.music_off);
    session.update(confirm, frame_dt);
    EXPECT_TRUE(session.update(music, frame_dt).save);
    EXPECT_FALSE(session.progress.music_off);
}

TEST(SessionPlay, EscGoesBackToTheTitleKeepingTheArena) {
    Session session(Progress{});
    session.update(confirm, frame_dt);
    frames(session, held(Dir::Right), 20);
    const Arena before = session.match.arena;
    EXPECT_FALSE(session.update(back, frame_dt).leave);
    EXPECT_EQ(session.screen, Screen::Title);
    EXPECT_EQ(session.match.arena.ticks, before.ticks);
    EXPECT_EQ(session.match.arena.diggers, before.diggers);
}

TEST(SessionPlay, PauseHoldsTheGameAndRestartBeginsAfresh) {
    Session session(Progress{});
    session.update(confirm, frame_dt);
    frames(session, nothing, 12);
    const std::uint32_t ticks = session.match.arena.ticks;
    EXPECT_GT(ticks, 0u);
    session.update(pause, frame_dt);
    EXPECT_EQ(session.screen, Screen::Pause);
    frames(session, nothing, 30);
    EXPECT_EQ(session.match.arena.ticks, ticks);
    session.update(pause, frame_dt);
    EXPECT_EQ(session.screen, Screen::Play);

    session.update(pause, frame_dt);
    session.update(restart, frame_dt);
    EXPECT_EQ(session.screen, Screen::Play);
    EXPECT_EQ(session.match.arena.ticks, 0u);
}

TEST(SessionPlay, PauseDoesNothingOnAnEndScreen) {
    Session session(Progress{});
    session.update(confirm, frame_dt);
    session.match.arena = clock_at_one();
    frames(session, nothing, 3);
    EXPECT_EQ(session.screen, Screen::Lost);
    EXPECT_TRUE(session.match.time_up);
    session.update(pause, frame_dt);
    EXPECT_EQ(session.screen, Screen::Lost);
}

TEST(SessionPlay, AnEndScreenIgnoresConfirmForHalfASecondAndDoesNotRememberIt) {
    Session session(Progress{});
    session.update(confirm, frame_dt);
    session.match.arena = clock_at_one();
    frames(session, nothing, 3);  // the step that loses falls in one of these
    ASSERT_EQ(session.match.arena.outcome, Outcome::Lost);
    const float lost_for = session.end_timer;
    EXPECT_LT(lost_for, 0.05f);

    session.update(confirm, 0.4f);
    EXPECT_EQ(session.match.arena.outcome, Outcome::Lost);
    session.update(nothing, 0.1f);  // now past 0.5 s, but the confirm is gone
    EXPECT_EQ(session.match.arena.outcome, Outcome::Lost);
    EXPECT_TRUE(in_play(session));

    // Between 0.5 and 0.7 s a confirm already counts: the same level again.
    confirm_at_next_tick(session);
    EXPECT_EQ(session.screen, Screen::Play);
    EXPECT_EQ(session.match.arena.ticks, 0u);
    EXPECT_FALSE(session.match.time_up);
    EXPECT_EQ(session.level_index, 0u);
}

TEST(SessionPlay, AWinRecordsTheLevelAndCarriesItemsIntoTheNext) {
    Session session(Progress{});
    session.update(confirm, frame_dt);
    session.match.arena = hatch_next_door();
    session.match.arena.diggers[0].boots = true;
    session.match.arena.diggers[0].max_charges = 3;
    session.match.arena.diggers[0].reach = 4;
    const FrameOutcome won = session.update(pressed(Dir::Right), 0.05f);
    ASSERT_EQ(session.screen, Screen::LevelWon);
    EXPECT_EQ(session.progress.solved, 1u);
    EXPECT_TRUE(won.save);
    EXPECT_EQ(session.match.carry[0], (Carry{true, 3, 4}));
    EXPECT_TRUE(won.events.contains(Event::RoundOver));

    // No step runs on the win screen; confirm after the guard starts level 2.
    const std::uint32_t ticks = session.match.arena.ticks;
    wait_out_guard(session);
    EXPECT_EQ(session.match.arena.ticks, ticks);
    confirm_at_next_tick(session);
    EXPECT_EQ(session.screen, Screen::Play);
    EXPECT_EQ(session.level_index, 1u);
    const Digger& digger = session.match.arena.diggers[0];
    const Level& level = level_catalogue()[1];
    EXPECT_TRUE(digger.boots);
    EXPECT_EQ(digger.max_charges, std::max<std::uint8_t>(3, level.start_charges));
    EXPECT_EQ(digger.reach, std::max<std::uint8_t>(4, level.start_reach));
    EXPECT_EQ(session.match.carry[0], std::nullopt);
}

TEST(SessionPlay, ARetryAfterLosingStartsWithoutCarry) {
    Session session(Progress{});
    session.progress.all_open = true;
    session.update(confirm, frame_dt);
    session.match.arena = hatch_next_door();
    session.match.arena.diggers[0].boots = true;
    session.update(pressed(Dir::Right), 0.05f);
    wait_out_guard(session);
    confirm_at_next_tick(session);
    ASSERT_TRUE(session.match.arena.diggers[0].boots);

    session.match.arena = clock_at_one();
    frames(session, nothing, 3);
    wait_out_guard(session);
    confirm_at_next_tick(session);
    EXPECT_EQ(session.level_index, 1u);
    EXPECT_FALSE(session.match.arena.diggers[0].boots);
}

TEST(SessionPlay, AWinWithALowerScoreAsksForNoSave) {
    Progress progress = solved(1);
    progress.best = {100000};
    Session session(progress);
    session.update(pressed(Dir::Left), frame_dt);
    session.update(confirm, frame_dt);
    ASSERT_EQ(session.level_index, 0u);
    session.match.arena = hatch_next_door();
    session.match.arena.time_left = 0;
    EXPECT_FALSE(session.update(pressed(Dir::Right), 0.05f).save);
    ASSERT_EQ(session.match.arena.outcome, Outcome::Finished);
}

TEST(SessionPlay, AfterTheLastLevelConfirmReturnsToTheTitleOnLevelForty) {
    Progress progress = solved(39);
    Session session(progress);
    session.update(confirm, frame_dt);
    ASSERT_EQ(session.level_index, 39u);
    session.match.arena = hatch_next_door();
    session.update(pressed(Dir::Right), 0.05f);
    EXPECT_EQ(session.progress.solved, 40u);
    wait_out_guard(session);
    confirm_at_next_tick(session);
    EXPECT_EQ(session.screen, Screen::Title);
    EXPECT_EQ(session.level_index, 39u);
}

TEST(SessionDuel, AMatchGoesToTheFirstDiggerWithThreeRoundWins) {
    Progress progress;
    progress.mode = Mode::DuelSolo;
    Session session(progress);
    session.update(pressed(Dir::Right), frame_dt);
    session.update(confirm, frame_dt);
    ASSERT_TRUE(in_play(session));
    EXPECT_TRUE(session.match.arena.duel);
    EXPECT_EQ(session.match.arena.diggers.size(), 4u);

    auto play_round = [&](Arena arena) {
        session.match.arena = std::move(arena);
        EXPECT_FALSE(session.update(nothing, 0.05f).save);  // duels record nothing
        EXPECT_EQ(session.screen, Screen::DuelRoundOver);
        wait_out_guard(session);
        EXPECT_FALSE(confirm_at_next_tick(session).save);
    };
    play_round(duel_won_by(2));
    EXPECT_EQ(session.match.duel_round, 1u);
    Arena draw = duel_won_by(0);
    draw.diggers[0].state = DiggerState::Dead;
    play_round(draw);  // nobody left standing: a draw counts for nobody
    play_round(duel_won_by(2));
    play_round(duel_won_by(1));
    EXPECT_EQ(session.match.duel_wins, (std::array<std::uint32_t, 4>{0, 1, 2, 0}));
    EXPECT_EQ(session.match.duel_round, 4u);
    EXPECT_TRUE(in_play(session));
    play_round(duel_won_by(2));
    EXPECT_EQ(session.match.duel_wins[2], 3u);
    EXPECT_EQ(session.screen, Screen::Title);

    // The next match starts from nothing.
    session.update(confirm, frame_dt);
    EXPECT_EQ(session.match.duel_wins, (std::array<std::uint32_t, 4>{}));
    EXPECT_EQ(session.match.duel_round, 0u);
}

TEST(SessionDuel, RestartBeginsTheWholeMatchAgain) {
    Progress progress;
    progress.mode = Mode::DuelPair;
    Session session(progress);
    session.update(confirm, frame_dt);
    session.match.arena = duel_won_by(1);
    session.update(nothing, 0.05f);
    wait_out_guard(session);
    confirm_at_next_tick(session);
    ASSERT_EQ(session.match.duel_round, 1u);
    session.update(restart, frame_dt);
    EXPECT_EQ(session.match.duel_round, 0u);
    EXPECT_EQ(session.match.duel_wins, (std::array<std::uint32_t, 4>{}));
    EXPECT_FALSE(session.match.arena.diggers[1].bot);  // two people, two bots
    EXPECT_TRUE(session.match.arena.diggers[2].bot);
}

// A session in play on an open room, the digger at (1, 1) with room to
// walk right and down.
Session in_room(Mode mode, std::size_t diggers = 1) {
    Progress progress;
    progress.mode = mode;
    Session session(progress);
    session.update(confirm, frame_dt);
    session.match.arena = room(12, 12);
    session.match.arena.creatures.clear();
    session.match.arena.diggers.resize(diggers, session.match.arena.diggers[0]);
    if (diggers > 1) {
        session.match.arena.diggers[1].place({5, 5});
    }
    return session;
}

TEST(SessionTicks, InSoloBothKeyboardHalvesSteerPlayerOne) {
    Session session = in_room(Mode::Solo);
    session.update(held(Dir::Right, 1), 0.05f);
    EXPECT_EQ(session.match.arena.diggers[0].x, 2);
    frames(session, nothing, 4, 0.05f);
    session.update(held(Dir::Down, 0), 0.05f);
    EXPECT_EQ(session.match.arena.diggers[0].y, 2);
    frames(session, nothing, 4, 0.05f);
    // A press on either half is latched and used by player 1.
    session.update(pressed(Dir::Right, 1), 0.05f);
    EXPECT_EQ(session.match.arena.diggers[0].x, 3);
}

TEST(SessionTicks, InPairEachHalfSteersItsOwnPlayer) {
    Session session = in_room(Mode::Pair, 2);
    FrameInput both;
    both.held_dir = {Dir::Down, Dir::Right};
    session.update(both, 0.05f);
    EXPECT_EQ(session.match.arena.diggers[0].y, 2);
    EXPECT_EQ(session.match.arena.diggers[0].x, 1);
    EXPECT_EQ(session.match.arena.diggers[1].x, 6);
    EXPECT_EQ(session.match.arena.diggers[1].y, 5);
}

TEST(SessionTicks, APressShorterThanAFrameStillMovesAtTheNextTick) {
    Session session = in_room(Mode::Solo);
    FrameInput tap;
    tap.pressed_dir[0] = Dir::Down;  // pressed and released within the frame
    session.update(tap, 0.02f);      // no step in this frame
    EXPECT_EQ(session.match.arena.ticks, 0u);
    session.update(nothing, 0.02f);
    EXPECT_EQ(session.match.arena.ticks, 0u);
    session.update(nothing, 0.02f);
    EXPECT_EQ(session.match.arena.ticks, 1u);
    EXPECT_EQ(session.match.arena.diggers[0].y, 2);
}

TEST(SessionTicks, ADropPressInAFrameWithoutATickLightsAtTheNextTick) {
    Session session = in_room(Mode::Solo);
    FrameInput drop;
    drop.drop[1] = true;  // the second half's drop key steers player 1 in solo
    session.update(drop, 0.03f);
    EXPECT_TRUE(session.match.arena.charges.empty());
    EXPECT_EQ(events_of(session.update(nothing, 0.03f)), std::vector<Event>{Event::ChargeLit});
    ASSERT_EQ(session.match.arena.charges.size(), 1u);
    EXPECT_EQ(session.update(nothing, 0.05f).events.size(), 0u);
    EXPECT_EQ(session.match.arena.charges.size(), 1u);  // the press was used up
}

TEST(SessionTicks, APressWinsOverAHeldKey) {
    Session session = in_room(Mode::Solo);
    FrameInput tap;
    tap.pressed_dir[0] = Dir::Down;
    session.update(tap, 0.02f);
    session.update(held(Dir::Right), 0.04f);
    EXPECT_EQ(session.match.arena.diggers[0].y, 2);
    EXPECT_EQ(session.match.arena.diggers[0].x, 1);
}

TEST(SessionTicks, AFrameOfAFifthOfASecondRunsTwoTicksAndShortFramesCarryTheRest) {
    Session session = in_room(Mode::Solo);
    session.update(nothing, 0.1f);
    EXPECT_EQ(session.match.arena.ticks, 2u);
    EXPECT_EQ(session.tick_time, 0.0f);

    Session slow = in_room(Mode::Solo);
    std::vector<std::uint32_t> ticks;
    for (int i = 0; i < 10; ++i) {
        slow.update(nothing, 0.03f);
        ticks.push_back(slow.match.arena.ticks);
    }
    // In 32-bit floats 0.02 + 0.03 falls just short of 0.05: the step waits
    // for the next frame.
    EXPECT_EQ(ticks, (std::vector<std::uint32_t>{0, 1, 1, 2, 2, 3, 4, 4, 5, 5}));
    EXPECT_LT(slow.tick_time, tick_seconds);
}

TEST(SessionTicks, EachEventKindIsListedOnceAFrameInOrderOfFirstOccurrence) {
    Session session = in_room(Mode::Solo);
    Arena& arena = session.match.arena;
    for (std::int32_t x = 3; x <= 6; ++x) arena.set_tile(x, 1, Tile::brick(Hidden::Nothing));
    arena.set_tile(1, 2, Tile::brick(Hidden::Nothing));
    arena.charges.push_back(Charge{2, 1, 1, 8, 0});
    arena.diggers[0].place({10, 10});
    EXPECT_EQ(events_of(session.update(nothing, 0.05f)),
              (std::vector<Event>{Event::Explosion, Event::BrickBroken}));
    EXPECT_EQ(session.match.arena.score, 5u);
}

TEST(SessionTicks, CreatureStepsAreHeardOnlyFromCreaturesNearTheView) {
    // A big arena: the camera sits at the top-left, a mite far to the right
    // is out of sight, a wisp near the digger is in it.
    Session session = in_room(Mode::Solo);
    Arena arena = room(60, 12);
    Creature far_mite;
    far_mite.place({50, 5});
    arena.creatures.push_back(far_mite);
    Creature near_wisp = far_mite;
    near_wisp.kind = CreatureKind::Wisp;
    near_wisp.place({4, 5});
    arena.creatures.push_back(near_wisp);
    session.match.arena = arena;
    session.camera = {0.0f, 0.0f};
    const FrameOutcome heard = session.update(nothing, 0.05f);
    EXPECT_TRUE(heard.events.contains(Event::WispStep));
    EXPECT_FALSE(heard.events.contains(Event::CreatureStep));
    // Moved into view, the mite is heard.
    session.match.arena.creatures = {far_mite};
    session.match.arena.creatures[0].place({19, 5});
    session.camera.x = 0.0f;
    EXPECT_EQ(events_of(session.update(nothing, 0.05f)), std::vector<Event>{Event::CreatureStep});
}

TEST(SessionCamera, ASmallArenaIsCentredAndALargeOneFollowsTheDigger) {
    Session session = in_room(Mode::Solo);
    session.match.arena = room(13, 9);  // 208 × 144 pixels in a 320 × 176 view
    EXPECT_EQ(camera_target(session), (CameraPos{-56.0f, -16.0f}));

    session.match.arena = room(40, 30);
    Digger& digger = session.match.arena.diggers[0];
    digger.x = digger.prev_x = 1;
    digger.y = digger.prev_y = 1;
    EXPECT_EQ(camera_target(session), (CameraPos{0.0f, 0.0f}));
    digger.x = digger.prev_x = 20;
    digger.y = digger.prev_y = 15;
    EXPECT_EQ(camera_target(session), (CameraPos{320.0f + 8.0f - 160.0f, 240.0f + 8.0f - 88.0f}));
    digger.x = digger.prev_x = 38;
    digger.y = digger.prev_y = 28;
    EXPECT_EQ(camera_target(session), (CameraPos{640.0f - 320.0f, 480.0f - 176.0f}));

    // Mid-step the target follows the slide; a dead digger is followed where it lies.
    digger.prev_x = 19;
    digger.x = 20;
    digger.y = digger.prev_y = 15;
    digger.step_timer = digger.step_len = 4;
    session.tick_time = 0.025f;
    EXPECT_FLOAT_EQ(camera_target(session).x, 16.0f * (20.0f - 3.5f / 4.0f) + 8.0f - 160.0f);
    digger.state = DiggerState::Dead;
    EXPECT_EQ(camera_target(session).x, 320.0f + 8.0f - 160.0f);
}

TEST(SessionCamera, TheCameraGlidesDuringPlayAndJumpsOnAStart) {
    Session session = in_room(Mode::Solo);
    session.match.arena = room(40, 30);
    Digger& digger = session.match.arena.diggers[0];
    digger.x = digger.prev_x = 20;
    digger.y = digger.prev_y = 15;
    session.camera = {0.0f, 0.0f};
    session.update(nothing, 0.1f);
    // k = 0.7 of the way in one frame of 0.1 s
    EXPECT_NEAR(session.camera.x, 168.0f * 0.7f, 1e-3f);
    EXPECT_NEAR(session.camera.y, 160.0f * 0.7f, 1e-3f);

    session.update(restart, frame_dt);
    EXPECT_EQ(session.camera, camera_target(session));
}

TEST(SessionCamera, TwoPlayersAreFollowedAtTheirMiddleAndBotsAreNot) {
    Session session = in_room(Mode::Pair, 2);
    session.match.arena = room(60, 40);
    session.match.arena.diggers.resize(3, session.match.arena.diggers[0]);
    auto place = [&](std::size_t i, int x, int y) {
        Digger& d = session.match.arena.diggers[i];
        d.x = d.prev_x = x;
        d.y = d.prev_y = y;
    };
    place(0, 20, 20);
    place(1, 30, 10);
    place(2, 55, 35);
    session.match.arena.diggers[2].bot = true;
    EXPECT_EQ(camera_target(session), (CameraPos{400.0f + 8.0f - 160.0f, 240.0f + 8.0f - 88.0f}));
    session.match.arena.diggers[1].state = DiggerState::Escaped;
    EXPECT_EQ(camera_target(session), (CameraPos{320.0f + 8.0f - 160.0f, 320.0f + 8.0f - 88.0f}));
}

// A duel played from the keys, with its rounds confirmed, then left: the
// replay it leaves shows the same match again, tick for tick, and F plays
// it faster without changing it.
TEST(SessionReplay, AMatchPlayedFromTheKeysIsKeptAndShownAgainAlike) {
    Progress progress;
    progress.mode = Mode::DuelSolo;
    Session session(progress);
    session.update(confirm, frame_dt);
    std::vector<FinishedReplay> kept;
    const FrameInput fast = input_with([](FrameInput& f) { f.fast = true; });
    for (int frame = 0; frame < 3000 && session.screen != Screen::Title; ++frame) {
        const FrameInput& input = frame % 40 == 0  ? space
                                  : frame % 7 == 0 ? pressed(static_cast<Dir>(frame / 7 % 4))
                                  : frame % 3 == 0 ? confirm
                                                   : fast;
        FrameOutcome out = session.update(input, frame_dt);
        for (FinishedReplay& replay : out.replays) kept.push_back(std::move(replay));
    }
    for (FinishedReplay& replay : session.update(back, frame_dt).replays)
        kept.push_back(std::move(replay));
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_GT(session.match.duel_round, 0u);

    auto decoded = decode_replay(kept[0].bytes);
    ASSERT_TRUE(std::holds_alternative<Replay>(decoded)) << std::get<std::string>(decoded);
    Session shown(Progress{});
    shown.start_playback(std::get<Replay>(decoded));
    for (int frame = 0; frame < 100000 && !shown.playback->done(); ++frame) {
        const FrameOutcome out = shown.update(frame % 2 ? fast : nothing, frame_dt);
        EXPECT_TRUE(out.replays.empty() && !out.save);
    }
    EXPECT_TRUE(shown.playback->verdict.matched());
    EXPECT_EQ(shown.match, session.match);
    EXPECT_TRUE(shown.update(back, frame_dt).leave);
}

}  // namespace
}  // namespace zobra
