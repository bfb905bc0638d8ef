#include "platform/audio.h"

#include <SDL.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <variant>

#include "core/numbers.h"
#include "files/log.h"

namespace zobra {

namespace {

// Where SDL cannot tell the default configuration, the device is opened
// asking for this and whatever it gives is taken as its own.
constexpr int probe_rate_hz = 48000;
constexpr SDL_AudioFormat probe_format = AUDIO_F32SYS;
constexpr Uint8 probe_channels = 2;

constexpr const char* no_output_text = "no sound output found";

void SDLCALL audio_callback(void* userdata, Uint8* bytes, int length) {
    auto& stream = *static_cast<SoundStream*>(userdata);
    fill_sound(stream, {reinterpret_cast<std::byte*>(bytes),
                        static_cast<std::size_t>(std::max(length, 0))});
}

SDL_AudioFormat sdl_format(SampleFormat format) {
    // clang-format off
    switch (format) {
        case SampleFormat::F32: return AUDIO_F32SYS;
        case SampleFormat::S16: return AUDIO_S16SYS;
        case SampleFormat::U16: return AUDIO_U16SYS;
    }
    // clang-format on
    return AUDIO_F32SYS;
}

// Why a device failed: SDL's text, unless there is no output device at all.
std::string device_failure() {
    const std::string error = SDL_GetError();
    return SDL_GetNumAudioDevices(0) == 0 ? no_output_text : error;
}

AudioConfig config_of(const SDL_AudioSpec& device) {
    return {device.format, static_cast<std::uint32_t>(std::max(device.freq, 0)), device.channels,
            device.samples};
}

// The default device's own configuration. Several of SDL's drivers cannot
// tell it (ALSA among them); there the device is opened with everything
// allowed to change and what it settles on is its configuration.
std::variant<AudioConfig, std::string> default_config() {
    SDL_AudioSpec device{};
    if (SDL_GetDefaultAudioInfo(nullptr, &device, 0) == 0) return config_of(device);

    SDL_AudioSpec wanted{};
    wanted.freq = probe_rate_hz;
    wanted.format = probe_format;
    wanted.channels = probe_channels;
    wanted.callback = [](void*, Uint8* bytes, int length) {
        SDL_memset(bytes, 0, static_cast<std::size_t>(length));
    };
    SDL_AudioSpec obtained{};
    const SDL_AudioDeviceID probe =
        SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained, SDL_AUDIO_ALLOW_ANY_CHANGE);
    if (probe == 0) return device_failure();
    SDL_CloseAudioDevice(probe);
    return config_of(obtained);
}

// Opens and starts the stream on SDL's running audio. None and the failure
// text when the device refuses.
std::unique_ptr<AudioOutput> open_stream(const AudioConfig& config, bool music_wanted,
                                         std::string& failure) {
    auto output = std::make_unique<AudioOutput>(config, music_wanted);
    const std::optional<SampleFormat> format = writable_format(config.format);
    if (!format) {
        failure = "the sound card wants " + sample_format_name(config.format) + " samples";
        return nullptr;
    }

    // The configuration is asked for exactly and nothing may change: what
    // the callback writes is what the device was said to take.
    SDL_AudioSpec wanted{};
    wanted.freq = saturate_cast<int>(static_cast<double>(config.rate_hz));
    wanted.format = sdl_format(*format);
    wanted.channels = static_cast<Uint8>(std::clamp<std::uint32_t>(config.channels, 1, 255));
    wanted.samples = config.buffer_frames;
    wanted.callback = audio_callback;
    wanted.userdata = &output->stream;
    const SDL_AudioDeviceID device = SDL_OpenAudioDevice(nullptr, 0, &wanted, nullptr, 0);
    if (device == 0) {
        failure = device_failure();
        return nullptr;
    }
    output->device = device;
    SDL_PauseAudioDevice(device, 0);
    return output;
}

}  // namespace

std::string sample_format_name(std::uint16_t sdl_format) {
    const char* kind = SDL_AUDIO_ISFLOAT(sdl_format)    ? "F"
                       : SDL_AUDIO_ISSIGNED(sdl_format) ? "I"
                                                        : "U";
    std::string name = kind;  // appended, not "kind + …": g++ 12 warns falsely at -O3
    name += std::to_string(SDL_AUDIO_BITSIZE(sdl_format));
    return name;
}

std::optional<SampleFormat> writable_format(std::uint16_t sdl_format) {
    // Either byte order: SDL turns the native one into the other.
    const std::string name = sample_format_name(sdl_format);
    if (name == "F32") return SampleFormat::F32;
    if (name == "I16") return SampleFormat::S16;
    if (name == "U16") return SampleFormat::U16;
    return std::nullopt;
}

AudioOutput::AudioOutput(const AudioConfig& config, bool music_wanted)
    : stream{Synth(config.rate_hz), &link,
             writable_format(config.format).value_or(SampleFormat::F32), config.channels},
      config(config) {
    link.music_on.store(music_wanted, std::memory_order_relaxed);
}

// An open device holds its own share of SDL's audio.
AudioOutput::~AudioOutput() {
    if (device == 0) return;
    SDL_CloseAudioDevice(device);
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

std::unique_ptr<AudioOutput> open_sound(const AudioConfig& config, bool music_wanted) {
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        report_error(std::string("no sound: ") + no_output_text);
        return nullptr;
    }
    std::string failure;
    std::unique_ptr<AudioOutput> output = open_stream(config, music_wanted, failure);
    if (!output) {
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        report_error("no sound: " + failure);
    }
    return output;
}

std::unique_ptr<AudioOutput> open_sound(bool music_wanted) {
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        report_error(std::string("no sound: ") + no_output_text);
        return nullptr;
    }
    std::unique_ptr<AudioOutput> output;
    std::variant<AudioConfig, std::string> config = default_config();
    if (const auto* found = std::get_if<AudioConfig>(&config))
        output = open_sound(*found, music_wanted);
    else
        report_error("no sound: " + std::get<std::string>(config));
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    return output;
}

void start_sound(Sound& sound, bool music_wanted) {
    if (sound.tried) return;
    sound.tried = true;
    sound.output = open_sound(music_wanted);
}

void send_frame_sound(Sound& sound, std::span<const Event> events, bool music_off) {
    if (sound.output) send_frame_sound(sound.output->link, events, music_off);
}

void sound_device_removed(const Sound& sound, std::uint32_t device) {
    if (sound.output && sound.output->device == device)
        report_error("sound stopped: the sound device was disconnected");
}

}  // namespace zobra
