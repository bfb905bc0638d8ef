#pragma once
// The sound in the browser: one Web Audio context at the output's own rate
// and an AudioWorklet that plays the synthesiser's mono samples on every
// channel. The synthesiser itself runs here in the module on the page's one
// thread, between frames and never at the same time as the game: it fills
// blocks of samples a few ahead of what the worklet plays and sends them to
// it through its message port. Browsers without AudioWorklet (and pages
// served from an address the browser does not trust, where it has none) get
// a ScriptProcessorNode instead, whose callback runs the synthesiser the
// same way. The game steers it through the `SoundLink`, as on the desktop.
// Browsers let a page make sound only after the player's first key, click or
// touch: the sound starts there. Sound is optional: when it cannot start,
// one line goes to the error stream and the game runs silently.

#include <cstddef>
#include <optional>
#include <span>
#include <vector>

#include "core/arena.h"
#include "sound/output.h"

namespace zobra {

// The worklet's blocks: about 21 ms at 48 kHz each, four of them filled
// ahead, so that the sound lags the game by about 85 ms at most (no more
// than the script processor's two buffers) and rides out a busy frame or
// two on the page's one thread.
inline constexpr std::size_t web_sound_block_frames = 1024;
inline constexpr std::size_t web_sound_blocks_ahead = 4;

// Samples asked for per callback by the script processor: about 43 ms at
// 48 kHz, which it plays twice over.
inline constexpr std::size_t web_sound_frames = 2048;
static_assert(web_sound_block_frames <= web_sound_frames);

struct WebSound {
    bool tried = false;
    SoundLink link;
    std::optional<SoundStream> stream;  // present while the sound plays
    std::vector<float> samples;         // one block's or callback's mono samples
};

// The first call opens the sound, with the music as `music_wanted` says,
// and returns true when it runs. Every later call wakes a context that the
// browser has held back (one opened by a gesture it does not count, as the
// start of a touch) and returns false.
bool start_web_sound(WebSound& sound, bool music_wanted);

// A frame's sound, when there is sound: the music flag, then the effects of
// the frame's events.
void send_frame_sound(WebSound& sound, std::span<const Event> events, bool music_off);

// Silences the sound for good (after an internal error).
void stop_web_sound();

}  // namespace zobra
