// Encoding one screenshot: 1.7 MB of stored blocks, a CRC over all of it and
// an Adler-32 over the image data.

#include <benchmark/benchmark.h>

#include <vector>

#include "files/png.h"

namespace {

void encode_screenshot(benchmark::State& state) {
    std::vector<std::uint32_t> pixels(960 * 600);
    for (std::size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = static_cast<std::uint32_t>(i * 2654435761u) >> 8;
    for (auto _ : state) {
        std::vector<std::uint8_t> file = zobra::encode_png(960, 600, pixels);
        benchmark::DoNotOptimize(file.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 1'728'798);
}

}  // namespace

BENCHMARK(encode_screenshot)->Unit(benchmark::kMillisecond);
