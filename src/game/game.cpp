#include "game/game.h"

#include <utility>

#include "game/view.h"

namespace zobra {

Game::Game(Progress progress, Instant start)
    : session(std::move(progress)), sprites(build_sprite_set()), timer(start) {}

FrameOutcome Game::update(const FrameInput& input, Instant now) {
    return session.update(input, timer.take(now));
}

void Game::draw() { draw_view(canvas, session, sprites, notices); }

}  // namespace zobra
