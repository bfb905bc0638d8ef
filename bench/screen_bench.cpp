// Scaling the canvas into the window, beside a plain memset of the same
// target: the scaler writes every target pixel, so memset is its floor.

#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "art/canvas.h"
#include "game/screen.h"

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

}  // namespace

BENCHMARK(present)->Args({640, 400})->Args({1920, 1080})->Args({3840, 2160});
BENCHMARK(memset_target)->Args({640, 400})->Args({1920, 1080})->Args({3840, 2160});
