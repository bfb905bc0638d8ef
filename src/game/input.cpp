#include "game/input.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace zobra {

namespace {

// The arrows steer slot 1, the W A S D positions slot 2.
struct DirectionKey {
    Key key;
    std::size_t slot;
    Dir dir;
};
constexpr std::array<DirectionKey, 8> direction_keys{{
    {Key::ArrowUp, 0, Dir::Up},
    {Key::ArrowRight, 0, Dir::Right},
    {Key::ArrowDown, 0, Dir::Down},
    {Key::ArrowLeft, 0, Dir::Left},
    {Key::KeyW, 1, Dir::Up},
    {Key::KeyD, 1, Dir::Right},
    {Key::KeyS, 1, Dir::Down},
    {Key::KeyA, 1, Dir::Left},
}};

const DirectionKey* direction_key(Key key) {
    for (const DirectionKey& entry : direction_keys)
        if (entry.key == key) return &entry;
    return nullptr;
}

bool any_pressed(const std::vector<Key>& pressed, std::initializer_list<Key> keys) {
    return std::any_of(pressed.begin(), pressed.end(),
                       [&](Key k) { return std::find(keys.begin(), keys.end(), k) != keys.end(); });
}

void remove_dir(std::vector<Dir>& stack, Dir dir) {
    stack.erase(std::remove(stack.begin(), stack.end(), dir), stack.end());
}

// A Pro Controller that our own driver already reads, seen a second time
// through the gamepad library.
bool looks_like_pro_controller(const Gamepad& pad) {
    constexpr std::uint16_t nintendo_vendor = 0x057E;
    constexpr std::uint16_t pro_controller_product = 0x2009;
    return (pad.vendor == nintendo_vendor && pad.product == pro_controller_product) ||
           pad.name.find("Pro Controller") != std::string::npos;
}

bool rises(bool now, bool before) { return now && !before; }

// How far a finger has moved: the square root of dx² + dy². std::hypot
// rounds more carefully and so puts some fingers that end right on the
// threshold on the other side of it.
double touch_distance(double dx, double dy) { return std::sqrt(dx * dx + dy * dy); }

}  // namespace

void InputCollector::key_down(std::optional<Key> key, bool repeat) {
    if (key == Key::Backspace) ++backspaces;
    if (repeat || !key) return;
    pressed_keys.push_back(*key);
    if (key == Key::KeyF) fast_held = true;
    if (const DirectionKey* entry = direction_key(*key)) {
        std::vector<Dir>& stack = direction_stacks[entry->slot];
        remove_dir(stack, entry->dir);
        stack.push_back(entry->dir);
    }
}

void InputCollector::key_up(std::optional<Key> key, bool repeat) {
    if (repeat || !key) return;
    if (key == Key::KeyF) fast_held = false;
    if (const DirectionKey* entry = direction_key(*key))
        remove_dir(direction_stacks[entry->slot], entry->dir);
}

void InputCollector::text(std::string_view typed) { typed_text += typed; }

void InputCollector::left_click() { click = true; }

void InputCollector::touch_down(std::uint64_t id, double x, double y) {
    touches.push_back(Touch{x, y, x, y, id});
}

void InputCollector::touch_move(std::uint64_t id, double x, double y) {
    for (Touch& touch : touches) {
        if (touch.id == id) {
            touch.x = x;
            touch.y = y;
            return;
        }
    }
}

void InputCollector::touch_up(std::uint64_t id, double swipe_threshold) {
    auto it = std::find_if(touches.begin(), touches.end(),
                           [id](const Touch& touch) { return touch.id == id; });
    if (it == touches.end()) return;
    if (touch_distance(it->x - it->start_x, it->y - it->start_y) < swipe_threshold) tap = true;
    touches.erase(it);
}

void InputCollector::touch_cancel(std::uint64_t id) {
    std::erase_if(touches, [id](const Touch& touch) { return touch.id == id; });
}

void InputCollector::focus_lost() {
    for (std::vector<Dir>& stack : direction_stacks) stack.clear();
    touches.clear();
    fast_held = false;
}

double swipe_threshold(double scale) { return swipe_logical_pixels * scale; }

FrameInput build_frame_input(InputCollector& input, std::vector<PadState> pro_controllers,
                             std::optional<std::span<const Gamepad>> gamepads,
                             double swipe_threshold) {
    FrameInput frame;
    // Typing is taken every frame, whether or not a name is being typed.
    frame.typed = std::exchange(input.typed_text, {});
    frame.backspaces = std::exchange(input.backspaces, 0);
    const std::vector<Key>& pressed = input.pressed_keys;

    // The keyboard.
    frame.drop[0] = any_pressed(
        pressed, {Key::Space, Key::Enter, Key::NumpadEnter, Key::ControlRight, Key::ShiftRight});
    frame.drop[1] = any_pressed(pressed, {Key::KeyQ, Key::ControlLeft, Key::ShiftLeft});
    frame.confirm_typing =
        any_pressed(pressed, {Key::Enter, Key::NumpadEnter}) || input.click || input.tap;
    frame.confirm = frame.confirm_typing || any_pressed(pressed, {Key::Space});
    frame.restart = any_pressed(pressed, {Key::KeyR});
    frame.back = any_pressed(pressed, {Key::Escape});
    frame.pause = any_pressed(pressed, {Key::KeyP});
    frame.music = any_pressed(pressed, {Key::KeyM});
    frame.next_player = any_pressed(pressed, {Key::Tab});
    frame.rename = any_pressed(pressed, {Key::KeyN});
    frame.open_all = any_pressed(pressed, {Key::F9});
    frame.online = any_pressed(pressed, {Key::KeyO});
    frame.fast = input.fast_held;
    for (std::size_t slot = 0; slot < 2; ++slot) {
        const std::vector<Dir>& stack = input.direction_stacks[slot];
        if (!stack.empty()) frame.held_dir[slot] = stack.back();
    }
    for (Key key : pressed)
        if (const DirectionKey* entry = direction_key(key))
            frame.pressed_dir[entry->slot] = entry->dir;

    // The oldest finger steers slot 1 once it has moved far enough; a swipe
    // counts as a press only when its direction changes.
    std::optional<Dir> swipe;
    if (!input.touches.empty()) {
        const Touch& touch = input.touches.front();
        const double dx = touch.x - touch.start_x;
        const double dy = touch.y - touch.start_y;
        if (touch_distance(dx, dy) >= swipe_threshold) {
            if (std::fabs(dx) > std::fabs(dy))
                swipe = dx > 0.0 ? Dir::Right : Dir::Left;
            else
                swipe = dy > 0.0 ? Dir::Down : Dir::Up;
        }
    }
    if (swipe) {
        frame.held_dir[0] = swipe;
        if (swipe != input.last_swipe) frame.pressed_dir[0] = swipe;
    }
    input.last_swipe = swipe;

    // A second finger landing drops.
    const std::uint64_t touch_count = input.touches.size();
    if (touch_count >= 2 && input.previous_touch_count < 2) frame.drop[0] = true;
    input.previous_touch_count = touch_count;

    input.pressed_keys.clear();
    input.tap = false;
    input.click = false;

    // Pads: the Pro Controllers first, then the gamepads, at most two in all.
    std::vector<PadState> pads = std::move(pro_controllers);
    const std::size_t pro_count = pads.size();
    if (gamepads) {
        std::size_t accepted = 0;
        for (const Gamepad& pad : *gamepads) {
            if (accepted == max_pads) break;
            if (!pad.connected) continue;
            if (pro_count > 0 && looks_like_pro_controller(pad)) continue;
            pads.push_back(pad.state);
            ++accepted;
        }
        if (pads.size() > max_pads) pads.resize(max_pads);
    }
    frame.pads.gamepads = pads.size();
    frame.pads.pro_controllers = std::min<std::uint64_t>(pads.size(), pro_count);

    // A pad overrides keyboard and swipe while it points somewhere; its
    // buttons and direction act when they change, not while held.
    for (std::size_t slot = 0; slot < 2; ++slot) {
        const PadState pad = slot < pads.size() ? pads[slot] : PadState{};
        const PadState prev = std::exchange(input.previous_pads[slot], pad);
        if (pad.dir) {
            frame.held_dir[slot] = pad.dir;
            if (pad.dir != prev.dir) frame.pressed_dir[slot] = pad.dir;
        }
        if (rises(pad.drop, prev.drop) || rises(pad.face, prev.face)) frame.drop[slot] = true;
        if (rises(pad.face, prev.face) || rises(pad.start, prev.start))
            frame.confirm = frame.confirm_typing = true;
        if (rises(pad.start, prev.start)) frame.pause = true;
        if (rises(pad.select, prev.select)) frame.back = true;
    }
    return frame;
}

}  // namespace zobra
