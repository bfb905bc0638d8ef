#pragma once
// The size the window system really gave a window. SDL takes a fullscreen
// request as granted at once and reports the screen's size from then on;
// without a window manager nothing changes, and a picture drawn for SDL's
// size would be cut off.

#include <SDL.h>

#include <optional>

namespace zobra {

struct WindowSize {
    int w = 0;
    int h = 0;
};

// The window's size as the X server holds it, in pixels; nothing where the
// window is not an X window or the server cannot be asked.
std::optional<WindowSize> real_window_size(SDL_Window* window);

}  // namespace zobra
