// Gamepads in the browser's standard layout, turned into the game's pad
// states.

#include "web/pads.h"

#include <gtest/gtest.h>

#include <cmath>
#include <initializer_list>
#include <limits>
#include <optional>
#include <vector>

namespace zobra {
namespace {

StandardPadReading pressing(std::initializer_list<std::size_t> buttons) {
    StandardPadReading reading;
    for (const std::size_t b : buttons) {
        reading.pressed[b] = true;
        reading.value[b] = 1.0;
    }
    return reading;
}

StandardPadReading stick(double x, double y) {
    StandardPadReading reading;
    reading.stick_x = x;
    reading.stick_y = y;
    return reading;
}

PadState with(bool PadState::*button) {
    PadState state;
    state.*button = true;
    return state;
}

PadState pointing(Dir dir) {
    PadState state;
    state.dir = dir;
    return state;
}

TEST(StandardPads, EachButtonOfTheLayoutDoesWhatItsPlaceSays) {
    const std::vector<PadState> by_button{
        with(&PadState::face),
        with(&PadState::face),
        with(&PadState::face),
        with(&PadState::face),
        with(&PadState::drop),
        with(&PadState::drop),
        with(&PadState::drop),
        with(&PadState::drop),
        with(&PadState::select),
        with(&PadState::start),
        PadState{},
        PadState{},
        pointing(Dir::Up),
        pointing(Dir::Down),
        pointing(Dir::Left),
        pointing(Dir::Right),
        PadState{},
    };
    for (std::size_t button = 0; button < by_button.size(); ++button)
        EXPECT_EQ(to_text(standard_pad_state(pressing({button}))), to_text(by_button[button]))
            << "button " << button;
}

TEST(StandardPads, TheDpadGoesBeforeTheStickUpRightDownLeft) {
    EXPECT_EQ(standard_pad_state(pressing({14, 15})).dir, Dir::Right);
    EXPECT_EQ(standard_pad_state(pressing({13, 12})).dir, Dir::Up);
    EXPECT_EQ(standard_pad_state(pressing({13, 14})).dir, Dir::Down);
    StandardPadReading both = pressing({14});
    both.stick_x = 1.0;
    EXPECT_EQ(standard_pad_state(both).dir, Dir::Left);
}

// The browser's stick grows downwards, the game's upwards.
TEST(StandardPads, TheStickPointsWhereItIsPushedPastHalfway) {
    EXPECT_EQ(standard_pad_state(stick(0.0, -1.0)).dir, Dir::Up);
    EXPECT_EQ(standard_pad_state(stick(0.0, 1.0)).dir, Dir::Down);
    EXPECT_EQ(standard_pad_state(stick(-1.0, 0.2)).dir, Dir::Left);
    EXPECT_EQ(standard_pad_state(stick(0.6, 0.7)).dir, Dir::Down);
    EXPECT_EQ(standard_pad_state(stick(0.3, 0.4)).dir, std::nullopt);
    EXPECT_EQ(standard_pad_state(stick(0.0, 0.5)).dir, Dir::Down);
    // Readings beyond the stick's range count as its edge; unreadable ones
    // as its middle.
    EXPECT_EQ(standard_pad_state(stick(7.0, 0.0)).dir, Dir::Right);
    EXPECT_EQ(standard_pad_state(stick(std::nan(""), 0.0)).dir, std::nullopt);
    EXPECT_EQ(standard_pad_state(stick(0.0, -std::numeric_limits<double>::infinity())).dir,
              std::nullopt);
}

TEST(StandardPads, ATriggerDropsOnlyWhenPulledPastHalfway) {
    StandardPadReading reading;
    reading.value[6] = 0.5;
    reading.pressed[6] = true;  // browsers call a trigger pressed early
    EXPECT_FALSE(standard_pad_state(reading).drop);
    reading.value[6] = 0.51;
    EXPECT_TRUE(standard_pad_state(reading).drop);
    reading = {};
    reading.value[7] = 0.9;
    EXPECT_TRUE(standard_pad_state(reading).drop);
}

}  // namespace
}  // namespace zobra
