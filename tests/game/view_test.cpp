#include "game/view.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>

#include "art/font.h"
#include "core/levels.h"
#include "game/layout.h"
#include "support/panic_error.h"

namespace zobra {
namespace {

constexpr Rgb text_colour{0xF0, 0xEC, 0xFA};
constexpr Rgb gold{0xFA, 0xCC, 0x30};
constexpr Rgb muted{0x96, 0x8C, 0xB4};
constexpr Rgb teal{0x60, 0xE8, 0xD0};
constexpr Rgb warning{0xFF, 0x60, 0x60};
constexpr Rgb hud_background{0x1A, 0x14, 0x30};
constexpr Rgb black{0, 0, 0};
constexpr Rgb orange{0xF0, 0x82, 0x3C};
constexpr Rgb blue{0x60, 0xA0, 0xFF};

const SpriteSet& sprites() {
    static const SpriteSet set = build_sprite_set();
    return set;
}

const Sprite& sprite(SpriteKey key) { return lookup_sprite(sprites(), key); }

// Where draw_text_centred puts the text.
std::int32_t centred_x(std::string_view text, std::int32_t scale) {
    return 160 - text_width(text) * scale / 2;
}

std::int32_t right_aligned_x(std::string_view text) { return 316 - text_width(text); }

// Every pixel the text would ink at (x, y) has the colour on the canvas.
::testing::AssertionResult inked(const Canvas& canvas, std::int32_t x, std::int32_t y,
                                 std::string_view text, Rgb colour, std::int32_t scale = 1) {
    constexpr Rgb probe{1, 2, 3};
    Canvas mask;
    draw_text(mask, x, y, text, probe, scale);
    int ink = 0;
    for (std::size_t py = 0; py < mask.height; ++py)
        for (std::size_t px = 0; px < mask.width; ++px) {
            if (!(mask.pixel(px, py) == probe)) continue;
            ++ink;
            const Rgb got = canvas.pixel(px, py);
            if (!(got == colour))
                return ::testing::AssertionFailure()
                       << "\"" << text << "\" at (" << px << ", " << py << ") is " << int{got.r}
                       << "," << int{got.g} << "," << int{got.b};
        }
    if (ink == 0)
        return ::testing::AssertionFailure() << "\"" << text << "\" inks nothing on the canvas";
    return ::testing::AssertionSuccess();
}

// The box the text takes on a plain background shows exactly that text:
// every pixel is ink or background, nothing else is written there.
::testing::AssertionResult shows(const Canvas& canvas, std::int32_t x, std::int32_t y,
                                 std::string_view text, Rgb colour, Rgb background) {
    Canvas expected;
    expected.fill_rect(0, 0, 320, 200, background);
    draw_text(expected, x, y, text, colour, 1);
    for (std::int32_t py = y - 1; py <= y + 7; ++py)
        for (std::int32_t px = x - 1; px <= x + text_width(text); ++px) {
            if (px < 0 || py < 0 || px >= 320 || py >= 200) continue;
            const auto ux = static_cast<std::size_t>(px);
            const auto uy = static_cast<std::size_t>(py);
            if (!(canvas.pixel(ux, uy) == expected.pixel(ux, uy)))
                return ::testing::AssertionFailure()
                       << "\"" << text << "\" differs at (" << px << ", " << py << ")";
        }
    return ::testing::AssertionSuccess();
}

// The sprite's opaque pixels are on the canvas with its top-left at (x, y).
::testing::AssertionResult drawn_at(const Canvas& canvas, const Sprite& s, std::int32_t x,
                                    std::int32_t y) {
    int seen = 0;
    for (std::size_t sy = 0; sy < s.height; ++sy)
        for (std::size_t sx = 0; sx < s.width; ++sx) {
            const std::int32_t px = x + static_cast<std::int32_t>(sx);
            const std::int32_t py = y + static_cast<std::int32_t>(sy);
            const auto& colour = s.at(sx, sy);
            if (!colour || px < 0 || py < 0 || px >= 320 || py >= 200) continue;
            ++seen;
            if (!(canvas.pixel(static_cast<std::size_t>(px), static_cast<std::size_t>(py)) ==
                  *colour))
                return ::testing::AssertionFailure() << "sprite pixel (" << sx << ", " << sy
                                                     << ") is not at (" << px << ", " << py << ")";
        }
    if (seen == 0)
        return ::testing::AssertionFailure() << "no pixel of the sprite is on the canvas";
    return ::testing::AssertionSuccess();
}

bool canvases_equal(const Canvas& a, const Canvas& b) { return a.pixels == b.pixels; }

class View : public ::testing::Test {
  protected:
    void paint() { draw_view(canvas, session, sprites()); }

    // Ends the arena the way a step would: the outcome and the screen that shows it.
    void decide(Outcome outcome) {
        session.match.arena.outcome = outcome;
        if (outcome == Outcome::Lost)
            session.screen = Screen::Lost;
        else if (outcome == Outcome::Finished)
            session.screen = session.match.arena.duel ? Screen::DuelRoundOver : Screen::LevelWon;
    }

    // A 30 × 20 arena of open floor inside a steel border, one digger at
    // (5, 5), no creatures; the camera at the top-left corner.
    void play_open_arena() {
        session.screen = Screen::Play;
        session.level_index = 0;
        Arena arena(30, 20, 1);
        for (std::int32_t y = 0; y < 20; ++y)
            for (std::int32_t x = 0; x < 30; ++x)
                if (x == 0 || y == 0 || x == 29 || y == 19) arena.set_tile(x, y, Tile::steel());
        Digger digger;
        digger.place({5, 5});
        arena.diggers.push_back(digger);
        arena.creatures.clear();
        session.match.arena = arena;
        session.camera = {0.0f, 0.0f};
        session.tick_time = 0.0f;
        session.animation_time = 0.0f;
    }

    void add_creatures(int count) {
        for (int k = 0; k < count; ++k) {
            Creature c;
            c.x = c.prev_x = 10 + k;
            c.y = c.prev_y = 10;
            session.match.arena.creatures.push_back(c);
        }
    }

    Canvas canvas;
    Session session{Progress{}};
};

// ---------------------------------------------------------------------------
// The arena and the camera.

TEST_F(View, WithTheCameraAtTheOriginCellZeroIsDrawnRightBelowTheDisplay) {
    play_open_arena();
    paint();
    EXPECT_TRUE(drawn_at(canvas, sprite(SpriteKey::steel()), 0, 24));
    EXPECT_TRUE(drawn_at(canvas, sprite(SpriteKey::steel()), 16, 24));
    EXPECT_TRUE(drawn_at(canvas, sprite(SpriteKey::steel()), 0, 40));
    EXPECT_TRUE(drawn_at(canvas, sprite(SpriteKey::floor()), 16, 40));
}

TEST_F(View, ASmallArenaSitsCentredOnBlack) {
    session.start_level(0);  // 13 × 9 cells: the camera stands at (−56, −16)
    paint();
    EXPECT_TRUE(drawn_at(canvas, sprite(SpriteKey::steel()), 56, 40));
    EXPECT_TRUE(drawn_at(canvas, sprite(SpriteKey::steel()), 56 + 12 * 16, 40 + 8 * 16));
    EXPECT_EQ(canvas.pixel(55, 100), black);
    EXPECT_EQ(canvas.pixel(56 + 13 * 16, 100), black);
    EXPECT_EQ(canvas.pixel(100, 39), black);
}

TEST_F(View, TheCameraRoundsHalfPixelsAwayFromZero) {
    play_open_arena();
    session.match.arena.set_tile(4, 2, Tile::dirt());
    session.camera = {40.5f, 7.5f};
    paint();
    EXPECT_TRUE(drawn_at(canvas, sprite(SpriteKey::dirt()), 64 - 41, 32 - 8 + 24));

    session.camera = {-0.5f, 0.0f};  // −1: cell 0 starts one pixel in
    paint();
    EXPECT_TRUE(drawn_at(canvas, sprite(SpriteKey::steel()), 1, 24));
    EXPECT_EQ(canvas.pixel(0, 30), black);
}

TEST_F(View, ADiggerWhoseStepHasJustBegunStandsOnItsPreviousCell) {
    play_open_arena();
    Digger& d = session.match.arena.diggers[0];
    d.prev_x = 4;
    d.x = 5;
    d.step_len = d.step_timer = 4;
    d.facing = Dir::Right;
    paint();
    EXPECT_TRUE(drawn_at(canvas, sprite(SpriteKey::digger(Dir::Right, 0, 0)), 64, 80 + 24));

    // Half way into the tick: t = (4 − 0.5) / 4, so it is drawn
    // round(16 × −0.875) = −14 pixels from its cell.
    session.tick_time = 0.025f;
    paint();
    EXPECT_TRUE(drawn_at(canvas, sprite(SpriteKey::digger(Dir::Right, 0, 0)), 80 - 14, 80 + 24));
}

TEST_F(View, WalkersChangeLegsHalfWayThroughAStep) {
    play_open_arena();
    Digger& d = session.match.arena.diggers[0];
    d.facing = Dir::Down;
    d.step_len = 4;
    d.step_timer = 1;  // 2 × 1 div 4 = 0
    paint();
    EXPECT_TRUE(drawn_at(canvas, sprite(SpriteKey::digger(Dir::Down, 0, 0)), 80, 80 + 24));
    d.step_timer = 3;  // 2 × 3 div 4 = 1
    d.prev_x = d.x;
    d.prev_y = d.y;
    paint();
    EXPECT_TRUE(drawn_at(canvas, sprite(SpriteKey::digger(Dir::Down, 0, 1)), 80, 80 + 24));
}

TEST_F(View, ADeadDiggerIsNotDrawnAndItsStatusTurnsGrey) {
    play_open_arena();
    paint();
    EXPECT_TRUE(shows(canvas, 4, 13, "L1 W2", orange, hud_background));
    session.match.arena.diggers[0].state = DiggerState::Dead;
    paint();
    EXPECT_TRUE(shows(canvas, 4, 13, "L1 W2", muted, hud_background));
    EXPECT_TRUE(drawn_at(canvas, sprite(SpriteKey::floor()), 80, 80 + 24));
}

TEST_F(View, AFuseFlickersFasterInItsLastSixteenTicks) {
    play_open_arena();
    session.match.arena.charges.push_back(Charge{3, 3, 15, 2, 0});
    session.match.arena.charges.push_back(Charge{6, 3, 16, 2, 0});
    session.animation_time = 0.07f;  // floor(16 t) = 1, floor(7 t) = 0
    paint();
    EXPECT_TRUE(drawn_at(canvas, sprite(SpriteKey::fuse(1)), 48, 48 + 24));
    EXPECT_TRUE(drawn_at(canvas, sprite(SpriteKey::fuse(0)), 96, 48 + 24));
    session.animation_time = 0.15f;  // floor(16 t) = 2, floor(7 t) = 1
    paint();
    EXPECT_TRUE(drawn_at(canvas, sprite(SpriteKey::fuse(0)), 48, 48 + 24));
    EXPECT_TRUE(drawn_at(canvas, sprite(SpriteKey::fuse(1)), 96, 48 + 24));
}

TEST_F(View, FireDarkensAsItBurnsOut) {
    play_open_arena();
    const std::array<std::pair<std::uint8_t, std::uint8_t>, 5> left_and_stage = {
        {{9, 0}, {8, 0}, {6, 1}, {3, 2}, {1, 3}}};
    for (std::size_t k = 0; k < left_and_stage.size(); ++k)
        session.match.arena
            .fire_left[session.match.arena.index(static_cast<std::int32_t>(2 + k), 8)] =
            left_and_stage[k].first;
    paint();
    for (std::size_t k = 0; k < left_and_stage.size(); ++k)
        EXPECT_TRUE(drawn_at(canvas, sprite(SpriteKey::blast(left_and_stage[k].second)),
                             16 * static_cast<std::int32_t>(2 + k), 128 + 24))
            << "fire with " << int{left_and_stage[k].first} << " ticks left";
}

TEST_F(View, TheHatchGlowsOnlyWhenNoCreatureIsLeft) {
    play_open_arena();
    session.match.arena.set_tile(7, 7, Tile::hatch());
    session.animation_time = 0.2f;  // pulse floor(1.2) mod 4 = 1
    add_creatures(1);
    paint();
    EXPECT_TRUE(drawn_at(canvas, sprite(SpriteKey::hatch_shut()), 112, 112 + 24));
    session.match.arena.creatures.clear();
    paint();
    EXPECT_TRUE(drawn_at(canvas, sprite(SpriteKey::hatch_open(1)), 112, 112 + 24));
}

// ---------------------------------------------------------------------------
// The heads-up display.

TEST_F(View, TheClockTurnsRedAndBlinksForItsLastTwentySeconds) {
    play_open_arena();
    session.match.arena.time_left = 401;
    paint();
    EXPECT_TRUE(
        shows(canvas, right_aligned_x("ZEIT 021"), 13, "ZEIT 021", text_colour, hud_background));

    session.match.arena.time_left = 400;
    paint();
    EXPECT_TRUE(
        shows(canvas, right_aligned_x("ZEIT 020"), 13, "ZEIT 020", warning, hud_background));
    session.animation_time = 0.25f;
    paint();
    EXPECT_TRUE(
        shows(canvas, right_aligned_x("ZEIT 020"), 13, "ZEIT 020", text_colour, hud_background));
    session.animation_time = 0.5f;
    paint();
    EXPECT_TRUE(
        shows(canvas, right_aligned_x("ZEIT 020"), 13, "ZEIT 020", warning, hud_background));

    decide(Outcome::Lost);
    paint();
    EXPECT_TRUE(
        shows(canvas, right_aligned_x("ZEIT 020"), 13, "ZEIT 020", text_colour, hud_background));
}

TEST_F(View, ScoreAndCreaturesAreShownWithLeadingZeros) {
    play_open_arena();
    session.match.arena.score = 42;
    add_creatures(3);
    paint();
    EXPECT_TRUE(shows(canvas, 4, 3, "1 ERSTE ZOBRA", text_colour, hud_background));
    EXPECT_TRUE(shows(canvas, right_aligned_x("PUNKTE 00042"), 3, "PUNKTE 00042", text_colour,
                      hud_background));
    // After "L1 W2" (29 pixels) and a gap of 10, four more pixels in.
    EXPECT_TRUE(shows(canvas, 4 + 29 + 10 + 4, 13, "NOCH 03", teal, hud_background));
}

TEST_F(View, EachDiggersStatusFollowsTheOneBefore) {
    play_open_arena();
    Digger second = session.match.arena.diggers[0];
    second.x = second.prev_x = 6;
    second.max_charges = 3;
    second.charges_out = 1;
    second.reach = 4;
    second.boots = true;
    session.match.arena.diggers.push_back(second);
    paint();
    EXPECT_TRUE(shows(canvas, 4, 13, "L1 W2", orange, hud_background));
    EXPECT_TRUE(shows(canvas, 43, 13, "L2 W4 S", blue, hud_background));
    EXPECT_TRUE(
        shows(canvas, 43 + text_width("L2 W4 S") + 14, 13, "LUKE OFFEN!", gold, hud_background));
}

TEST_F(View, TheOpenHatchIsAnnouncedWhileFloorOfThreeTIsEven) {
    play_open_arena();
    paint();
    EXPECT_TRUE(shows(canvas, 47, 13, "LUKE OFFEN!", gold, hud_background));
    session.animation_time = 0.34f;  // floor(1.02) is odd
    paint();
    EXPECT_TRUE(shows(canvas, 47, 13, "", gold, hud_background));
    EXPECT_EQ(canvas.pixel(50, 15), hud_background);
    session.animation_time = 0.7f;  // floor(2.1) is even again
    paint();
    EXPECT_TRUE(shows(canvas, 47, 13, "LUKE OFFEN!", gold, hud_background));
    decide(Outcome::Finished);
    paint();
    EXPECT_EQ(canvas.pixel(50, 15), hud_background);
}

TEST_F(View, ADuelShowsRoundClockAndEveryDiggersWins) {
    session.progress.mode = Mode::DuelSolo;
    session.start_level(0);
    session.match.duel_wins = {2, 0, 1, 0};
    session.match.duel_round = 3;
    session.match.arena.diggers[2].state = DiggerState::Dead;
    paint();
    EXPECT_TRUE(shows(canvas, 4, 3, "DUELL PFEILER   RUNDE 4", text_colour, hud_background));
    EXPECT_TRUE(
        shows(canvas, right_aligned_x("ZEIT 150"), 3, "ZEIT 150", text_colour, hud_background));
    EXPECT_TRUE(shows(canvas, 4, 13, "SP 1: 2/3", orange, hud_background));
    EXPECT_TRUE(shows(canvas, 82, 13, "COM 2: 0/3", blue, hud_background));
    EXPECT_TRUE(shows(canvas, 160, 13, "COM 3: 1/3", muted, hud_background));
}

// ---------------------------------------------------------------------------
// Panels.

TEST_F(View, TheResultPanelWaitsSevenTenthsOfASecond) {
    play_open_arena();
    decide(Outcome::Lost);
    session.match.arena.diggers[0].state = DiggerState::Dead;
    session.end_timer = 0.69f;
    paint();
    const Canvas before = canvas;
    EXPECT_FALSE(inked(canvas, centred_x("DAS WAR NICHTS!", 2), 97, "DAS WAR NICHTS!", warning, 2));

    session.end_timer = 0.7f;
    paint();
    EXPECT_TRUE(inked(canvas, centred_x("DAS WAR NICHTS!", 2), 97, "DAS WAR NICHTS!", warning, 2));
    EXPECT_TRUE(inked(canvas, centred_x("LEERTASTE ODER TIPPEN: NOCHMAL", 1), 119,
                      "LEERTASTE ODER TIPPEN: NOCHMAL", text_colour));
    // The band from row 89 to 134 is dimmed to 70 / 256, the rest untouched.
    EXPECT_EQ(canvas.pixel(2, 88), before.pixel(2, 88));
    EXPECT_EQ(canvas.pixel(2, 135), before.pixel(2, 135));
    const Rgb steel = before.pixel(2, 100);
    EXPECT_EQ(canvas.pixel(2, 100), (Rgb{static_cast<std::uint8_t>(steel.r * 70 >> 8),
                                         static_cast<std::uint8_t>(steel.g * 70 >> 8),
                                         static_cast<std::uint8_t>(steel.b * 70 >> 8)}));

    session.match.time_up = true;
    paint();
    EXPECT_TRUE(
        inked(canvas, centred_x("ZEIT ABGELAUFEN!", 2), 97, "ZEIT ABGELAUFEN!", warning, 2));
}

TEST_F(View, PauseShowsAtOnceAndComesBeforeTheResult) {
    play_open_arena();
    session.screen = Screen::Pause;
    paint();
    EXPECT_TRUE(inked(canvas, centred_x("PAUSE", 2), 97, "PAUSE", text_colour, 2));
    EXPECT_TRUE(inked(canvas, centred_x("P: WEITER", 1), 119, "P: WEITER", text_colour));

    session.match.arena.outcome = Outcome::Lost;
    session.end_timer = 5.0f;
    paint();
    EXPECT_TRUE(inked(canvas, centred_x("PAUSE", 2), 97, "PAUSE", text_colour, 2));
}

TEST_F(View, AWonLevelShowsScoreAndBest) {
    play_open_arena();
    decide(Outcome::Finished);
    session.match.arena.diggers[0].state = DiggerState::Escaped;
    session.match.arena.score = 730;
    session.progress.best = {900};
    session.end_timer = 1.0f;
    paint();
    // Two lines: the band starts at 71 − 12 = 59.
    EXPECT_TRUE(inked(canvas, centred_x("GESCHAFFT!", 2), 91, "GESCHAFFT!", gold, 2));
    EXPECT_TRUE(inked(canvas, centred_x("PUNKTE 730   BESTWERT 900", 1), 113,
                      "PUNKTE 730   BESTWERT 900", text_colour));
    EXPECT_TRUE(inked(canvas, centred_x("LEERTASTE ODER TIPPEN: WEITER", 1), 125,
                      "LEERTASTE ODER TIPPEN: WEITER", text_colour));

    session.level_index = 39;
    session.progress.best = {};
    paint();
    EXPECT_TRUE(inked(canvas, centred_x("PUNKTE 730   BESTWERT 0", 1), 113,
                      "PUNKTE 730   BESTWERT 0", text_colour));
    EXPECT_TRUE(inked(canvas, centred_x("ALLE STOLLEN GESCHAFFT!", 1), 125,
                      "ALLE STOLLEN GESCHAFFT!", text_colour));
}

TEST_F(View, DuelPanelsNameTheChampionTheRoundWinnerOrADraw) {
    session.progress.mode = Mode::DuelSolo;
    session.start_level(0);
    decide(Outcome::Finished);
    session.end_timer = 1.0f;

    session.match.duel_wins = {2, 0, 1, 0};
    session.match.arena.has_winner = true;
    session.match.arena.winner = 1;
    paint();
    EXPECT_TRUE(
        inked(canvas, centred_x("RUNDE AN COMPUTER 2", 2), 91, "RUNDE AN COMPUTER 2", blue, 2));
    EXPECT_TRUE(inked(canvas, centred_x("STAND 2 : 0 : 1 : 0", 1), 113, "STAND 2 : 0 : 1 : 0",
                      text_colour));

    session.match.duel_wins = {3, 0, 1, 0};
    session.match.arena.winner = 0;
    paint();
    EXPECT_TRUE(
        inked(canvas, centred_x("SPIELER 1 GEWINNT!", 2), 91, "SPIELER 1 GEWINNT!", gold, 2));
    EXPECT_TRUE(inked(canvas, centred_x("ENDSTAND 3 : 0 : 1 : 0", 1), 113, "ENDSTAND 3 : 0 : 1 : 0",
                      text_colour));
    EXPECT_TRUE(inked(canvas, centred_x("LEERTASTE ODER TIPPEN: ZUM TITEL", 1), 125,
                      "LEERTASTE ODER TIPPEN: ZUM TITEL", text_colour));

    session.match.duel_wins = {0, 1, 0, 0};
    session.match.arena.has_winner = false;
    session.match.time_up = true;
    paint();
    EXPECT_TRUE(inked(canvas, centred_x("UNENTSCHIEDEN", 2), 91, "UNENTSCHIEDEN", text_colour, 2));
    EXPECT_TRUE(inked(canvas, centred_x("ZEIT ABGELAUFEN   STAND 0 : 1 : 0 : 0", 1), 113,
                      "ZEIT ABGELAUFEN   STAND 0 : 1 : 0 : 0", text_colour));
}

// ---------------------------------------------------------------------------
// The title screen.

TEST_F(View, TheLevelLineKeepsBlanksWhereNoArrowLeads) {
    session.level_index = 0;
    paint();
    EXPECT_TRUE(inked(canvas, centred_x("  STOLLEN 1 VON 40 >", 1), 98, "  STOLLEN 1 VON 40 >",
                      text_colour));

    session.progress.all_open = true;
    session.level_index = 39;
    paint();
    EXPECT_TRUE(inked(canvas, centred_x("< STOLLEN 40 VON 40  ", 1), 98, "< STOLLEN 40 VON 40  ",
                      text_colour));
    EXPECT_TRUE(inked(canvas, centred_x("ENDSTATION", 2), 109, "ENDSTATION", teal, 2));
}

TEST_F(View, AnUnnamedPlayerIsCalledByTheirSlot) {
    session.progress.slot = 2;
    paint();
    EXPECT_TRUE(inked(canvas, centred_x("SPIELER 3 - 0 GESCHAFFT - 0 PUNKTE", 1), 86,
                      "SPIELER 3 - 0 GESCHAFFT - 0 PUNKTE", text_colour));

    session.progress.name = "ZUSEL";
    session.progress.solved = 52;  // more than there are levels: shown as 40
    session.progress.best = {100, 0, 250};
    paint();
    EXPECT_TRUE(inked(canvas, centred_x("ZUSEL - 40 GESCHAFFT - 350 PUNKTE", 1), 86,
                      "ZUSEL - 40 GESCHAFFT - 350 PUNKTE", text_colour));
}

TEST_F(View, ALockedLevelIsGreyAndCannotBeStarted) {
    session.level_index = 1;
    paint();
    EXPECT_TRUE(inked(canvas, centred_x("ZWEI MILBEN", 2), 109, "ZWEI MILBEN", muted, 2));
    EXPECT_TRUE(
        inked(canvas, centred_x("NOCH VERSCHLOSSEN", 1), 127, "NOCH VERSCHLOSSEN", warning));
    EXPECT_FALSE(inked(canvas, centred_x("LEERTASTE ODER TIPPEN: LOS!", 1), 139,
                       "LEERTASTE ODER TIPPEN: LOS!", gold));

    session.progress.solved = 1;
    session.progress.best = {0, 120};
    paint();
    EXPECT_TRUE(inked(canvas, centred_x("BESTWERT 120", 1), 127, "BESTWERT 120", text_colour));
    EXPECT_TRUE(inked(canvas, centred_x("LEERTASTE ODER TIPPEN: LOS!", 1), 139,
                      "LEERTASTE ODER TIPPEN: LOS!", gold));
    session.animation_time = 0.4f;  // floor(1.0) is odd: the prompt blinks off
    paint();
    EXPECT_FALSE(inked(canvas, centred_x("LEERTASTE ODER TIPPEN: LOS!", 1), 139,
                       "LEERTASTE ODER TIPPEN: LOS!", gold));
}

TEST_F(View, NamingShowsTheTextWithABlinkingCursor) {
    session.screen = Screen::Naming;
    session.naming_text = "ZUS";
    paint();
    EXPECT_TRUE(inked(canvas, centred_x("NAME: ZUS<", 1), 86, "NAME: ZUS<", gold));
    EXPECT_TRUE(inked(canvas, centred_x("TIPPEN, DANN EINGABE. ESC: ABBRUCH", 1), 139,
                      "TIPPEN, DANN EINGABE. ESC: ABBRUCH", gold));
    session.animation_time = 0.4f;  // floor(1.2) is odd
    paint();
    EXPECT_TRUE(inked(canvas, centred_x("NAME: ZUS ", 1), 86, "NAME: ZUS", gold));
    EXPECT_FALSE(inked(canvas, centred_x("NAME: ZUS<", 1), 86, "NAME: ZUS<", gold));
}

TEST_F(View, TwoPlayersStandEitherSideOfTheModeLine) {
    session.progress.mode = Mode::Pair;
    paint();
    const std::string line = "HOCH: 2 SPIELER   RUNTER: NORMAL";
    EXPECT_TRUE(inked(canvas, centred_x(line, 1), 151, line, text_colour));
    const std::int32_t h = text_width(line) / 2;
    EXPECT_TRUE(drawn_at(canvas, sprite(SpriteKey::digger(Dir::Right, 0, 0)), 136 - h, 146));
    EXPECT_TRUE(drawn_at(canvas, sprite(SpriteKey::digger(Dir::Left, 1, 0)), 168 + h, 146));
    EXPECT_TRUE(inked(canvas, centred_x("1: PFEILE + LEER/STRG R.   2: WASD + Q/STRG L.", 1), 162,
                      "1: PFEILE + LEER/STRG R.   2: WASD + Q/STRG L.", muted));
}

TEST_F(View, TheDuelChoiceNamesThePlaceAndTheWinsNeeded) {
    session.progress.mode = Mode::DuelPair;
    session.duel_arena_index = 4;
    session.progress.music_off = true;
    session.progress.all_open = true;
    paint();
    EXPECT_TRUE(inked(canvas, centred_x("< DUELL: PLATZ 5 VON 5 >", 1), 98,
                      "< DUELL: PLATZ 5 VON 5 >", text_colour));
    EXPECT_TRUE(inked(canvas, centred_x("WILDWUCHS", 2), 109, "WILDWUCHS", teal, 2));
    EXPECT_TRUE(inked(canvas, centred_x("VIER IN DEN ECKEN. 3 RUNDEN GEWINNEN.", 1), 127,
                      "VIER IN DEN ECKEN. 3 RUNDEN GEWINNEN.", text_colour));
    EXPECT_TRUE(inked(canvas, centred_x("HOCH: DUELL ZU ZWEIT", 1), 151, "HOCH: DUELL ZU ZWEIT",
                      text_colour));
    EXPECT_TRUE(inked(canvas, centred_x("R: NEU   P: PAUSE   M: MUSIK AUS   ESC: ZURUECK", 1), 172,
                      "R: NEU   P: PAUSE   M: MUSIK AUS   ESC: ZURUECK", muted));
    EXPECT_TRUE(inked(canvas, centred_x("TAB: SPIELER   N: NAME   F9: WIEDER SPERREN", 1), 182,
                      "TAB: SPIELER   N: NAME   F9: WIEDER SPERREN", muted));
}

TEST_F(View, ConnectedPadsAreCountedTopRight) {
    paint();
    const Canvas without = canvas;
    session.pads = {2, 2};
    paint();
    EXPECT_TRUE(
        inked(canvas, 314 - text_width("2 PRO CONTROLLER"), 5, "2 PRO CONTROLLER", text_colour));
    session.pads.pro_controllers = 1;
    paint();
    EXPECT_TRUE(inked(canvas, 314 - text_width("2 GAMEPADS"), 5, "2 GAMEPADS", text_colour));
    session.pads = {1, 0};
    paint();
    EXPECT_TRUE(inked(canvas, 314 - text_width("1 GAMEPAD"), 5, "1 GAMEPAD", text_colour));
    session.pads.gamepads = 0;
    paint();
    EXPECT_TRUE(canvases_equal(canvas, without));
}

// ---------------------------------------------------------------------------
// The whole picture.

TEST_F(View, EveryPixelIsPaintedAndPaintingTwiceGivesTheSamePicture) {
    auto check = [&](const char* screen) {
        Canvas white;
        Canvas dirty;
        for (std::int32_t y = 0; y < 200; ++y)
            for (std::int32_t x = 0; x < 320; ++x)
                dirty.set_pixel(
                    x, y, {static_cast<std::uint8_t>(x * 7), static_cast<std::uint8_t>(y * 3), 77});
        draw_view(white, session, sprites());
        draw_view(dirty, session, sprites());
        EXPECT_TRUE(canvases_equal(white, dirty)) << screen;
        draw_view(white, session, sprites());
        EXPECT_TRUE(canvases_equal(white, dirty)) << screen;
    };
    check("title");
    session.start_level(0);
    check("small level");
    session.start_level(39);
    session.camera = {123.4f, 56.7f};
    check("large level");
    decide(Outcome::Lost);
    session.end_timer = 1.0f;
    check("lost level");
    session.progress.mode = Mode::DuelPair;
    session.start_level(0);
    check("duel");
    session.screen = Screen::Naming;
    session.naming_text = "";
    check("naming");
}

TEST_F(View, TheWallBehindTheTitleFollowsTheSpritesItIsBuiltFrom) {
    // The wall is painted once and reused; other sprites give another wall,
    // and a brick with holes lets what was on the canvas show through, as
    // painting it anew would.
    Canvas plain;
    draw_view(plain, session, sprites());
    SpriteSet other = sprites();
    Sprite& brick = other.sprites.at(SpriteKey::brick());
    for (std::optional<Rgb>& pixel : brick.pixels) pixel = Rgb{200, 0, 0};
    Canvas red;
    draw_view(red, session, other);
    EXPECT_EQ(red.pixel(40, 30), (Rgb{62, 0, 0}));  // 200 dimmed by 80/256
    EXPECT_FALSE(canvases_equal(plain, red));

    brick.pixels[16 * 8 + 8] = std::nullopt;  // (8, 8) of every brick
    Canvas on_white;
    Canvas on_black;
    on_black.fill_rect(0, 0, 320, 200, black);
    draw_view(on_white, session, other);
    draw_view(on_black, session, other);
    EXPECT_EQ(on_white.pixel(40, 40), (Rgb{79, 79, 79}));
    EXPECT_EQ(on_black.pixel(40, 40), black);

    Canvas again;
    draw_view(again, session, sprites());
    EXPECT_TRUE(canvases_equal(plain, again));
}

// The notices about the save share the one line of the steel strip along
// the bottom of the title: each fits it, and the most pressing one shows.
TEST_F(View, ANoticeAboutTheSaveIsToldAlongTheBottomOfTheTitleAndNowhereElse) {
    const struct {
        ShellNotices notices;
        std::string_view text;
    } cases[] = {
        {{.save_failed = true, .second_copy = true, .started_over = true, .save_unlocked = true},
         "SPEICHERN GEHT NICHT"},
        {{.second_copy = true, .started_over = true, .save_unlocked = true},
         "ZWEITE KOPIE: SPEICHERT NICHT"},
        {{.started_over = true, .save_unlocked = true}, "SPIELSTAND NEU BEGONNEN"},
        {{.save_unlocked = true}, "SPIELSTAND NICHT GESPERRT"},
    };
    EXPECT_EQ(notice_text({}), std::nullopt);
    for (const auto& c : cases) {
        EXPECT_EQ(notice_text(c.notices), c.text);
        // Within the strip, with a tile's margin at each end.
        EXPECT_LE(text_width(c.text), canvas_width - 2 * tile_pixels) << c.text;
        for (Screen screen : {Screen::Title, Screen::Naming}) {
            session.screen = screen;
            paint();
            const Canvas plain = canvas;
            draw_view(canvas, session, sprites(), c.notices);
            EXPECT_TRUE(inked(canvas, centred_x(c.text, 1), 192, c.text, warning)) << c.text;
            // Only the steel strip along the bottom changes.
            const std::size_t strip = 192 * canvas_width * 4;
            EXPECT_TRUE(std::equal(plain.pixels.begin(), plain.pixels.begin() + strip,
                                   canvas.pixels.begin()));
            EXPECT_FALSE(canvases_equal(plain, canvas));
        }
        session.start_level(0);
        paint();
        const Canvas play = canvas;
        draw_view(canvas, session, sprites(), c.notices);
        EXPECT_TRUE(canvases_equal(play, canvas));
        session.screen = Screen::Title;
    }
}

TEST_F(View, ImpossibleChoicesStopTheGame) {
    session.level_index = 40;
    EXPECT_THROW(paint(), testing::PanicError);
    session.level_index = 0;
    session.progress.mode = Mode::DuelSolo;
    session.duel_arena_index = 5;
    EXPECT_THROW(paint(), testing::PanicError);
    session.duel_arena_index = 0;
    session.progress.mode = Mode::Solo;
    play_open_arena();
    session.match.arena.diggers.resize(5, session.match.arena.diggers[0]);
    EXPECT_THROW(paint(), testing::PanicError);
}

}  // namespace
}  // namespace zobra
