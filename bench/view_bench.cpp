// Painting a frame: the title screen, a busy play screen (the largest level
// with its creatures, lit charges and fire on every cell in view), and a
// whole frame as the window shows it, painted and scaled into 1920 × 1080.

#include <benchmark/benchmark.h>

#include <vector>

#include "core/levels.h"
#include "game/scaler.h"
#include "game/session.h"
#include "game/view.h"

namespace {

using namespace zobra;

const SpriteSet& sprites() {
    static const SpriteSet set = build_sprite_set();
    return set;
}

Session title_session() {
    Session session{Progress{}};
    session.pads.gamepads = 2;
    return session;
}

// The last level, the camera in its middle, every creature still there, a
// charge on every open cell of a row and fire everywhere in view.
Session busy_session() {
    Session session{Progress{}};
    session.progress.all_open = true;
    session.start_level(level_count - 1);
    Arena& arena = session.match.arena;
    for (std::int32_t x = 1; x < arena.width - 1; ++x)
        if (arena.tile(x, 7).kind == TileKind::Empty)
            arena.charges.push_back(Charge{x, 7, 12, 3, 0});
    for (std::size_t i = 0; i < arena.fire_left.size(); ++i)
        arena.fire_left[i] = static_cast<std::uint8_t>(1 + i % 8);
    session.camera = {90.5f, 30.0f};
    session.tick_time = 0.02f;
    session.animation_time = 12.34f;
    return session;
}

void draw_title(benchmark::State& state) {
    const Session session = title_session();
    Canvas canvas;
    for (auto _ : state) {
        draw_view(canvas, session, sprites());
        benchmark::DoNotOptimize(canvas.pixels.data());
    }
}

void draw_busy_play(benchmark::State& state) {
    const Session session = busy_session();
    Canvas canvas;
    for (auto _ : state) {
        draw_view(canvas, session, sprites());
        benchmark::DoNotOptimize(canvas.pixels.data());
    }
}

// The goal: a whole frame's picture work in under a millisecond.
void draw_and_present_1080p(benchmark::State& state) {
    const Session session = state.range(0) == 0 ? title_session() : busy_session();
    Canvas canvas;
    std::vector<std::uint32_t> target(1920 * 1080);
    for (auto _ : state) {
        draw_view(canvas, session, sprites());
        present_scaled(canvas.pixels, target, 1920, 1080);
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
}

// A frame as the window gets it now: painted, then only what changed since
// the frame before scaled into the 1920 × 1080 window. The title moves its
// parade, the busy play screen a camera that creeps along.
void draw_and_update_1080p(benchmark::State& state) {
    Session session = state.range(0) == 0 ? title_session() : busy_session();
    Canvas canvas;
    std::vector<std::uint32_t> target(1920 * 1080);
    ScreenPicture screen;
    const CameraPos start = session.camera;
    for (std::uint32_t frame = 0; state.KeepRunning(); ++frame) {
        session.animation_time += 1.0f / 60.0f;
        if (state.range(0) != 0) session.camera.x = start.x + static_cast<float>(frame % 64) / 4;
        draw_view(canvas, session, sprites());
        benchmark::DoNotOptimize(screen.update(canvas.pixels, target, 1920, 1080).size());
        benchmark::ClobberMemory();
    }
}

}  // namespace

BENCHMARK(draw_title)->Unit(benchmark::kMicrosecond);
BENCHMARK(draw_busy_play)->Unit(benchmark::kMicrosecond);
BENCHMARK(draw_and_present_1080p)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(draw_and_update_1080p)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
