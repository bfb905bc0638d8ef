#pragma once
// The game's synthesiser: one looping tune (lead with echo, bass, chord
// arpeggio, drums) and the sound effects of play, computed sample by sample
// at 22050 Hz in mono, quantised to 255 levels and held for as many device
// samples as each lasts. The audio callback owns the one `Synth`; the game
// thread reaches it only through effect ids and the music flag.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "core/arena.h"

namespace zobra {

inline constexpr std::uint32_t synth_rate_hz = 22050;
inline constexpr float sample_seconds = 1.0f / 22050.0f;
inline constexpr float tune_step_seconds = 3.0f / 28.0f;  // a sixteenth at 140 beats a minute
inline constexpr std::uint64_t tune_ticks = 604'800;      // 256 steps, then from the top
inline constexpr std::size_t echo_ticks = 7087;           // about three steps
inline constexpr float music_level_max = 0.55f;
inline constexpr float music_fade_per_tick = 0.00016628872f;  // 0.15 s from silence to full
inline constexpr float explosion_duck = 0.4f;

// The sound effects by the id that travels from the game to the synthesiser.
enum class Effect : std::uint8_t {
    Dug = 0,
    PickedUp = 1,
    WallClosed = 3,
    Explosion = 4,
    Hatch = 5,  // the hatch opening and a digger leaving through it
    RoundOver = 6,
    AllLost = 7,
    DiggerDied = 8,
    CreatureStep = 9,
    WispStep = 10,
    BrickBroken = 11,
    CreatureKilled = 14,
    Gobbled = 15,
    ChargeLit = 16,
};
inline constexpr std::size_t effect_slots = 17;  // ids 0 … 16

// The effect an arena event sounds; none for `TimeUp`.
std::optional<Effect> effect_for(Event event);

// The length of an effect in seconds.
float effect_seconds(Effect effect);

// One step of the lead melody.
struct LeadStep {
    bool sounding = false;
    std::int32_t note = 0;  // semitones from C0
    std::uint32_t age = 0;  // steps since the note began
    friend bool operator==(const LeadStep&, const LeadStep&) = default;
};

// Parses lead lines ("E5 . E5 - ..."), one step per token, into one list.
// A token that is no note name stops the game ("lead notes are note names").
std::vector<LeadStep> parse_lead(std::span<const std::string_view> lines);

// f(n) = 440 × 2^((n − 57) / 12) Hz: A4 is note 57.
float note_hz(std::int32_t note);

// xorshift32 on `state`, giving a value in [−1, 1).
float next_noise(std::uint32_t& state);

// One effect's voice.
struct EffectSlot {
    bool sounding = false;
    float time = 0.0f;  // seconds since the effect started
    float phase = 0.0f;
    float phase2 = 0.0f;
    float held = 0.0f;       // the noise value being held
    float countdown = 0.0f;  // until the next noise value
};

// The whole synthesiser.
struct Synth {
    std::vector<LeadStep> steps;
    std::vector<float> echo_line;
    std::size_t echo_pos = 0;
    std::uint64_t position = 0;  // ticks into the tune
    float lead_phase = 0.0f;
    float bass_phase = 0.0f;
    float arp_phase = 0.0f;
    float kick_phase = 0.0f;
    std::uint32_t music_noise = 0x12345678;
    std::array<EffectSlot, effect_slots> slots{};
    std::uint32_t effect_noise = 0x9E3779B9;
    float ratio = 1.0f;  // internal ticks per output sample
    float hold_time = 0.0f;
    float last = 0.0f;
    float level = 0.0f;  // music loudness, 0 … 0.55
    bool music_on = true;

    // The tune parsed, everything silent, for a device at this rate (0 counts as 1).
    explicit Synth(std::uint32_t device_rate_hz);

    // Restarts an effect from its beginning; ids outside the table are ignored.
    void trigger(std::uint8_t id);
    // The next sample for the device: a multiple of 1/127 in [−1, 1].
    float next_sample();
    // One internal sample at 22050 Hz.
    float tick();
};

}  // namespace zobra
