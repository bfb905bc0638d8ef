#pragma once
// The sound device: one SDL output stream on the system's default device
// whose callback runs the synthesiser on SDL's audio thread. The game thread
// steers it only through the `SoundLink` (sound/output.h), so neither thread
// ever waits for the other. Sound is optional: when it cannot start, one
// line goes to the error stream and the game runs silently.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "core/arena.h"
#include "sound/output.h"

namespace zobra {

// A device configuration in SDL's terms.
struct AudioConfig {
    std::uint16_t format = 0;  // SDL_AudioFormat
    std::uint32_t rate_hz = 0;
    std::uint32_t channels = 0;
    std::uint16_t buffer_frames = 0;  // 0: the audio library's default
};

// "F32", "I16", "U8" … for an SDL sample format.
std::string sample_format_name(std::uint16_t sdl_format);
// The sample type written for an SDL format; none for those the game cannot write.
std::optional<SampleFormat> writable_format(std::uint16_t sdl_format);

// A running output stream. It lives for the rest of the run; destroying it
// closes the device.
struct AudioOutput {
    SoundLink link;
    SoundStream stream;
    AudioConfig config;
    std::uint32_t device = 0;  // SDL's device id

    AudioOutput(const AudioConfig& config, bool music_wanted);
    // The configuration the device opened with becomes the stream's, while
    // the device is still paused.
    void take_config(const AudioConfig& opened);
    ~AudioOutput();
    AudioOutput(const AudioOutput&) = delete;
    AudioOutput& operator=(const AudioOutput&) = delete;
};

// Opens the default device once, asking for its default configuration and
// letting it change what it must, and starts the synthesiser on whatever
// configuration it opened with. On failure (also a sample format the game
// cannot write) writes "no sound: " and the reason to the error stream and
// gives none.
std::unique_ptr<AudioOutput> open_sound(bool music_wanted);
// The same on the default device with exactly this configuration.
std::unique_ptr<AudioOutput> open_sound(const AudioConfig& config, bool music_wanted);

// The shell's sound: tried once per run, present while it plays.
struct Sound {
    bool tried = false;
    std::unique_ptr<AudioOutput> output;
};

// The first call opens the sound; every later one returns at once.
void start_sound(Sound& sound, bool music_wanted);

// A frame's sound, when there is sound: the music flag, then the effects of
// the frame's events in order.
void send_frame_sound(Sound& sound, std::span<const Event> events, bool music_off);
// SDL reports a device gone; when it is ours, "sound stopped: …" goes to the
// error stream and everything else carries on.
void sound_device_removed(const Sound& sound, std::uint32_t device);

}  // namespace zobra
