#pragma once
// The browser's side of the input: its keyboard, mouse, touch and focus
// events go into the `InputCollector`, its gamepads become `Gamepad`
// records once a frame. Keys count on the whole page, the mouse on the
// canvas, touches anywhere in the window (a phone's bars beside the picture
// are wide); touches are measured in the canvas element's pixels times the
// device pixel ratio, so that a swipe is 14 CSS pixels on any screen.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "game/input.h"

namespace zobra {

inline constexpr std::uint32_t gamepad_events_logged_max = 60;

struct PageInput {
    InputCollector collector;
    // Called before every key, mouse-button and touch event is handled: the
    // player's gestures are what lets the page start its sound.
    std::function<void()> gesture;
    bool gamepads_available = false;
    std::uint32_t gamepad_events_logged = 0;
};

// Registers every event the game listens to. Gives the reason when the
// page's canvas cannot be reached; the game cannot run without it. Without
// gamepads in the browser, says so on the error stream and in the log.
std::optional<std::string> listen_to_page(PageInput& input);

// Physical pixels per CSS pixel: the swipe threshold's scale.
double page_pixel_scale();

// The connected gamepads with the browser's standard layout, in the
// browser's order; none when the browser offers no gamepads.
std::optional<std::vector<Gamepad>> read_gamepads(const PageInput& input);

}  // namespace zobra
