#pragma once
// Turning keyboard, touch, mouse and pads into one `FrameInput` per frame.
// The rules live here, free of SDL; input_sdl.h feeds SDL's events and game
// controllers into them.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/arena.h"
#include "pads/pads.h"

namespace zobra {

// How many pads the frame's list held and how many of them were Pro
// Controllers; the title shows them.
struct PadCounts {
    std::uint64_t gamepads = 0;
    std::uint64_t pro_controllers = 0;
    friend bool operator==(const PadCounts&, const PadCounts&) = default;
};

// The input of one frame, for input slots 1 and 2 (index 0 and 1), with
// everything else the session needs from the devices this frame.
struct FrameInput {
    std::array<bool, 2> drop{};
    bool confirm = false;
    // Confirm on a screen that takes typing: every confirm but Space, which
    // a player typing a name may press without meaning to end it.
    bool confirm_typing = false;
    bool restart = false;
    bool back = false;
    bool pause = false;
    bool music = false;
    bool next_player = false;
    bool rename = false;
    bool open_all = false;
    bool fast = false;    // F held: a replay, or a duel round without a human digger, runs fast
    bool online = false;  // O: the online screen
    std::uint64_t clock_us = 0;  // a monotonic clock, for play between machines
    std::array<std::optional<Dir>, 2> held_dir{};
    std::array<std::optional<Dir>, 2> pressed_dir{};
    std::string typed;             // text the keyboard produced since the last frame
    std::uint64_t backspaces = 0;  // Backspace presses since the last frame, repeats included
    PadCounts pads;
    friend bool operator==(const FrameInput&, const FrameInput&) = default;
};

// Physical key positions the game gives a meaning to, named after the key in
// that position on a US keyboard; `Other` is any other key.
enum class Key : std::uint8_t {
    Other,
    ArrowUp,
    ArrowRight,
    ArrowDown,
    ArrowLeft,
    KeyW,
    KeyD,
    KeyS,
    KeyA,
    Space,
    Enter,
    NumpadEnter,
    ControlRight,
    ShiftRight,
    KeyQ,
    ControlLeft,
    ShiftLeft,
    KeyR,
    Escape,
    KeyP,
    KeyM,
    Tab,
    KeyN,
    F9,
    Backspace,
    KeyF,
    KeyO,
};

inline constexpr double swipe_logical_pixels = 14.0;
inline constexpr std::size_t max_pads = 2;

// One finger on the screen, in physical window pixels.
struct Touch {
    double start_x = 0.0;
    double start_y = 0.0;
    double x = 0.0;
    double y = 0.0;
    std::uint64_t id = 0;
};

// A gamepad as the gamepad library reports it this frame.
struct Gamepad {
    std::string name;
    std::uint16_t vendor = 0;  // 0 when the library does not know it
    std::uint16_t product = 0;
    bool connected = true;
    PadState state;
};

// Everything the window events leave for the next frame, plus one frame of
// history for telling presses from holds.
struct InputCollector {
    // A key event; repeats of a held key only count Backspaces. A key
    // without a physical position carries nothing here (its text arrives
    // through `text`).
    void key_down(std::optional<Key> key, bool repeat);
    void key_up(std::optional<Key> key, bool repeat);
    // Text the keyboard produced.
    void text(std::string_view typed);
    void left_click();
    void touch_down(std::uint64_t id, double x, double y);
    void touch_move(std::uint64_t id, double x, double y);
    // A finger lifted; it was a tap when it stayed within `swipe_threshold`.
    void touch_up(std::uint64_t id, double swipe_threshold);
    // A finger the system took away (a browser's gesture, a call coming
    // in): it is gone and was no tap, however far it moved.
    void touch_cancel(std::uint64_t id);
    void focus_lost();

    std::vector<Key> pressed_keys;
    std::array<std::vector<Dir>, 2> direction_stacks;
    std::vector<Touch> touches;
    std::string typed_text;
    std::uint64_t backspaces = 0;
    std::uint64_t previous_touch_count = 0;
    bool tap = false;
    bool click = false;
    bool fast_held = false;
    std::optional<Dir> last_swipe;
    std::array<PadState, 2> previous_pads{};
};

// The swipe threshold in physical pixels for a window whose physical pixels
// are `scale` times its logical ones.
double swipe_threshold(double scale);

// The frame's input from the collector, the Pro Controllers' pads and the
// gamepads (none when the gamepad library did not start), with the text
// typed since the last frame and the pad counts. Clears the collector's
// per-frame parts.
FrameInput build_frame_input(InputCollector& input, std::vector<PadState> pro_controllers,
                             std::optional<std::span<const Gamepad>> gamepads,
                             double swipe_threshold);

}  // namespace zobra
