#include "web/sound_web.h"

#include <emscripten/em_js.h>
#include <emscripten/emscripten.h>

#include <cstdlib>
#include <string>

#include "files/log.h"

// The bodies are JavaScript, which the C++ formatter would break.
// clang-format off

// Opens the context and the node; gives the output's rate in `rate` and
// nothing, or the reason it failed (allocated here; the caller frees it).
// Module.zobraSound keeps the node alive and counts what was played: the
// frames in all, the loudest sample of the last buffer, and the time the
// synthesiser took for the buffers in all (in milliseconds of the page's
// one thread).
EM_JS(char*, open_audio_output, (void* sound, int frames, int* rate), {
    const fail = (reason) => {
        const size = lengthBytesUTF8(reason) + 1;
        const copy = _malloc(size);
        stringToUTF8(reason, copy, size);
        return copy;
    };
    const Context = window.AudioContext || window.webkitAudioContext;
    if (!Context) return fail('this browser has no Web Audio');
    let context;
    let node;
    try {
        context = new Context();
        node = context.createScriptProcessor(frames, 0, context.destination.channelCount);
    } catch (error) {
        return fail(String(error && error.name ? error.name + ": " + error.message : error));
    }
    const state = { context: context, node: node, frames: 0, peak: 0, busyMs: 0, buffers: 0 };
    node.onaudioprocess = (event) => {
        const output = event.outputBuffer;
        const count = output.length;
        const started = performance.now();
        const at = _zobra_fill_sound(sound, count);
        state.busyMs += performance.now() - started;
        state.buffers += 1;
        if (!at) return;
        const mono = HEAPF32.subarray(at >> 2, (at >> 2) + count);
        for (let channel = 0; channel < output.numberOfChannels; ++channel)
            output.getChannelData(channel).set(mono);
        let peak = 0;
        for (let i = 0; i < count; ++i) peak = Math.max(peak, Math.abs(mono[i]));
        state.frames += count;
        state.peak = peak;
    };
    node.connect(context.destination);
    if (context.state === 'suspended') context.resume();
    Module['zobraSound'] = state;
    HEAP32[rate >> 2] = context.sampleRate;
    return 0;
});

EM_JS(void, wake_audio_output, (), {
    const state = Module['zobraSound'];
    if (state && state.context.state === 'suspended') state.context.resume();
});

EM_JS(void, close_audio_output, (), {
    const state = Module['zobraSound'];
    if (!state) return;
    state.node.onaudioprocess = null;
    state.context.close();
});
// clang-format on

// The node's callback: fills the sound's samples and gives where they are,
// or nothing while there is no synthesiser or the request is too large.
extern "C" EMSCRIPTEN_KEEPALIVE float* zobra_fill_sound(zobra::WebSound* sound, int frames) {
    if (!sound->stream || frames <= 0 || static_cast<std::size_t>(frames) > sound->samples.size())
        return nullptr;
    const std::span<float> samples(sound->samples.data(), static_cast<std::size_t>(frames));
    zobra::fill_sound(*sound->stream, std::as_writable_bytes(samples));
    return sound->samples.data();
}

namespace zobra {

bool start_web_sound(WebSound& sound, bool music_wanted) {
    if (sound.tried) {
        if (sound.stream) wake_audio_output();
        return false;
    }
    sound.tried = true;
    sound.samples.assign(web_sound_frames, 0.0f);
    sound.link.music_on.store(music_wanted, std::memory_order_relaxed);
    int rate = 0;
    if (char* failure = open_audio_output(&sound, static_cast<int>(web_sound_frames), &rate)) {
        report_error(std::string("no sound: ") + failure);
        std::free(failure);
        return false;
    }
    // The node calls back only once this function has returned to the
    // browser, so the synthesiser is in place before its first buffer.
    sound.stream.emplace(
        SoundStream{Synth(static_cast<std::uint32_t>(rate)), &sound.link, SampleFormat::F32, 1});
    return true;
}

void send_frame_sound(WebSound& sound, std::span<const Event> events, bool music_off) {
    if (sound.stream) send_frame_sound(sound.link, events, music_off);
}

void stop_web_sound() { close_audio_output(); }

}  // namespace zobra
