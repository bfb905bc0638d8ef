#pragma once
// What the program needs from the platform it runs on: the game's spine
// (start-up, the window, the frame loop, the way the program ends) and a way
// to put an error in front of the player. Everything else about the platform
// stays behind these two calls.

#include <string>

namespace zobra {

// Sets the game up and runs the event loop. The process ends from inside it
// with status 0 when the window is closed or the player leaves by the title.
// With ZOBRA_SHOTS set it writes the screenshots instead and returns.
void run();

// Shows the text in a modal error box titled "Zobra" and waits until the
// player closes it; false when no box could be shown.
bool show_error_box(const std::string& message);

}  // namespace zobra
