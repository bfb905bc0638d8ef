#include "web/pads.h"

#include <cmath>
#include <optional>

namespace zobra {

namespace {

enum Button : std::size_t {
    face_south = 0,
    face_east = 1,
    face_west = 2,
    face_north = 3,
    shoulder_left = 4,
    shoulder_right = 5,
    trigger_left = 6,
    trigger_right = 7,
    select_button = 8,
    start_button = 9,
    dpad_up = 12,
    dpad_down = 13,
    dpad_left = 14,
    dpad_right = 15,
};

// A stick the browser could not read (NaN or worse) rests in the middle.
float axis(double value) {
    if (!std::isfinite(value)) return 0.0f;
    return static_cast<float>(value < -1.0 ? -1.0 : value > 1.0 ? 1.0 : value);
}

}  // namespace

PadState standard_pad_state(const StandardPadReading& reading) {
    const auto& down = reading.pressed;
    PadState state;
    if (down[dpad_up])
        state.dir = Dir::Up;
    else if (down[dpad_right])
        state.dir = Dir::Right;
    else if (down[dpad_down])
        state.dir = Dir::Down;
    else if (down[dpad_left])
        state.dir = Dir::Left;
    else  // the game's stick y grows upwards
        state.dir = stick_dir(axis(reading.stick_x), -axis(reading.stick_y));
    state.face = down[face_south] || down[face_east] || down[face_west] || down[face_north];
    state.start = down[start_button];
    state.select = down[select_button];
    state.drop = down[shoulder_left] || down[shoulder_right] ||
                 reading.value[trigger_left] > trigger_half ||
                 reading.value[trigger_right] > trigger_half;
    return state;
}

}  // namespace zobra
