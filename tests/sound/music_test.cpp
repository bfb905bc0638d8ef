#include "sound/music.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "support/panic_error.h"

namespace zobra {
namespace {

constexpr float quantum = 1.0f / 127.0f;

std::vector<float> run_ticks(Synth& synth, std::size_t count) {
    std::vector<float> out(count);
    for (float& v : out) v = synth.tick();
    return out;
}

std::vector<float> run_samples(Synth& synth, std::size_t count) {
    std::vector<float> out(count);
    for (float& v : out) v = synth.next_sample();
    return out;
}

std::size_t tick_at(float seconds) { return static_cast<std::size_t>(seconds * 22050.0f); }

// The pitch of a wave between two times, from its rising zero crossings.
double measured_hz(const std::vector<float>& wave, float from_seconds, float to_seconds) {
    std::vector<std::size_t> rises;
    for (std::size_t i = tick_at(from_seconds) + 1; i < tick_at(to_seconds); ++i)
        if (wave[i - 1] < 0.0f && wave[i] > 0.0f) rises.push_back(i);
    if (rises.size() < 3) return 0.0;
    return 22050.0 * static_cast<double>(rises.size() - 1) /
           static_cast<double>(rises.back() - rises.front());
}

// An effect alone, from its trigger until it ends.
std::vector<float> effect_alone(Effect effect) {
    Synth synth(22050);
    synth.music_on = false;
    synth.trigger(static_cast<std::uint8_t>(effect));
    std::vector<float> out;
    while (synth.slots[static_cast<std::size_t>(effect)].sounding) out.push_back(synth.tick());
    return out;
}

std::vector<LeadStep> parse_one(std::string_view line) {
    const std::string_view lines[] = {line};
    return parse_lead(lines);
}

TEST(SynthNoise, BothGeneratorsStepThroughTheirKnownStatesAndValues) {
    std::uint32_t music = Synth(22050).music_noise;
    EXPECT_FLOAT_EQ(next_noise(music), 0.0593369f);
    EXPECT_EQ(music, 0x87985AA5u);
    EXPECT_FLOAT_EQ(next_noise(music), -0.8331561f);
    EXPECT_EQ(music, 0x155B24A3u);
    EXPECT_FLOAT_EQ(next_noise(music), -0.4364944f);
    EXPECT_EQ(music, 0x4820F4C4u);

    std::uint32_t effects = Synth(22050).effect_noise;
    EXPECT_FLOAT_EQ(next_noise(effects), -0.3668129f);
    EXPECT_EQ(effects, 0x510C4619u);
    EXPECT_FLOAT_EQ(next_noise(effects), 0.7514139f);
    EXPECT_EQ(effects, 0xE02E553Eu);
    EXPECT_FLOAT_EQ(next_noise(effects), -0.0333997f);
    EXPECT_EQ(effects, 0x7BB98F3Au);
}

TEST(TuneNotes, NoteNamesCountSemitonesFromC0AndA4Sounds440Hz) {
    const std::vector<LeadStep> steps = parse_one("C5 E5 G5 C6 E6 A4 G#3 B#4 C+5 C-1 C0");
    std::vector<std::int32_t> notes;
    for (const LeadStep& s : steps) notes.push_back(s.note);
    EXPECT_EQ(notes, (std::vector<std::int32_t>{60, 64, 67, 72, 76, 57, 44, 60, 60, -12, 0}));
    EXPECT_EQ(note_hz(57), 440.0f);
    EXPECT_EQ(note_hz(69), 880.0f);
    EXPECT_EQ(note_hz(45), 220.0f);
    EXPECT_NEAR(note_hz(60), 523.2511f, 0.001f);
    EXPECT_NEAR(note_hz(76), 1318.5102f, 0.001f);
    EXPECT_NEAR(note_hz(24), 65.4064f, 0.0001f);
}

TEST(TuneNotes, HoldsCarryTheNoteOnAndRestsSilenceIt) {
    // A hold at the very start holds the silence before the tune.
    EXPECT_EQ(parse_one("- E5 - - . - D5"), (std::vector<LeadStep>{{false, 0, 1},
                                                                   {true, 64, 0},
                                                                   {true, 64, 1},
                                                                   {true, 64, 2},
                                                                   {false, 64, 0},
                                                                   {false, 64, 1},
                                                                   {true, 62, 0}}));
    // Lines join into one list: a hold at the start of a line continues the
    // note of the line before.
    const std::string_view lines[] = {"C5 -", "- ."};
    EXPECT_EQ(parse_lead(lines),
              (std::vector<LeadStep>{{true, 60, 0}, {true, 60, 1}, {true, 60, 2}, {false, 60, 0}}));
}

TEST(TuneNotes, AnythingButANoteNameStopsTheGame) {
    for (const char* line :
         {"", "C5  D5", "C5 ", "c5", "H5", "C", "C#", "Cb5", "C5x", "C+", "C-", "C+-1", "C##5",
          "C 5", "C99999999999", "C178956971", "C-178956971", "Db4", "E5 . x"}) {
        try {
            parse_one(line);
            ADD_FAILURE() << "accepted \"" << line << "\"";
        } catch (const testing::PanicError& error) {
            EXPECT_TRUE(std::string(error.what()).ends_with("\nlead notes are note names"))
                << error.what();
        }
    }
    // The largest octaves that still give a 32-bit note are notes.
    EXPECT_EQ(parse_one("C178956970")[0].note, 2147483640);
    EXPECT_EQ(parse_one("C-178956970")[0].note, -2147483640);
}

TEST(Tune, IsSixteenBarsOfSixteenStepsWithRepeatedBars) {
    const Synth synth(48000);
    ASSERT_EQ(synth.steps.size(), 256u);
    EXPECT_EQ(synth.steps[0], (LeadStep{true, 64, 0}));   // E5
    EXPECT_EQ(synth.steps[14], (LeadStep{true, 64, 2}));  // E5 held twice
    auto bar = [&](std::ptrdiff_t n) {
        return std::vector<LeadStep>(synth.steps.begin() + 16 * (n - 1),
                                     synth.steps.begin() + 16 * n);
    };
    EXPECT_EQ(bar(5), bar(1));
    EXPECT_EQ(bar(6), bar(2));
    EXPECT_EQ(bar(13), bar(9));
}

TEST(Tune, StartsAgainFromTheTopAfter604800Ticks) {
    Synth synth(22050);
    run_ticks(synth, tune_ticks - 1);
    EXPECT_EQ(synth.position, tune_ticks - 1);
    synth.tick();
    EXPECT_EQ(synth.position, 0u);
    synth.tick();
    EXPECT_EQ(synth.position, 1u);
}

TEST(SynthOutput, WithTheMusicOffAndNoEffectEverySampleIsSilence) {
    Synth synth(44100);
    synth.music_on = false;
    for (float v : run_samples(synth, 88200)) ASSERT_EQ(v, 0.0f);
    EXPECT_EQ(synth.position, 0u);
    EXPECT_EQ(synth.music_noise, 0x12345678u);
}

TEST(SynthOutput, TheMusicFadesInOverFifteenHundredthsOfASecond) {
    Synth synth(22050);
    std::vector<float> levels;
    std::vector<float> out;
    for (int i = 0; i < 4000; ++i) {
        out.push_back(synth.tick());
        levels.push_back(synth.level);
    }
    // 0.55 / 0.00016628872 = 3307.5 ticks of rising.
    EXPECT_LT(levels[3306], 0.55f);
    EXPECT_EQ(levels[3307], 0.55f);
    for (std::size_t i = 0; i < 10; ++i) EXPECT_EQ(out[i], 0.0f) << i;
    for (std::size_t i = 0; i < out.size(); ++i)
        ASSERT_LE(std::fabs(out[i]), levels[i] + quantum / 2 + 1e-6f) << i;
    float loudest = 0.0f;
    for (std::size_t i = 3308; i < out.size(); ++i) loudest = std::max(loudest, std::fabs(out[i]));
    EXPECT_GT(loudest, 0.05f);
}

TEST(SynthOutput, SwitchingTheMusicOffAndOnResumesTheTuneWhereItFaded) {
    Synth synth(22050);
    run_ticks(synth, 50'000);
    synth.music_on = false;
    std::size_t fading = 0;
    while (synth.level > 0.0f) {
        synth.tick();
        ++fading;
    }
    EXPECT_EQ(fading, 3308u);
    const std::uint64_t stopped_at = synth.position;
    EXPECT_EQ(stopped_at, 50'000u + 3307u);  // the last fading tick no longer plays
    for (float v : run_ticks(synth, 22050)) ASSERT_EQ(v, 0.0f);
    EXPECT_EQ(synth.position, stopped_at);
    synth.music_on = true;
    synth.tick();
    EXPECT_EQ(synth.position, stopped_at + 1);
}

TEST(SynthOutput, EverySampleIsAWholeNumberOf127thsWithinOneAndTheSameEveryRun) {
    Synth a(48000), b(48000);
    float loudest = 0.0f;
    for (int second = 0; second < 4; ++second) {
        for (std::uint8_t id = 0; id < effect_slots; ++id) {
            a.trigger(id);
            b.trigger(id);
        }
        for (int i = 0; i < 48000; ++i) {
            const float v = a.next_sample();
            ASSERT_EQ(v, b.next_sample());
            const float scaled = v * 127.0f;
            ASSERT_EQ(scaled, std::round(scaled)) << v;
            ASSERT_LE(std::fabs(scaled), 127.0f);
            loudest = std::max(loudest, std::fabs(v));
        }
    }
    EXPECT_EQ(loudest, 1.0f);  // everything at once clips
}

TEST(SynthRate, At22050HzEverySampleIsOneTickAndAt44100HzEveryTickIsHeldTwice) {
    Synth internal(22050), same(22050), double_rate(44100);
    const std::vector<float> ticks = run_ticks(internal, 20001);
    const std::vector<float> at_22050 = run_samples(same, 20000);
    const std::vector<float> at_44100 = run_samples(double_rate, 40000);
    // The hold starts empty: the first sample at 22050 Hz already runs two ticks.
    for (std::size_t i = 0; i < at_22050.size(); ++i) ASSERT_EQ(at_22050[i], ticks[i + 1]) << i;
    EXPECT_EQ(at_44100[0], ticks[0]);
    for (std::size_t i = 1; i + 1 < at_44100.size(); i += 2) {
        ASSERT_EQ(at_44100[i], ticks[(i + 1) / 2]) << i;
        ASSERT_EQ(at_44100[i + 1], ticks[(i + 1) / 2]) << i;
    }
}

TEST(SynthRate, At48000HzEveryTickLastsTwoOrThreeSamplesAndSlowDevicesSkipTicks) {
    // With the music on, the tune's position counts the ticks run so far.
    Synth fast(48000);
    std::uint64_t before = 0;
    std::size_t held = 0;
    for (int i = 0; i < 48000; ++i) {
        fast.next_sample();
        const std::uint64_t moved = fast.position - before;
        before = fast.position;
        ASSERT_LE(moved, 1u);
        if (moved == 1 && i > 1) {
            ASSERT_TRUE(held == 2 || held == 3) << i << ": " << held;
            held = 0;
        }
        ++held;
    }
    EXPECT_NEAR(static_cast<double>(fast.position), 22050.0, 2.0);

    Synth slow(8000);
    before = 0;
    for (int i = 0; i < 8000; ++i) {
        slow.next_sample();
        const std::uint64_t moved = slow.position - before;
        before = slow.position;
        if (i == 0) continue;
        ASSERT_TRUE(moved == 2 || moved == 3) << i << ": " << moved;
    }
    EXPECT_NEAR(static_cast<double>(slow.position), 22050.0, 2.0);

    EXPECT_EQ(Synth(0).ratio, 22050.0f);
}

TEST(SynthEffects, EachEventSoundsItsEffectForTheEffectsLength) {
    const std::vector<std::pair<Event, float>> lengths = {{Event::Dug, 0.07f},
                                                          {Event::PickedUp, 0.17f},
                                                          {Event::WallClosed, 0.2f},
                                                          {Event::Explosion, 1.0f},
                                                          {Event::HatchOpened, 0.42f},
                                                          {Event::DiggerEscaped, 0.42f},
                                                          {Event::RoundOver, 1.1f},
                                                          {Event::AllLost, 0.75f},
                                                          {Event::DiggerDied, 0.13f},
                                                          {Event::CreatureStep, 0.07f},
                                                          {Event::WispStep, 0.1f},
                                                          {Event::BrickBroken, 0.09f},
                                                          {Event::CreatureKilled, 0.26f},
                                                          {Event::Gobbled, 0.14f},
                                                          {Event::ChargeLit, 0.4f}};
    for (const auto& [event, seconds] : lengths) {
        const std::optional<Effect> effect = effect_for(event);
        ASSERT_TRUE(effect) << static_cast<int>(event);
        const std::size_t ticks = effect_alone(*effect).size();
        // Time runs on in 32-bit float steps of 1/22050 s, a few ticks short per second.
        EXPECT_NEAR(static_cast<double>(ticks), seconds * 22050.0, 3.0) << static_cast<int>(event);
    }
    EXPECT_FALSE(effect_for(Event::TimeUp));
    EXPECT_EQ(effect_for(Event::HatchOpened), Effect::Hatch);
    EXPECT_EQ(effect_for(Event::DiggerEscaped), Effect::Hatch);
}

TEST(SynthEffects, EveryEventSendsItsOwnEffectIdAndTheClockRunningOutNone) {
    // By event code 0 … 15; the ids travel to the audio thread as bytes.
    constexpr std::optional<int> none;
    const std::array<std::pair<Event, std::optional<int>>, 16> ids = {{
        {Event::ChargeLit, 16},
        {Event::Explosion, 4},
        {Event::BrickBroken, 11},
        {Event::Dug, 0},
        {Event::PickedUp, 1},
        {Event::CreatureKilled, 14},
        {Event::Gobbled, 15},
        {Event::CreatureStep, 9},
        {Event::WispStep, 10},
        {Event::HatchOpened, 5},
        {Event::DiggerEscaped, 5},
        {Event::DiggerDied, 8},
        {Event::WallClosed, 3},
        {Event::TimeUp, none},
        {Event::RoundOver, 6},
        {Event::AllLost, 7},
    }};
    for (std::size_t code = 0; code < ids.size(); ++code) {
        const auto& [event, id] = ids[code];
        ASSERT_EQ(static_cast<std::size_t>(event), code);
        const std::optional<Effect> effect = effect_for(event);
        EXPECT_EQ(effect ? std::optional<int>(static_cast<int>(*effect)) : none, id)
            << "event " << code;
    }
}

TEST(SynthEffects, IdsOutsideTheTableSoundNothing) {
    Synth synth(22050);
    synth.music_on = false;
    for (int id : {2, 12, 13, 17, 255}) synth.trigger(static_cast<std::uint8_t>(id));
    for (float v : run_ticks(synth, 2000)) ASSERT_EQ(v, 0.0f);
}

TEST(SynthEffects, TheFuseHissStartsOnAFreshNoiseValueAndHoldsItAt7500Hz) {
    // The effects' noise starts at −0.3668129, then 0.7514139; at 7500 Hz a
    // value lasts 22050 / 7500 = 2.94 ticks.
    const std::vector<float> hiss = effect_alone(Effect::ChargeLit);
    EXPECT_EQ(hiss[0], -9.0f / 127.0f);
    EXPECT_EQ(hiss[1], -9.0f / 127.0f);
    EXPECT_EQ(hiss[2], 18.0f / 127.0f);
    // Value changes happen every third tick, with a tick more now and then.
    std::size_t changes = 0;
    for (std::size_t i = 1; i < 2000; ++i) changes += hiss[i] != hiss[i - 1];
    EXPECT_NEAR(static_cast<double>(changes), 2000.0 * 7500.0 / 22050.0, 25.0);
}

TEST(SynthEffects, APickupTriggeredAgainRestartsTheBlipInsteadOfLayeringTwo) {
    Synth twice(22050);
    twice.music_on = false;
    twice.trigger(static_cast<std::uint8_t>(Effect::PickedUp));
    run_ticks(twice, 60);  // under three milliseconds
    twice.trigger(static_cast<std::uint8_t>(Effect::PickedUp));
    const std::vector<float> again = run_ticks(twice, 4000);
    std::vector<float> once = effect_alone(Effect::PickedUp);
    once.resize(4000, 0.0f);
    EXPECT_EQ(again, once);
}

TEST(SynthEffects, APickupRisesFromE6ToB6After50Milliseconds) {
    const std::vector<float> blip = effect_alone(Effect::PickedUp);
    EXPECT_NEAR(measured_hz(blip, 0.0f, 0.05f), 1318.51, 5.0);
    EXPECT_NEAR(measured_hz(blip, 0.051f, 0.169f), 1975.53, 5.0);
}

// Each note of a fanfare sounds at its pitch for its time; the last lasts
// to the end.
void expect_notes(Effect effect, std::initializer_list<std::pair<std::int32_t, float>> notes,
                  float until) {
    const std::vector<float> wave = effect_alone(effect);
    float start = 0.0f;
    std::size_t i = 0;
    for (const auto& [note, seconds] : notes) {
        const float end = ++i == notes.size() ? until : start + seconds;
        EXPECT_NEAR(measured_hz(wave, start + 0.002f, end - 0.002f), note_hz(note),
                    note_hz(note) * 0.015)
            << static_cast<int>(effect) << ": note " << i;
        start = start + seconds;
    }
}

TEST(SynthEffects, TheHatchAndTheWonRoundPlayTheirFanfares) {
    expect_notes(Effect::Hatch, {{60, 0.06f}, {64, 0.06f}, {67, 0.06f}, {72, 0.06f}, {76, 0.18f}},
                 0.4f);
    expect_notes(Effect::RoundOver,
                 {{60, 0.1f}, {64, 0.1f}, {67, 0.1f}, {72, 0.22f}, {67, 0.1f}, {72, 0.48f}}, 0.9f);
}

TEST(SynthEffects, SweepsFollowTheirPitchCurves) {
    // The dying digger falls from 640 Hz; the killed creature rises from 420 Hz.
    const std::vector<float> died = effect_alone(Effect::DiggerDied);
    EXPECT_NEAR(measured_hz(died, 0.0f, 0.02f), 640.0 - 3400.0 * 0.01, 15.0);
    EXPECT_NEAR(measured_hz(died, 0.08f, 0.11f), 640.0 - 3400.0 * 0.095, 15.0);
    const std::vector<float> killed = effect_alone(Effect::CreatureKilled);
    EXPECT_NEAR(measured_hz(killed, 0.0f, 0.02f), 420.0 + 4400.0 * 0.01, 25.0);
    EXPECT_GT(measured_hz(killed, 0.2f, 0.24f), 1200.0);
    // The gobbler's gulp goes up to 700 Hz in the middle and back down.
    const std::vector<float> gulp = effect_alone(Effect::Gobbled);
    EXPECT_NEAR(measured_hz(gulp, 0.0f, 0.02f), 700.0 - 2600.0 * 0.06, 20.0);
    EXPECT_NEAR(measured_hz(gulp, 0.06f, 0.08f), 700.0 - 2600.0 * 0.005, 20.0);
    EXPECT_NEAR(measured_hz(gulp, 0.12f, 0.14f), 700.0 - 2600.0 * 0.06, 20.0);
}

TEST(SynthEffects, ACreatureStepClicksTwiceAndItsToneWaitsInTheGap) {
    const std::vector<float> step = effect_alone(Effect::CreatureStep);
    std::vector<std::size_t> rises;  // counted in sounding ticks only
    std::size_t sounding = 0;
    for (std::size_t i = 0; i < step.size(); ++i) {
        const float t = static_cast<float>(i) / 22050.0f;
        const bool clicking = t < 0.015f || (t >= 0.04f && t < 0.055f);
        if (!clicking) {
            ASSERT_EQ(step[i], 0.0f) << i;
            continue;
        }
        ASSERT_NE(step[i], 0.0f) << i;
        if (i > 0 && step[i] > 0.0f && step[i - 1] < 0.0f) rises.push_back(sounding);
        ++sounding;
    }
    // 1800 Hz is a rise every 12.25 ticks, across the gap too.
    ASSERT_GT(rises.size(), 40u);
    for (std::size_t i = 1; i < rises.size(); ++i) {
        const std::size_t gap = rises[i] - rises[i - 1];
        ASSERT_TRUE(gap == 12 || gap == 13) << i << ": " << gap;
    }
}

TEST(SynthEffects, AnExplosionDucksTheTuneToFortyPercentUntilItsSecondIsOver) {
    Synth music(22050), both(22050), blast(22050);
    blast.music_on = false;
    run_ticks(music, 5000);
    run_ticks(both, 5000);
    both.trigger(static_cast<std::uint8_t>(Effect::Explosion));
    blast.trigger(static_cast<std::uint8_t>(Effect::Explosion));

    // Each output is quantised on its own, so the sums agree to within the
    // rounding of the three.
    std::size_t ticks = 0;
    float largest_duck = 0.0f;
    while (both.slots[static_cast<std::size_t>(Effect::Explosion)].sounding) {
        const float m = music.tick(), x = both.tick(), e = blast.tick();
        ++ticks;
        if (std::fabs(x) >= 1.0f || std::fabs(e) >= 1.0f) continue;
        ASSERT_NEAR(x, 0.4f * m + e, 1.21f * quantum + 1e-6f) << ticks;
        largest_duck = std::max(largest_duck, 0.6f * std::fabs(m));
    }
    EXPECT_NEAR(static_cast<double>(ticks), 22050.0, 3.0);
    EXPECT_GT(largest_duck, 0.1f);  // full loudness would have shown
    // From the next tick on, the tune is back at full loudness.
    for (std::size_t i = 0; i < 5000; ++i) ASSERT_EQ(both.tick(), music.tick()) << i;
}

}  // namespace
}  // namespace zobra
