#include "web/input_web.h"

#include <emscripten/emscripten.h>
#include <emscripten/html5.h>

#include <algorithm>
#include <string_view>

#include "files/log.h"
#include "web/keys.h"
#include "web/pads.h"
#include "web/page.h"

namespace zobra {

namespace {

PageInput& input_of(void* data) { return *static_cast<PageInput*>(data); }

void gesture(PageInput& input) {
    if (input.gesture) input.gesture();
}

EM_BOOL on_key(int type, const EmscriptenKeyboardEvent* event, void* data) {
    PageInput& input = input_of(data);
    gesture(input);
    const std::optional<Key> key = key_for_code(event->code);
    const KeyModifiers held{event->ctrlKey != 0, event->altKey != 0, event->metaKey != 0};
    if (type == EMSCRIPTEN_EVENT_KEYDOWN) {
        input.collector.text(typed_text(event->key, held));
        input.collector.key_down(key, event->repeat != 0);
    } else {
        input.collector.key_up(key, event->repeat != 0);
    }
    return page_keeps_key(key, held) ? EM_TRUE : EM_FALSE;
}

EM_BOOL on_mouse_down(int, const EmscriptenMouseEvent* event, void* data) {
    PageInput& input = input_of(data);
    gesture(input);
    if (event->button == 0) input.collector.left_click();
    // Keeps a click on the game from selecting or dragging anything.
    return EM_TRUE;
}

EM_BOOL on_touch(int type, const EmscriptenTouchEvent* event, void* data) {
    PageInput& input = input_of(data);
    gesture(input);
    const double scale = page_pixel_scale();
    const int count = std::clamp(event->numTouches, 0, 32);
    for (int i = 0; i < count; ++i) {
        const EmscriptenTouchPoint& touch = event->touches[i];
        if (touch.isChanged == 0) continue;
        const auto id = static_cast<std::uint64_t>(touch.identifier);
        const double x = static_cast<double>(touch.targetX) * scale;
        const double y = static_cast<double>(touch.targetY) * scale;
        switch (type) {
            case EMSCRIPTEN_EVENT_TOUCHSTART:
                input.collector.touch_down(id, x, y);
                break;
            case EMSCRIPTEN_EVENT_TOUCHMOVE:
                input.collector.touch_move(id, x, y);
                break;
            case EMSCRIPTEN_EVENT_TOUCHEND:
                // The finger's last position arrives with the lift.
                input.collector.touch_move(id, x, y);
                input.collector.touch_up(id, swipe_threshold(scale));
                break;
            default:  // cancelled: the browser took the finger for itself
                input.collector.touch_cancel(id);
                break;
        }
    }
    // The touch is the game's: no scrolling, zooming or mouse clicks made
    // up from it.
    return EM_TRUE;
}

EM_BOOL on_blur(int, const EmscriptenFocusEvent*, void* data) {
    input_of(data).collector.focus_lost();
    return EM_FALSE;
}

EM_BOOL on_visibility(int, const EmscriptenVisibilityChangeEvent* event, void* data) {
    if (event->hidden != 0) input_of(data).collector.focus_lost();
    return EM_FALSE;
}

bool standard_layout(const EmscriptenGamepadEvent& pad) {
    return std::string_view(pad.mapping) == "standard";
}

EM_BOOL on_gamepad(int type, const EmscriptenGamepadEvent* event, void* data) {
    PageInput& input = input_of(data);
    if (input.gamepad_events_logged >= gamepad_events_logged_max) return EM_FALSE;
    ++input.gamepad_events_logged;
    std::string line = "gamepad event from " + std::to_string(event->index) + ": ";
    line += type == EMSCRIPTEN_EVENT_GAMEPADCONNECTED ? "connected, " : "disconnected, ";
    line += event->id;
    if (type == EMSCRIPTEN_EVENT_GAMEPADCONNECTED && !standard_layout(*event))
        line += " (no standard layout: not used)";
    page_log(line);
    return EM_FALSE;
}

StandardPadReading reading_of(const EmscriptenGamepadEvent& pad) {
    StandardPadReading reading;
    const auto buttons = std::min<std::size_t>(
        static_cast<std::size_t>(std::max(pad.numButtons, 0)), standard_button_count);
    for (std::size_t i = 0; i < buttons; ++i) {
        reading.pressed[i] = pad.digitalButton[i] != 0;
        reading.value[i] = pad.analogButton[i];
    }
    if (pad.numAxes >= 2) {
        reading.stick_x = pad.axis[0];
        reading.stick_y = pad.axis[1];
    }
    return reading;
}

}  // namespace

std::optional<std::string> listen_to_page(PageInput& input) {
    void* data = &input;
    const char* window = EMSCRIPTEN_EVENT_TARGET_WINDOW;
    const auto failed = [](EMSCRIPTEN_RESULT result) { return result < 0; };
    if (failed(emscripten_set_keydown_callback(window, data, EM_TRUE, on_key)) ||
        failed(emscripten_set_keyup_callback(window, data, EM_TRUE, on_key)) ||
        failed(emscripten_set_blur_callback(window, data, EM_TRUE, on_blur)) ||
        failed(emscripten_set_visibilitychange_callback(data, EM_TRUE, on_visibility)))
        return "the page's window takes no event listeners";
    // The browser would throw at a listener for a missing element.
    if (!page_has(canvas_selector) ||
        failed(emscripten_set_mousedown_callback(canvas_selector, data, EM_TRUE, on_mouse_down)))
        return std::string("the page has no canvas ") + canvas_selector;
    if (!page_has(stage_selector) ||
        failed(emscripten_set_touchstart_callback(stage_selector, data, EM_TRUE, on_touch)) ||
        failed(emscripten_set_touchmove_callback(stage_selector, data, EM_TRUE, on_touch)) ||
        failed(emscripten_set_touchend_callback(stage_selector, data, EM_TRUE, on_touch)) ||
        failed(emscripten_set_touchcancel_callback(stage_selector, data, EM_TRUE, on_touch)))
        return std::string("the page has no stage ") + stage_selector;

    input.gamepads_available =
        emscripten_sample_gamepad_data() == EMSCRIPTEN_RESULT_SUCCESS &&
        emscripten_set_gamepadconnected_callback(data, EM_TRUE, on_gamepad) >= 0 &&
        emscripten_set_gamepaddisconnected_callback(data, EM_TRUE, on_gamepad) >= 0;
    if (!input.gamepads_available) {
        const std::string error = "this browser offers the page no gamepads";
        report_error("no gamepads: " + error);
        page_log("the gamepad library did not start: " + error);
    }
    return std::nullopt;
}

double page_pixel_scale() {
    const double ratio = emscripten_get_device_pixel_ratio();
    return ratio > 0.0 ? ratio : 1.0;
}

std::optional<std::vector<Gamepad>> read_gamepads(const PageInput& input) {
    if (!input.gamepads_available) return std::nullopt;
    std::vector<Gamepad> pads;
    if (emscripten_sample_gamepad_data() != EMSCRIPTEN_RESULT_SUCCESS) return pads;
    const int count = emscripten_get_num_gamepads();
    for (int i = 0; i < count; ++i) {
        EmscriptenGamepadEvent pad;
        if (emscripten_get_gamepad_status(i, &pad) != EMSCRIPTEN_RESULT_SUCCESS) continue;
        if (!standard_layout(pad)) continue;
        pads.push_back(
            Gamepad{pad.id, 0, 0, pad.connected != 0, standard_pad_state(reading_of(pad))});
    }
    return pads;
}

}  // namespace zobra
