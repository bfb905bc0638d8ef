#include "web/sound_web.h"

#include <emscripten/em_js.h>
#include <emscripten/emscripten.h>

#include <cstdlib>
#include <string>

#include "files/log.h"

// The bodies are JavaScript, which the C++ formatter would break.
// clang-format off

// Opens the context and starts the sound: through an AudioWorklet where the
// browser has one, otherwise through a ScriptProcessorNode whose callback
// takes buffers of `fallback_frames`. Gives the output's rate in `rate` and
// nothing, or the reason it failed (allocated here; the caller frees it).
//
// The synthesiser runs here in the module on the page's one thread either
// way, between frames: for the worklet it fills a block of `block_frames`
// whenever the worklet asks, `ahead_blocks` ahead of what it plays, and
// sends it there; for the script processor it fills the buffer the browser
// asks for. Module.zobraSound keeps the nodes alive and counts what was
// played: the frames in all, the loudest sample of the last block or
// buffer, and the time the synthesiser took for them in all (in
// milliseconds of the page's one thread), with `path` saying which way the
// sound goes. A number in Module.zobraSoundRecord before the sound starts
// keeps that many of the first samples played in `recorded`.
EM_JS(char*, open_audio_output, (void* sound, int block_frames, int ahead_blocks, int fallback_frames, int* rate), {
    const fail = (reason) => {
        const size = lengthBytesUTF8(reason) + 1;
        const copy = _malloc(size);
        stringToUTF8(reason, copy, size);
        return copy;
    };
    const describe = (error) => String(error && error.name ? error.name + ": " + error.message : error);
    const Context = window.AudioContext || window.webkitAudioContext;
    if (!Context) return fail('this browser has no Web Audio');
    let context;
    try {
        context = new Context();
    } catch (error) {
        return fail(describe(error));
    }
    const record = Number(Module['zobraSoundRecord'] || 0);
    const state = {
        context: context, node: null, path: "", blockFrames: 0,
        frames: 0, peak: 0, busyMs: 0, buffers: 0, misses: 0, recorded: null, closed: false,
    };
    const channels = context.destination.channelCount;
    const fill = (count) => {
        const started = performance.now();
        const at = _zobra_fill_sound(sound, count);
        state.busyMs += performance.now() - started;
        state.buffers += 1;
        return at ? HEAPF32.subarray(at >> 2, (at >> 2) + count) : null;
    };

    const useScriptProcessor = () => {
        const node = context.createScriptProcessor(fallback_frames, 0, channels);
        const kept = record > 0 ? new Float32Array(record) : null;
        let keptCount = 0;
        node.onaudioprocess = (event) => {
            const output = event.outputBuffer;
            const mono = fill(output.length);
            if (!mono) return;
            for (let channel = 0; channel < output.numberOfChannels; ++channel)
                output.getChannelData(channel).set(mono);
            if (kept && keptCount < kept.length) {
                const part = mono.subarray(0, kept.length - keptCount);
                kept.set(part, keptCount);
                keptCount += part.length;
                if (keptCount === kept.length) state.recorded = kept;
            }
            let peak = 0;
            for (let i = 0; i < mono.length; ++i) peak = Math.max(peak, Math.abs(mono[i]));
            state.frames += output.length;
            state.peak = peak;
        };
        node.connect(context.destination);
        state.node = node;
        state.path = 'script-processor';
        state.blockFrames = fallback_frames;
    };

    const useWorklet = () => {
        const node = new AudioWorkletNode(context, 'zobra-sound', {
            numberOfInputs: 0,
            numberOfOutputs: 1,
            outputChannelCount: [channels],
            processorOptions: { ahead: ahead_blocks, record: record },
        });
        node.port.onmessage = (event) => {
            const report = event.data;
            state.frames = report.played;
            state.misses = report.misses;
            if (report.played > 0) state.peak = report.peak;
            if (report.recorded) state.recorded = report.recorded;
            for (let i = 0; i < report.want; ++i) {
                const mono = fill(block_frames);
                if (!mono) break;
                const block = mono.slice();
                node.port.postMessage(block, [block.buffer]);
            }
        };
        node.connect(context.destination);
        state.node = node;
        state.path = 'worklet';
        state.blockFrames = block_frames;
    };

    // The sound's processor on the audio thread: it plays the blocks of
    // samples sent through its port, in order, each mono sample on every
    // channel, and asks for one more block whenever it has finished one.
    // When no block is there in time it plays silence and counts the miss;
    // the samples themselves are never dropped or changed. It keeps the first
    // `record` samples it played when asked to.
    const processorCode = '(' + (() => {
        class ZobraSound extends AudioWorkletProcessor {
            constructor(options) {
                super();
                const wanted = options.processorOptions;
                this.blocks = [];
                this.at = 0;
                this.played = 0;
                this.misses = 0;
                this.record = wanted.record > 0 ? new Float32Array(wanted.record) : null;
                this.recorded = 0;
                this.port.onmessage = (event) => this.blocks.push(event.data);
                this.port.postMessage({ want: wanted.ahead, played: 0, peak: 0, misses: 0 });
            }

            process(inputs, outputs) {
                const channels = outputs[0];
                const first = channels[0];
                let done = 0;
                while (done < first.length) {
                    const block = this.blocks[0];
                    if (!block) {
                        first.fill(0, done);
                        if (this.played > 0) this.misses += 1;
                        break;
                    }
                    const count = Math.min(first.length - done, block.length - this.at);
                    const part = block.subarray(this.at, this.at + count);
                    first.set(part, done);
                    if (this.record && this.recorded < this.record.length) {
                        const kept = part.subarray(0, this.record.length - this.recorded);
                        this.record.set(kept, this.recorded);
                        this.recorded += kept.length;
                    }
                    done += count;
                    this.at += count;
                    this.played += count;
                    if (this.at < block.length) continue;
                    this.blocks.shift();
                    this.at = 0;
                    let peak = 0;
                    for (let i = 0; i < block.length; ++i) peak = Math.max(peak, Math.abs(block[i]));
                    const report = { want: 1, played: this.played, peak: peak, misses: this.misses };
                    if (this.record && this.recorded === this.record.length) {
                        report.recorded = this.record;
                        this.record = null;
                    }
                    this.port.postMessage(report);
                }
                for (let channel = 1; channel < channels.length; ++channel) channels[channel].set(first);
                return true;
            }
        }
        registerProcessor("zobra-sound", ZobraSound);
    }).toString() + ")()";

    if (context.audioWorklet && typeof AudioWorkletNode === 'function') {
        // The processor's code comes from memory, so the page stays three
        // files. Should the worklet fail to start, the script processor
        // plays instead.
        const code = new Blob([processorCode], { type: 'text/javascript' });
        const address = URL.createObjectURL(code);
        context.audioWorklet.addModule(address)
            .then(() => {
                if (!state.closed) useWorklet();
            })
            .catch(() => {
                if (!state.closed) useScriptProcessor();
            })
            .finally(() => URL.revokeObjectURL(address));
    } else {
        try {
            useScriptProcessor();
        } catch (error) {
            context.close();
            return fail(describe(error));
        }
    }
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
    state.closed = true;
    if (state.node && state.path === 'worklet') state.node.port.onmessage = null;
    if (state.node && state.path === 'script-processor') state.node.onaudioprocess = null;
    state.context.close();
});
// clang-format on

// Fills the sound's next samples for a node and gives where they are,
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
    if (char* failure = open_audio_output(&sound, static_cast<int>(web_sound_block_frames),
                                          static_cast<int>(web_sound_blocks_ahead),
                                          static_cast<int>(web_sound_frames), &rate)) {
        report_error(std::string("no sound: ") + failure);
        std::free(failure);
        return false;
    }
    // The nodes ask for samples only once this function has returned to the
    // browser, so the synthesiser is in place before its first block.
    sound.stream.emplace(
        SoundStream{Synth(static_cast<std::uint32_t>(rate)), &sound.link, SampleFormat::F32, 1});
    return true;
}

void send_frame_sound(WebSound& sound, std::span<const Event> events, bool music_off) {
    if (sound.stream) send_frame_sound(sound.link, events, music_off);
}

void stop_web_sound() { close_audio_output(); }

}  // namespace zobra
