#pragma once
// Between the game and a sound device: the game thread sends effect ids and
// the music flag through a lock-free link, and the device's callback fills
// its buffers from the synthesiser. Nothing here knows the device; each
// platform opens its own and calls `fill_sound` from its callback.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>

#include "core/arena.h"
#include "sound/music.h"

namespace zobra {

// The sample types a device can be fed.
enum class SampleFormat : std::uint8_t { F32, S16, U16 };

// What the game thread and the callback share. A trigger restarts its effect
// and effects never stack, so one bit per waiting effect id is an exact
// queue: sending sets a bit, the callback takes all bits at once.
struct SoundLink {
    std::atomic<std::uint32_t> waiting_effects{0};
    std::atomic<bool> music_on{true};
};

// What the callback owns.
struct SoundStream {
    Synth synth;
    SoundLink* link = nullptr;
    SampleFormat format = SampleFormat::F32;
    std::uint32_t channels = 1;  // 0 counts as 1
};

// One buffer the device asks for, interleaved: the music flag and the waiting
// effects reach the synthesiser, then every frame gets one sample on all its
// channels. Never blocks, never allocates.
void fill_sound(SoundStream& stream, std::span<std::byte> buffer);

// x × 32768, limited to −32768 … 32767, truncated toward zero.
std::int16_t sample_s16(float x);
// The signed 16-bit sample with its top bit inverted: silence is 32768.
std::uint16_t sample_u16(float x);

// Puts an effect id into the queue; ids beyond the queue's 32 are dropped.
void send_effect(SoundLink& link, std::uint8_t id);
// A frame's sound: the music flag, then the effects of the frame's events in order.
void send_frame_sound(SoundLink& link, std::span<const Event> events, bool music_off);

}  // namespace zobra
