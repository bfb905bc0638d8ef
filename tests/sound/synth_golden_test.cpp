// Everything the synthesiser plays, compared with tests/golden/synth.txt: the
// whole tune, each effect alone, and two mixes. Any change to a note, a
// weight, an envelope or a noise rate changes some stretch; `make golden`
// records a deliberate one.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "sound/music.h"
#include "support/golden.h"

namespace zobra {
namespace {

// What the golden file keeps of a stretch: its length in samples, the
// SHA-256 of all samples as signed bytes (the sample × 127), and 256 of those
// bytes evenly spaced, two hexadecimal digits each, to say where a change
// begins.
constexpr std::size_t points = 256;

std::size_t point_at(std::size_t k, std::size_t length) { return k * length / points; }

std::string golden_value(const std::vector<float>& samples) {
    std::vector<std::uint8_t> bytes;
    for (float v : samples)
        bytes.push_back(static_cast<std::uint8_t>(static_cast<std::int8_t>(std::lround(v * 127))));
    std::string value = std::to_string(bytes.size()) + " " + testing::sha256_hex(bytes) + " ";
    char digits[3];
    for (std::size_t k = 0; k < points && !bytes.empty(); ++k) {
        std::snprintf(digits, sizeof digits, "%02x", bytes[point_at(k, bytes.size())]);
        value += digits;
    }
    return value;
}

std::string at_sample(std::size_t index) {
    char seconds[16];
    std::snprintf(seconds, sizeof seconds, "%.4f", static_cast<double>(index) / synth_rate_hz);
    return "sample " + std::to_string(index) + " (" + seconds + " s)";
}

std::string explain_sound(std::string_view, std::string_view stored, std::string_view now) {
    std::size_t stored_length = 0, now_length = 0;
    std::string stored_sha, now_sha, stored_points, now_points;
    std::istringstream(std::string(stored)) >> stored_length >> stored_sha >> stored_points;
    std::istringstream(std::string(now)) >> now_length >> now_sha >> now_points;
    if (stored_length != now_length)
        return "now " + std::to_string(now_length) + " samples long, stored " +
               std::to_string(stored_length);
    const long k = testing::first_different_group(stored_points, now_points, 2);
    if (k < 0) return "differs only between the stored points";
    const auto kk = static_cast<std::size_t>(k);
    const auto value = [&](const std::string& hex) {
        const auto byte = static_cast<std::int8_t>(std::stoi(hex.substr(2 * kk, 2), nullptr, 16));
        return std::to_string(byte) + "/127";
    };
    return "first differs at " + at_sample(point_at(kk, now_length)) +
           (k > 0 ? ", after " + at_sample(point_at(kk - 1, now_length)) + " still agreed" : "") +
           ": stored " + value(stored_points) + ", now " + value(now_points);
}

std::vector<float> run(Synth& synth, std::size_t ticks,
                       const std::vector<std::pair<std::size_t, Effect>>& triggers = {}) {
    std::vector<float> out;
    for (std::size_t i = 0; i < ticks; ++i) {
        for (const auto& [at, effect] : triggers)
            if (at == i) synth.trigger(static_cast<std::uint8_t>(effect));
        out.push_back(synth.tick());
    }
    return out;
}

constexpr std::pair<Effect, std::string_view> effect_names[] = {
    {Effect::Dug, "dug"},
    {Effect::PickedUp, "picked-up"},
    {Effect::WallClosed, "wall-closed"},
    {Effect::Explosion, "explosion"},
    {Effect::Hatch, "hatch"},
    {Effect::RoundOver, "round-over"},
    {Effect::AllLost, "all-lost"},
    {Effect::DiggerDied, "digger-died"},
    {Effect::CreatureStep, "creature-step"},
    {Effect::WispStep, "wisp-step"},
    {Effect::BrickBroken, "brick-broken"},
    {Effect::CreatureKilled, "creature-killed"},
    {Effect::Gobbled, "gobbled"},
    {Effect::ChargeLit, "charge-lit"},
};

TEST(SynthGolden, TheTuneEachEffectAndTwoMixesSoundAsStored) {
    std::map<std::string, std::string> now;
    Synth tune(synth_rate_hz);
    now["tune"] = golden_value(run(tune, tune_ticks));

    for (const auto& [effect, name] : effect_names) {
        Synth synth(synth_rate_hz);
        synth.music_on = false;
        synth.trigger(static_cast<std::uint8_t>(effect));
        std::vector<float> out;
        while (synth.slots[static_cast<std::size_t>(effect)].sounding) out.push_back(synth.tick());
        now["effect-" + std::string(name)] = golden_value(out);
    }

    // A lit charge, a step, a dig and a pickup over its hiss, then the blast
    // with a creature burning in it: once over silence and once over the tune
    // at full loudness, which the blast ducks.
    const std::vector<std::pair<std::size_t, Effect>> triggers = {
        {4000, Effect::ChargeLit},       {6000, Effect::CreatureStep}, {7000, Effect::Dug},
        {9000, Effect::PickedUp},        {12000, Effect::Explosion},   {12500, Effect::BrickBroken},
        {13000, Effect::CreatureKilled}, {20000, Effect::WispStep}};
    Synth quiet(synth_rate_hz);
    quiet.music_on = false;
    now["mix-music-off"] = golden_value(run(quiet, 40000, triggers));
    Synth loud(synth_rate_hz);
    now["mix-music-on"] = golden_value(run(loud, 40000, triggers));

    const std::string differences = testing::check_golden("synth.txt", now, explain_sound);
    EXPECT_TRUE(differences.empty()) << differences;
}

}  // namespace
}  // namespace zobra
