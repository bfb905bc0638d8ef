#pragma once
// The game as a platform runs it, one frame at a time: the session and the
// picture it paints, the frame clock, and what the platform reports back
// (a save that failed, a progress that could not be read). A platform gathers the frame's input,
// calls `update`, plays the outcome's sounds, saves and leaves as asked, then calls `draw` and
// shows the canvas. The desktop and the web do the same.

#include "art/canvas.h"
#include "art/sprites.h"
#include "core/progress.h"
#include "game/frame_clock.h"
#include "game/input.h"
#include "game/session.h"
#include "game/view.h"

namespace zobra {

struct Game {
    Session session;
    Canvas canvas;
    SpriteSet sprites;
    FrameTimer timer;
    ShellNotices notices;  // what the platform has to tell about the save: the title says so

    // The progress as loaded, the sprites built, the clock started at `start`.
    Game(Progress progress, Instant start);

    // The frame's rules: the time since the last frame, capped, and the
    // session's update with this input.
    FrameOutcome update(const FrameInput& input, Instant now);
    // Paints the current screen into the canvas.
    void draw();
};

}  // namespace zobra
