// Scaling the canvas into the window, beside a plain memset of the same
// target: the scaler writes every target pixel, so memset is its floor.
// Then keeping a target up to date from frame to frame: a still canvas
// (only the comparison), and one where a few sprite-sized patches change.

#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "art/canvas.h"
#include "game/scaler.h"

namespace {

zobra::Canvas busy_canvas() {
    zobra::Canvas canvas;
    for (std::int32_t y = 0; y < 200; ++y)
        for (std::int32_t x = 0; x < 320; ++x)
            canvas.set_pixel(x, y,
                             {static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(y),
                              static_cast<std::uint8_t>(x ^ y)});
    return canvas;
}

void present(benchmark::State& state) {
    const auto w = static_cast<std::uint32_t>(state.range(0));
    const auto h = static_cast<std::uint32_t>(state.range(1));
    const zobra::Canvas canvas = busy_canvas();
    std::vector<std::uint32_t> target(std::size_t{w} * h);
    for (auto _ : state) {
        zobra::present_scaled(canvas.pixels, target, w, h);
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
}

void memset_target(benchmark::State& state) {
    const auto w = static_cast<std::size_t>(state.range(0));
    const auto h = static_cast<std::size_t>(state.range(1));
    std::vector<std::uint32_t> target(w * h);
    for (auto _ : state) {
        std::memset(target.data(), 0, target.size() * sizeof(std::uint32_t));
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
}

// Every frame a few 16 × 16 patches move one pixel, as creatures do.
void update_moving(benchmark::State& state) {
    const auto w = static_cast<std::uint32_t>(state.range(0));
    const auto h = static_cast<std::uint32_t>(state.range(1));
    const auto patches = static_cast<std::int32_t>(state.range(2));
    zobra::Canvas canvas = busy_canvas();
    const zobra::Canvas background = canvas;
    std::vector<std::uint32_t> target(std::size_t{w} * h);
    zobra::ScreenPicture screen;
    screen.update(canvas.pixels, target, w, h);
    std::int32_t step = 0;
    for (auto _ : state) {
        canvas.pixels = background.pixels;
        for (std::int32_t i = 0; i < patches; ++i)
            canvas.fill_rect(20 + 37 * i + step % 40, 30 + 23 * i, 16, 16, {255, 0, 0});
        ++step;
        benchmark::DoNotOptimize(screen.update(canvas.pixels, target, w, h).size());
        benchmark::ClobberMemory();
    }
}

}  // namespace

BENCHMARK(present)->Args({640, 400})->Args({1920, 1080})->Args({3840, 2160});
BENCHMARK(memset_target)->Args({640, 400})->Args({1920, 1080})->Args({3840, 2160});
BENCHMARK(update_moving)->Args({1920, 1080, 0})->Args({1920, 1080, 6})->Args({960, 600, 6});
