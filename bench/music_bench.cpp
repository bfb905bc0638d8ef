// The synthesiser's cost: output samples per second for a 48 kHz device with
// the tune playing, and with the loudest moment of play on top of it (every
// effect sounding at once, retriggered each buffer). A device at 48 kHz
// needs 48000 of these a second; the rate reported here is how many one core
// could make.

#include <benchmark/benchmark.h>

#include "sound/music.h"

namespace {

constexpr int buffer_frames = 1024;

void tune_alone(benchmark::State& state) {
    zobra::Synth synth(48000);
    for (auto _ : state) {
        for (int i = 0; i < buffer_frames; ++i) benchmark::DoNotOptimize(synth.next_sample());
    }
    state.SetItemsProcessed(state.iterations() * buffer_frames);
}

void tune_with_every_effect(benchmark::State& state) {
    zobra::Synth synth(48000);
    for (auto _ : state) {
        for (std::uint8_t id = 0; id < zobra::effect_slots; ++id) synth.trigger(id);
        for (int i = 0; i < buffer_frames; ++i) benchmark::DoNotOptimize(synth.next_sample());
    }
    state.SetItemsProcessed(state.iterations() * buffer_frames);
}

}  // namespace

BENCHMARK(tune_alone)->Unit(benchmark::kMicrosecond);
BENCHMARK(tune_with_every_effect)->Unit(benchmark::kMicrosecond);
