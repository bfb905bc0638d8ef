#pragma once
// The sound in the browser: one Web Audio context at the output's own rate
// and a ScriptProcessorNode whose callback runs the synthesiser here in the
// module, its mono samples copied to every channel. The page has one thread,
// so the callback runs between frames and never at the same time as the
// game; the game steers it through the `SoundLink`, as on the desktop.
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

// Samples asked for per callback: about 43 ms at 48 kHz, enough to ride out
// a busy frame on the page's one thread.
inline constexpr std::size_t web_sound_frames = 2048;

struct WebSound {
    bool tried = false;
    SoundLink link;
    std::optional<SoundStream> stream;  // present while the sound plays
    std::vector<float> samples;         // one callback's mono samples
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
