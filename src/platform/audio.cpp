#include "platform/audio.h"

#include <SDL.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "core/numbers.h"
#include "files/log.h"

namespace zobra {

namespace {

// Where SDL cannot tell the default configuration (ALSA among others), the
// device is asked for this with everything allowed to change, and what it
// settles on is its configuration.
constexpr AudioConfig common_config{AUDIO_F32SYS, 48000, 2, 0};

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

std::string unwritable_text(std::uint16_t format) {
    return "the sound card wants " + sample_format_name(format) + " samples";
}

// Opens the default device once and starts the synthesiser on it. With
// `allowed_changes` 0 the device takes `config` exactly (SDL converts where
// it must); otherwise the device may change what it is asked for and the
// configuration it opened with is the one the synthesiser writes for.
// Opening once matters: a device is slow to close, because closing waits
// for its thread, and the first picture waits for the sound.
std::unique_ptr<AudioOutput> open_stream(const AudioConfig& config, int allowed_changes,
                                         bool music_wanted, std::string& failure) {
    const std::optional<SampleFormat> format = writable_format(config.format);
    if (!format) {
        failure = unwritable_text(config.format);
        return nullptr;
    }
    auto output = std::make_unique<AudioOutput>(config, music_wanted);
    SDL_AudioSpec wanted{};
    wanted.freq = saturate_cast<int>(static_cast<double>(config.rate_hz));
    wanted.format = sdl_format(*format);
    wanted.channels = static_cast<Uint8>(std::clamp<std::uint32_t>(config.channels, 1, 255));
    wanted.samples = config.buffer_frames;
    wanted.callback = audio_callback;
    wanted.userdata = &output->stream;
    SDL_AudioSpec obtained{};
    const SDL_AudioDeviceID device =
        SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained, allowed_changes);
    if (device == 0) {
        failure = device_failure();
        return nullptr;
    }
    const AudioConfig opened = config_of(obtained);
    if (!writable_format(opened.format)) {
        SDL_CloseAudioDevice(device);
        failure = unwritable_text(opened.format);
        return nullptr;
    }
    output->device = device;
    // A device opens paused, so its thread does not call back yet; unpausing
    // takes the device's lock, which hands the stream over to that thread.
    output->take_config(opened);
    SDL_PauseAudioDevice(device, 0);
    return output;
}

// SDL's audio for one device: a share taken here is handed to the output,
// or given back when no output comes of it.
std::unique_ptr<AudioOutput> open_output(const AudioConfig& config, int allowed_changes,
                                         bool music_wanted) {
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        report_error(std::string("no sound: ") + no_output_text);
        return nullptr;
    }
    std::string failure;
    std::unique_ptr<AudioOutput> output =
        open_stream(config, allowed_changes, music_wanted, failure);
    if (!output) {
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        report_error("no sound: " + failure);
    }
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

void AudioOutput::take_config(const AudioConfig& opened) {
    if (opened.rate_hz != config.rate_hz) stream.synth = Synth(opened.rate_hz);
    stream.format = writable_format(opened.format).value_or(SampleFormat::F32);
    stream.channels = opened.channels;
    config = opened;
}

// An open device holds its own share of SDL's audio.
AudioOutput::~AudioOutput() {
    if (device == 0) return;
    SDL_CloseAudioDevice(device);
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

std::unique_ptr<AudioOutput> open_sound(const AudioConfig& config, bool music_wanted) {
    return open_output(config, 0, music_wanted);
}

std::unique_ptr<AudioOutput> open_sound(bool music_wanted) {
    // The default configuration is read with SDL's audio running; the share
    // taken for it is given back once the output holds its own.
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        report_error(std::string("no sound: ") + no_output_text);
        return nullptr;
    }
    SDL_AudioSpec device{};
    const bool known = SDL_GetDefaultAudioInfo(nullptr, &device, 0) == 0;
    std::unique_ptr<AudioOutput> output = open_output(known ? config_of(device) : common_config,
                                                      SDL_AUDIO_ALLOW_ANY_CHANGE, music_wanted);
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
