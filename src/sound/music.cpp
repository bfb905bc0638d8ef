#include "sound/music.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <numbers>

#include "core/panic.h"

namespace zobra {

namespace {

// The tune: sixteen bars of sixteen steps, a lead line and a chord (three
// semitones above C) each. Bars 5, 6 and 13 repeat earlier lines.
constexpr std::string_view bar_1 = "E5 . E5 . G5 - E5 . C5 - D5 - E5 - - .";
constexpr std::string_view bar_2 = "D5 . D5 . G5 - D5 . B4 - C5 - D5 - - .";
constexpr std::string_view bar_9 = "A5 - - - F5 - A5 - C6 - - - A5 - - .";

constexpr std::array<std::string_view, 16> lead_lines = {
    bar_1,
    bar_2,
    "C5 . C5 . E5 - C5 . A4 - B4 - C5 - E5 -",
    "F5 - E5 - D5 - C5 - A4 - C5 - D5 - - .",
    bar_1,
    bar_2,
    "A5 - G5 - F5 - E5 - F5 - - - A4 - C5 -",
    "D5 - E5 - F5 - G5 - - - - . G5 . G5 .",
    bar_9,
    "G5 - - - D5 - G5 - B5 - - - G5 - - .",
    "G5 - - - E5 - G5 - B5 - A5 - G5 - E5 -",
    "A5 - - - - - E5 - C5 - E5 - A5 - - .",
    bar_9,
    "B5 - - - G5 - B5 - D6 - - - B5 - - .",
    "C6 - - - G5 - E5 - G5 - C6 - - - G5 -",
    "E5 - C5 - G4 - C5 - E5 - G5 - C6 - - .",
};

using Chord = std::array<std::int32_t, 3>;
constexpr Chord c_major = {0, 4, 7};
constexpr Chord g_major = {7, 11, 14};
constexpr Chord a_minor = {9, 12, 16};
constexpr Chord f_major = {5, 9, 12};
constexpr Chord e_minor = {4, 7, 11};

constexpr std::array<Chord, 16> chords = {
    c_major, g_major, a_minor, f_major, c_major, g_major, f_major, g_major,
    f_major, g_major, e_minor, a_minor, f_major, g_major, c_major, c_major,
};

// The bass walks root, octave, root, octave … a fifth up near the bar's end,
// one pattern entry per two steps.
constexpr std::array<std::int32_t, 8> bass_pattern = {0, 12, 0, 12, 0, 12, 7, 12};

constexpr std::int32_t bass_base_note = 24;  // C2
constexpr std::int32_t arp_base_note = 60;   // C5
constexpr float arp_turns_per_second = 50.0f;
constexpr float two_pi = 2.0f * std::numbers::pi_v<float>;

// Note sequences of the hatch fanfare and the won round: note, seconds.
struct SeqNote {
    std::int32_t note;
    float seconds;
};
constexpr std::array<SeqNote, 5> hatch_notes = {
    {{60, 0.06f}, {64, 0.06f}, {67, 0.06f}, {72, 0.06f}, {76, 0.18f}}};
constexpr std::array<SeqNote, 6> round_notes = {
    {{60, 0.1f}, {64, 0.1f}, {67, 0.1f}, {72, 0.22f}, {67, 0.1f}, {72, 0.48f}}};

// The note sounding at time t and the time since it began; the last note
// lasts to the end of the effect.
template <std::size_t N>
SeqNote note_at(const std::array<SeqNote, N>& notes, float t) {
    float start = 0.0f;
    for (std::size_t i = 0; i + 1 < N; ++i) {
        const float end = start + notes[i].seconds;
        if (end > t) return {notes[i].note, t - start};
        start = end;
    }
    return {notes[N - 1].note, t - start};
}

// An oscillator's phase moves first and is then read.
float advance(float& phase, float step) {
    const float moved = phase + step;
    phase = moved - std::floor(moved);
    return phase;
}

float square(float phase, float amplitude) { return phase < 0.5f ? amplitude : -amplitude; }

float pulse(float phase, float width, float high, float low) { return phase < width ? high : low; }

// Effect noise that changes rate_hz times a second and holds between draws.
float held_noise(EffectSlot& slot, float rate_hz, std::uint32_t& noise) {
    slot.countdown = slot.countdown - rate_hz / 22050.0f;
    if (slot.countdown <= 0.0f) {
        slot.countdown = slot.countdown + 1.0f;
        slot.held = next_noise(noise);
    }
    return slot.held;
}

bool is_letter_note(char c) { return c >= 'A' && c <= 'G'; }

std::int32_t letter_semitone(char c) {
    constexpr std::array<std::int32_t, 7> from_a = {9, 11, 0, 2, 4, 5, 7};
    return from_a[static_cast<std::size_t>(c - 'A')];
}

// A note token: a letter, an optional sharp, a signed decimal octave. Notes
// that would not fit in 32 bits are as unreadable as a missing octave.
std::optional<std::int32_t> parse_note(std::string_view token) {
    if (token.empty() || !is_letter_note(token[0])) return std::nullopt;
    std::int64_t semitone = letter_semitone(token[0]);
    std::size_t at = 1;
    if (at < token.size() && token[at] == '#') {
        ++semitone;
        ++at;
    }
    std::string_view octave_text = token.substr(at);
    if (!octave_text.empty() && octave_text[0] == '+') {
        octave_text.remove_prefix(1);
        if (!octave_text.empty() && octave_text[0] == '-') return std::nullopt;
    }
    std::int32_t octave = 0;
    const char* end = octave_text.data() + octave_text.size();
    const auto [stop, error] = std::from_chars(octave_text.data(), end, octave);
    if (octave_text.empty() || error != std::errc{} || stop != end) return std::nullopt;
    const std::int64_t note = semitone + 12 * std::int64_t{octave};
    if (note < std::numeric_limits<std::int32_t>::min() ||
        note > std::numeric_limits<std::int32_t>::max())
        return std::nullopt;
    return static_cast<std::int32_t>(note);
}

// One effect's sample at the slot's time t.
float effect_sample(Effect effect, EffectSlot& slot, std::uint32_t& noise) {
    const float t = slot.time;
    const float env = std::max(0.0f, 1.0f - t / effect_seconds(effect));
    switch (effect) {
        case Effect::Dug:
            return 0.5f * std::exp(-40.0f * t) * held_noise(slot, 2600.0f, noise);
        case Effect::PickedUp: {
            const float step = t < 0.05f ? 0.0597963817f : 0.0895933509f;  // E6, then B6
            return 0.42f * std::exp(-9.0f * t) *
                   pulse(advance(slot.phase, step), 0.25f, 1.5f, -0.5f);
        }
        case Effect::WallClosed: {
            const float hz = 70.0f + 150.0f * std::exp(-30.0f * t);
            const float thud =
                square(advance(slot.phase, hz / 22050.0f), std::exp(-16.0f * t)) * 0.6f;
            return thud + 0.6f * std::exp(-38.0f * t) * held_noise(slot, 1400.0f, noise);
        }
        case Effect::Explosion: {
            const float rate_hz = 450.0f + 9000.0f * std::exp(-4.0f * t);
            const float crackle = 0.82f * std::exp(-3.2f * t) * held_noise(slot, rate_hz, noise);
            const float hz = 45.0f + 110.0f * std::exp(-9.0f * t);
            const float rumble =
                0.42f * square(advance(slot.phase2, hz / 22050.0f), std::exp(-5.0f * t));
            return std::sqrt(1.0f - t) * (crackle + rumble);
        }
        case Effect::Hatch: {
            const SeqNote now = note_at(hatch_notes, t);
            const float wave =
                pulse(advance(slot.phase, note_hz(now.note) / 22050.0f), 0.25f, 1.5f, -0.5f);
            return std::sqrt(env) * 0.42f * std::exp(-6.0f * now.seconds) * wave;
        }
        case Effect::RoundOver: {
            const SeqNote now = note_at(round_notes, t);
            const float u = now.seconds;
            const float hz = note_hz(now.note) * (1.0f + 0.006f * std::sin(40.0f * u));
            const float wave =
                square(advance(slot.phase, hz / 22050.0f), 0.6f + 0.4f * std::exp(-8.0f * u));
            return std::sqrt(env) * 0.4f * wave;
        }
        case Effect::AllLost: {
            const float hz = 430.0f * std::exp(-2.5f * t) * (1.0f + 0.03f * std::sin(45.0f * t));
            return env * square(advance(slot.phase, hz / 22050.0f), 0.42f);
        }
        case Effect::DiggerDied: {
            const float hz = 640.0f - 3400.0f * t;
            return env * pulse(advance(slot.phase, hz / 22050.0f), 0.25f, 0.39f, -0.13f);
        }
        case Effect::CreatureStep:
            // Two short clicks; between them the phase stands still.
            if (t < 0.015f || (t >= 0.04f && t < 0.055f))
                return pulse(advance(slot.phase, 0.0816326514f), 0.125f, 0.2625f, -0.0375f);
            return 0.0f;
        case Effect::WispStep: {
            const float hz = 900.0f + 260.0f * std::sin(90.0f * t);
            return env * square(advance(slot.phase, hz / 22050.0f), 0.13f);
        }
        case Effect::BrickBroken: {
            const float tone = 0.25f * std::exp(-45.0f * t) *
                               pulse(advance(slot.phase, 0.0344671197f), 0.25f, 1.5f, -0.5f);
            return tone + 0.5f * std::exp(-55.0f * t) * held_noise(slot, 4200.0f, noise);
        }
        case Effect::CreatureKilled: {
            const float hz = (420.0f + 4400.0f * t) * (1.0f + 0.06f * std::sin(70.0f * t));
            return env * pulse(advance(slot.phase, hz / 22050.0f), 0.25f, 0.45f, -0.15f);
        }
        case Effect::Gobbled: {
            const float hz = 700.0f - 2600.0f * std::min(std::fabs(t - 0.07f), 0.07f);
            return env * square(advance(slot.phase, hz / 22050.0f), 0.3f);
        }
        case Effect::ChargeLit:
            return env * 0.24f * held_noise(slot, 7500.0f, noise);
    }
    return 0.0f;
}

constexpr bool is_effect(std::size_t id) {
    return id < effect_slots && id != 2 && id != 12 && id != 13;
}

// The tune's sample for the current position; moves the tune on by one tick.
float tune_sample(Synth& synth) {
    const float now = static_cast<float>(synth.position) / 22050.0f;
    const auto step_count = static_cast<std::size_t>(std::floor(now / tune_step_seconds));
    const std::size_t s = std::min(step_count, synth.steps.size() - 1);
    const float t = now - static_cast<float>(s) * tune_step_seconds;
    const Chord& chord = chords[(s / 16) % chords.size()];

    // Lead: a pulse with a soft attack, a decay to a sustain, and vibrato on
    // long notes. Its phase runs on across notes.
    float lead = 0.0f;
    const LeadStep& step = synth.steps[s];
    if (step.sounding) {
        const float a = static_cast<float>(step.age) * tune_step_seconds + t;
        const float vibrato = a > 0.18f ? 1.0f + 0.006f * std::sin(38.0f * a) : 1.0f;
        const float hz = note_hz(step.note) * vibrato;
        const float wave = pulse(advance(synth.lead_phase, hz / 22050.0f), 0.25f, 1.5f, -0.5f);
        lead = std::min(a / 0.004f, 1.0f) * (0.45f + 0.55f * std::exp(-7.0f * a)) * wave;
    }

    // The echo line hears only the dry lead.
    const float echo = synth.echo_line[synth.echo_pos];
    synth.echo_line[synth.echo_pos] = lead;
    synth.echo_pos = synth.echo_pos + 1 == synth.echo_line.size() ? 0 : synth.echo_pos + 1;

    const std::int32_t bass_note = bass_base_note + chord[0] + bass_pattern[(s % 16) / 2];
    const float bass_env =
        0.3f + 0.7f * std::exp(-10.0f * (static_cast<float>(s % 2) * tune_step_seconds + t));
    const float bass = square(advance(synth.bass_phase, note_hz(bass_note) / 22050.0f), bass_env);

    const auto turn = static_cast<std::size_t>(std::floor(now * arp_turns_per_second)) % 3;
    const float arp_wave =
        pulse(advance(synth.arp_phase, note_hz(arp_base_note + chord[turn]) / 22050.0f), 0.125f,
              1.75f, -0.25f);
    const float swell =
        0.4f + 0.6f * std::min(5.0f * (static_cast<float>(s % 4) * tune_step_seconds + t), 1.0f);
    const float arpeggio = arp_wave * swell;

    const float r = next_noise(synth.music_noise);
    float drums = 0.0f;
    if (s % 8 == 0 || s % 16 == 10) {
        if (t < sample_seconds) synth.kick_phase = 0.0f;
        advance(synth.kick_phase, (45.0f + 110.0f * std::exp(-40.0f * t)) / 22050.0f);
        drums = drums + 1.2f * std::exp(-14.0f * t) * std::sin(two_pi * synth.kick_phase);
    }
    if (s % 8 == 4) drums = drums + 0.8f * std::exp(-22.0f * t) * r;
    if (s % 4 == 2) drums = drums + 0.35f * std::exp(-90.0f * t) * r;

    if (++synth.position == tune_ticks) synth.position = 0;

    const float mix =
        0.23f * drums + 0.06f * arpeggio + 0.18f * bass + 0.21f * (lead + 0.3f * echo);
    const float duck =
        synth.slots[static_cast<std::size_t>(Effect::Explosion)].sounding ? explosion_duck : 1.0f;
    return std::clamp(mix, -1.0f, 1.0f) * synth.level * duck;
}

}  // namespace

// clang-format off
std::optional<Effect> effect_for(Event event) {
    switch (event) {
        case Event::Dug: return Effect::Dug;
        case Event::PickedUp: return Effect::PickedUp;
        case Event::WallClosed: return Effect::WallClosed;
        case Event::Explosion: return Effect::Explosion;
        case Event::HatchOpened:
        case Event::DiggerEscaped: return Effect::Hatch;
        case Event::RoundOver: return Effect::RoundOver;
        case Event::AllLost: return Effect::AllLost;
        case Event::DiggerDied: return Effect::DiggerDied;
        case Event::CreatureStep: return Effect::CreatureStep;
        case Event::WispStep: return Effect::WispStep;
        case Event::BrickBroken: return Effect::BrickBroken;
        case Event::CreatureKilled: return Effect::CreatureKilled;
        case Event::Gobbled: return Effect::Gobbled;
        case Event::ChargeLit: return Effect::ChargeLit;
        case Event::TimeUp: return std::nullopt;
    }
    return std::nullopt;
}

float effect_seconds(Effect effect) {
    switch (effect) {
        case Effect::Dug: return 0.07f;
        case Effect::PickedUp: return 0.17f;
        case Effect::WallClosed: return 0.2f;
        case Effect::Explosion: return 1.0f;
        case Effect::Hatch: return 0.42f;
        case Effect::RoundOver: return 1.1f;
        case Effect::AllLost: return 0.75f;
        case Effect::DiggerDied: return 0.13f;
        case Effect::CreatureStep: return 0.07f;
        case Effect::WispStep: return 0.1f;
        case Effect::BrickBroken: return 0.09f;
        case Effect::CreatureKilled: return 0.26f;
        case Effect::Gobbled: return 0.14f;
        case Effect::ChargeLit: return 0.4f;
    }
    return 0.0f;
}
// clang-format on

std::vector<LeadStep> parse_lead(std::span<const std::string_view> lines) {
    std::vector<LeadStep> steps;
    LeadStep previous;
    for (std::string_view line : lines) {
        std::size_t start = 0;
        while (true) {
            const std::size_t space = line.find(' ', start);
            const std::string_view token = line.substr(start, space - start);
            LeadStep step;
            if (token == ".") {
                step = {false, previous.note, 0};
            } else if (token == "-") {
                step = {previous.sounding, previous.note, previous.age + 1};
            } else if (const std::optional<std::int32_t> note = parse_note(token)) {
                step = {true, *note, 0};
            } else {
                panic("lead notes are note names");
            }
            steps.push_back(step);
            previous = step;
            if (space == std::string_view::npos) break;
            start = space + 1;
        }
    }
    return steps;
}

float note_hz(std::int32_t note) {
    const auto from_a4 = static_cast<float>(std::int64_t{note} - 57);
    return 440.0f * std::exp2(from_a4 / 12.0f);
}

float next_noise(std::uint32_t& state) {
    std::uint32_t x = state;
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    state = x;
    return static_cast<float>(x >> 8) * (1.0f / 8388608.0f) - 1.0f;
}

Synth::Synth(std::uint32_t device_rate_hz)
    : steps(parse_lead(lead_lines)),
      echo_line(echo_ticks, 0.0f),
      ratio(22050.0f / static_cast<float>(device_rate_hz == 0 ? 1 : device_rate_hz)) {}

void Synth::trigger(std::uint8_t id) {
    if (!is_effect(id)) return;
    slots[id] = EffectSlot{.sounding = true};
}

float Synth::next_sample() {
    hold_time = hold_time - ratio;
    while (hold_time <= 0.0f) {
        hold_time = hold_time + 1.0f;
        last = tick();
    }
    return last;
}

float Synth::tick() {
    // The music fades in and out instead of switching; while it is silent the
    // tune does not move, so it picks up where it stopped.
    const float target = music_on ? music_level_max : 0.0f;
    if (level < target)
        level = std::min(level + music_fade_per_tick, target);
    else if (level > target)
        level = std::max(level - music_fade_per_tick, target);
    const float music = level > 0.0f ? tune_sample(*this) : 0.0f;

    float effects = 0.0f;
    for (std::size_t id = 0; id < effect_slots; ++id) {
        EffectSlot& slot = slots[id];
        if (!slot.sounding) continue;
        const auto effect = static_cast<Effect>(id);
        effects = effects + effect_sample(effect, slot, effect_noise);
        slot.time = slot.time + sample_seconds;
        if (slot.time >= effect_seconds(effect)) slot.sounding = false;
    }

    const float x = std::clamp(music + 0.8f * effects, -1.0f, 1.0f);
    return std::round(x * 127.0f) / 127.0f;
}

}  // namespace zobra
