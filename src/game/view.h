#pragma once
// What the player sees: the title screen or the play screen, painted from the
// session into the canvas once a frame. Every pixel is painted on every call,
// nothing is changed, so painting twice gives the same picture.

#include <optional>
#include <string_view>

#include "art/canvas.h"
#include "art/sprites.h"
#include "game/session.h"

namespace zobra {

// What the platform has to tell the player beyond the session.
// The title's bottom strip holds one line, so only the most pressing shows,
// in the order of the fields.
struct ShellNotices {
    bool save_failed = false;   // the last save did not reach the disk
    bool second_copy = false;   // another copy of the game holds the save: this one keeps nothing
    bool started_over = false;  // the save could not be read, and nothing is saved since
    bool save_unlocked =
        false;  // the save could not be locked: copies do not tell each other apart
};

// The line the title shows for the notices, if any.
std::optional<std::string_view> notice_text(const ShellNotices& notices);

// Paints the whole current screen: the title (menu, player, level or duel
// choice, help, and a notice about the save such as "SPEICHERN GEHT NICHT"
// while saving fails) on the title
// and naming screens, otherwise the arena around the camera with the
// heads-up display and, when due, a result or pause panel.
void draw_view(Canvas& canvas, const Session& session, const SpriteSet& sprites,
               const ShellNotices& notices = {});

}  // namespace zobra
