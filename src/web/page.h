#pragma once
// The page around the game: the HTML canvas the game's picture is shown in.
// The canvas element keeps the game's 320 × 200 pixels; the page's style
// sheet scales it to the window, pixels kept square and sharp, black bars
// keeping 16:10.

#include "art/canvas.h"

namespace zobra {

// Copies the canvas into the page's canvas element (Module.canvas) and
// counts the frame in the element's data-frames attribute, which tells the
// page's tests that a picture is up.
void show_on_page(const Canvas& canvas);

}  // namespace zobra
