// The web page's entry point. For now the page shows the title screen as a
// new player sees it and stays there; the frame loop, the keyboard, touch
// and gamepads, the sound and the save in the browser's storage come with
// the rest of the browser platform.

#include "art/canvas.h"
#include "art/sprites.h"
#include "core/progress.h"
#include "game/session.h"
#include "game/shots.h"
#include "game/view.h"
#include "web/page.h"

int main() {
    zobra::Session session{zobra::Progress{}};
    zobra::place_camera(session);
    const zobra::SpriteSet sprites = zobra::build_sprite_set();
    zobra::Canvas canvas;
    zobra::draw_view(canvas, session, sprites);
    zobra::show_on_page(canvas);
    return 0;
}
