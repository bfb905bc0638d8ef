// The whole screenshot run: eighteen scenes played, painted, scaled and
// written, and the sprite sheet, into a temporary folder.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>

#include "game/shots.h"

namespace {

void screenshot_run(benchmark::State& state) {
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("zobra-shots-bench-" + std::to_string(getpid()));
    for (auto _ : state) {
        std::ostringstream printed;
        if (zobra::run_shots(dir, printed))
            state.SkipWithError("the screenshots could not be written");
    }
    std::filesystem::remove_all(dir);
}

}  // namespace

BENCHMARK(screenshot_run)->Unit(benchmark::kMillisecond)->Iterations(5);
