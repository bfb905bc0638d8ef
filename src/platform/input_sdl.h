#pragma once
// SDL's side of the input: its window events go into the `InputCollector`,
// its game controllers become `Gamepad` records.

#include <SDL.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "game/input.h"

namespace zobra {

// The key in a physical position; none for a key SDL cannot place.
std::optional<Key> key_for_scancode(SDL_Scancode scancode);

// F11, or Enter (either) with Alt held, pressed or released: the keys that
// switch fullscreen and never reach the game.
bool is_fullscreen_key(const SDL_Event& event);

// Where touches land: SDL reports fingers in 0 … 1 of the window, the game
// measures them in physical pixels.
struct TouchSpace {
    double width = 1.0;  // physical pixels
    double height = 1.0;
    double scale = 1.0;  // physical pixels per logical pixel
};
// The window's touch space; with no window, one pixel wide and a scale of 1.
TouchSpace touch_space(SDL_Window* window);

// Hands a keyboard, text, mouse-button, touch or focus event to the
// collector; every other event is left alone.
void feed_event(InputCollector& input, const SDL_Event& event, const TouchSpace& space);

inline constexpr std::uint32_t gamepad_events_logged_max = 60;

// SDL's game controllers: opened when they connect, closed when they go.
class GamepadLibrary {
  public:
    using LogSink = std::function<void(std::string_view)>;

    // Starts SDL's game controller support; gives SDL's error text when it
    // cannot. Lines go to `log` (the diagnostic log in the game).
    static std::optional<GamepadLibrary> start(LogSink log, std::string& error);

    // "gamepads known to the gamepad library at start:" and one line each.
    void log_listing() const;

    // Opens and closes controllers as they come and go, and writes the
    // run's first 60 controller events to the log.
    void handle_event(const SDL_Event& event);

    // The open controllers in SDL's device order.
    std::vector<Gamepad> gamepads() const;

  private:
    explicit GamepadLibrary(LogSink log) : log_(std::move(log)) {}

    LogSink log_;
    std::uint32_t events_logged_ = 0;
};

}  // namespace zobra
