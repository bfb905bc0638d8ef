#pragma once
// The game's spine: start-up, the window, the frame loop and the way the
// program ends. Everything here runs on the main thread.

namespace zobra {

// Sets the game up and runs the event loop. The process ends from inside it
// with status 0 when the window is closed or the player leaves by the title.
// With ZOBRA_SHOTS set it writes the screenshots instead and returns.
void run();

}  // namespace zobra
