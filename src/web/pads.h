#pragma once
// Gamepads as the browser reports them. A pad in the browser's standard
// layout numbers its buttons the same way whatever its make: 0 to 3 the face
// buttons, 4 to 7 the shoulder buttons and triggers, 8 select, 9 start,
// 12 to 15 the D-pad (up, down, left, right); axes 0 and 1 are the left
// stick with y growing downwards. Plain C++, free of the browser, so that
// the desktop's tests check it too.

#include <array>
#include <cstddef>

#include "game/input.h"

namespace zobra {

inline constexpr std::size_t standard_button_count = 17;
// A trigger counts as a button once it is pulled past halfway.
inline constexpr double trigger_half = 0.5;

// One reading of a pad in the standard layout: each button's pressed flag
// and value (0 … 1), and the left stick. Buttons and axes the pad lacks stay
// released and centred.
struct StandardPadReading {
    std::array<bool, standard_button_count> pressed{};
    std::array<double, standard_button_count> value{};
    double stick_x = 0.0;  // −1 … 1, right positive
    double stick_y = 0.0;  // −1 … 1, down positive, as the browser has it
};

// The pad's state in the game's terms: the D-pad first (up, right, down,
// left), else the stick; any face button; start; select; a shoulder button
// or a trigger pulled past halfway.
PadState standard_pad_state(const StandardPadReading& reading);

}  // namespace zobra
