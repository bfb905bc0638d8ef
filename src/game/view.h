#pragma once
// What the player sees: the title screen or the play screen, painted from the
// session into the canvas once a frame. Every pixel is painted on every call,
// nothing is changed, so painting twice gives the same picture.

#include "art/canvas.h"
#include "art/sprites.h"
#include "game/session.h"

namespace zobra {

// What the platform has to tell the player beyond the session.
struct ShellNotices {
    bool save_failed = false;  // the last save did not reach the disk
};

// Paints the whole current screen: the title (menu, player, level or duel
// choice, help, and "SPEICHERN GEHT NICHT" while saving fails) on the title
// and naming screens, otherwise the arena around the camera with the
// heads-up display and, when due, a result or pause panel.
void draw_view(Canvas& canvas, const Session& session, const SpriteSet& sprites,
               const ShellNotices& notices = {});

}  // namespace zobra
