#include "sound/output.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "core/numbers.h"

namespace zobra {

namespace {

template <typename Sample, typename Convert>
void write_frames(Synth& synth, std::span<std::byte> buffer, std::uint32_t channels,
                  Convert convert) {
    const std::size_t samples = buffer.size() / sizeof(Sample);
    const std::size_t per_frame = channels == 0 ? 1 : channels;
    for (std::size_t first = 0; first < samples; first += per_frame) {
        const Sample value = convert(synth.next_sample());
        const std::size_t end = std::min(samples, first + per_frame);
        for (std::size_t i = first; i < end; ++i)
            std::memcpy(buffer.data() + i * sizeof(Sample), &value, sizeof(Sample));
    }
}

}  // namespace

void fill_sound(SoundStream& stream, std::span<std::byte> buffer) {
    Synth& synth = stream.synth;
    synth.music_on = stream.link->music_on.load(std::memory_order_relaxed);
    std::uint32_t waiting = stream.link->waiting_effects.exchange(0, std::memory_order_relaxed);
    for (std::uint8_t id = 0; waiting != 0; ++id, waiting >>= 1)
        if ((waiting & 1u) != 0) synth.trigger(id);

    switch (stream.format) {
        case SampleFormat::F32:
            write_frames<float>(synth, buffer, stream.channels, [](float x) { return x; });
            break;
        case SampleFormat::S16:
            write_frames<std::int16_t>(synth, buffer, stream.channels, sample_s16);
            break;
        case SampleFormat::U16:
            write_frames<std::uint16_t>(synth, buffer, stream.channels, sample_u16);
            break;
    }
}

std::int16_t sample_s16(float x) { return saturate_cast<std::int16_t>(x * 32768.0f); }

std::uint16_t sample_u16(float x) { return static_cast<std::uint16_t>(sample_s16(x) + 32768); }

void send_effect(SoundLink& link, std::uint8_t id) {
    if (id < 32) link.waiting_effects.fetch_or(std::uint32_t{1} << id, std::memory_order_relaxed);
}

void send_frame_sound(SoundLink& link, std::span<const Event> events, bool music_off) {
    link.music_on.store(!music_off, std::memory_order_relaxed);
    for (const Event event : events)
        if (const std::optional<Effect> effect = effect_for(event))
            send_effect(link, static_cast<std::uint8_t>(*effect));
}

}  // namespace zobra
