#pragma once
// The game as a web page: start-up and the frame loop in the browser, the
// counterpart of the desktop's platform/app.

#include <cstdint>
#include <optional>
#include <string>

#include "core/replay.h"

namespace zobra {

// How the page starts, from its address.
struct PageStart {
    // ?replay=URL: the replay shown instead of the game, which then neither
    // claims nor writes the save (it reads it for the music's choice).
    std::optional<Replay> replay;
    // ?crash-tick=N: an internal error once a recorded match reaches tick
    // N, as the desktop's ZOBRA_TEST_CRASH_TICK asks for one.
    std::optional<std::uint32_t> crash_tick;
    // ?room=CODE or ?watch=CODE: the online screen joins or watches that
    // room on the page's relay at once.
    struct RoomLink {
        bool join = true;
        std::string code;
    };
    std::optional<RoomLink> link;
};

// Loads the save from the page's local storage, listens to the page's
// events and starts the frame loop on the browser's animation frames.
// Returns at once; the page runs the game from then on. An internal error
// shows its report on the page and stops the game.
void run_page(PageStart start);

}  // namespace zobra
