#pragma once
// The game as a web page: start-up and the frame loop in the browser, the
// counterpart of the desktop's platform/app.

namespace zobra {

// Loads the save from the page's local storage, listens to the page's
// events and starts the frame loop on the browser's animation frames.
// Returns at once; the page runs the game from then on. An internal error
// shows its report on the page and stops the game.
void run_page();

}  // namespace zobra
