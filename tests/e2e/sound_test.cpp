// The real game's sound, recorded by SDL's disk audio driver in real time:
// the saved music choice is heard, what reaches the device after the player
// switches the music on is exactly what the synthesiser makes, and a machine
// without sound says so once.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <set>

#include "e2e/process.h"
#include "sound/music.h"

namespace zobra::e2e {
namespace {

using namespace std::chrono_literals;

// The disk driver cannot tell a default, so the game's device settles on
// this configuration.
constexpr std::uint32_t device_rate_hz = 48000;
constexpr std::size_t channels = 2;

std::map<std::string, std::string> recording_environment(const Xvfb& x, const GameFolder& folder) {
    std::map<std::string, std::string> env = x.environment();
    env["SDL_AUDIODRIVER"] = "disk";
    env["SDL_DISKAUDIOFILE"] = (folder.path() / "sound.raw").string();
    env["ZOBRA_SAVE"] = (folder.path() / "save.json").string();
    return env;
}

// The left channel of the recording, after checking that both channels agree.
std::vector<float> recorded_samples(const GameFolder& folder) {
    const std::string bytes = read_file(folder.path() / "sound.raw");
    std::vector<float> interleaved(bytes.size() / sizeof(float));
    // Before the device's first buffer there is nothing to copy (and no
    // buffer to copy into: memcpy must not be given one that is null).
    if (!interleaved.empty())
        std::memcpy(interleaved.data(), bytes.data(), interleaved.size() * sizeof(float));
    std::vector<float> left;
    for (std::size_t i = 0; i + 1 < interleaved.size(); i += channels) {
        EXPECT_EQ(interleaved[i], interleaved[i + 1]) << i;
        left.push_back(interleaved[i]);
    }
    return left;
}

std::size_t first_sound(const std::vector<float>& samples) {
    return static_cast<std::size_t>(
        std::find_if(samples.begin(), samples.end(), [](float v) { return v != 0.0f; }) -
        samples.begin());
}

// Whether the recording, silent up to `start`, goes on from there exactly
// as the synthesiser would after its music was switched on. How often the
// game's synthesiser ran before the switch is not the length of the silence:
// a device that starts paused records buffers of silence without asking the
// synthesiser, as many as timing makes it. With the music off nothing but
// its resampler moves, so each number of silent samples up to the first
// sound is tried, each resampler position once.
bool music_is_the_synths(const std::vector<float>& recorded, std::size_t start) {
    Synth silent(device_rate_hz);
    silent.music_on = false;
    std::set<float> tried;
    for (std::size_t ran = 0; ran <= start; ++ran, silent.next_sample()) {
        if (!tried.insert(silent.hold_time).second) continue;
        Synth synth = silent;
        synth.music_on = true;
        // The fade-in takes a few hundred samples to be heard at all.
        std::size_t quiet = 0;
        float first = 0.0f;
        while ((first = synth.next_sample()) == 0.0f && quiet < 4000) ++quiet;
        if (quiet > start - ran || first != recorded[start]) continue;
        bool same = true;
        for (std::size_t i = start + 1; i < recorded.size() && same; ++i)
            same = synth.next_sample() == recorded[i];
        if (same) return true;
    }
    return false;
}

TEST(GameSound, MusicSwitchedOffInTheSaveIsSilentUntilThePlayerPressesM) {
    Xvfb x;
    GameFolder folder;
    const std::filesystem::path save = folder.path() / "save.json";
    {
        std::ofstream file(save);
        file << R"({"solved":0,"best":[],"music_off":true,"mode":"Solo","difficulty":"Normal",)"
                R"("slot":0,"name":"","others":[],"all_open":false})";
    }
    Process game(folder.executable(), recording_environment(x, folder), folder.path());
    std::optional<WindowInfo> window = find_window(x.display(), "Zobra", 30s);
    ASSERT_TRUE(window) << game.error_output() << read_file(folder.log_file());
    ASSERT_TRUE(eventually([&] { return logged(folder, "start: sound running"); }, 30s));
    ASSERT_TRUE(eventually([&] { return recorded_samples(folder).size() > 30'000; }, 30s));
    const std::size_t before_key = recorded_samples(folder).size();
    press_keys(x.display(), window->id, {"m"});
    // The game saves the choice in the frame that takes the key, and the
    // music comes in from the next buffer: wait for those states, however
    // long a busy machine takes to deliver the key, then for 40 000 samples
    // of music to compare.
    ASSERT_TRUE(eventually(
        [&] { return read_file(save).find(R"("music_off":false)") != std::string::npos; }, 30s))
        << read_file(save);
    ASSERT_TRUE(eventually(
        [&] {
            const std::vector<float> samples = recorded_samples(folder);
            return samples.size() > first_sound(samples) + 41'000;
        },
        30s))
        << "no music after the key";
    request_close(x.display(), window->id);
    EXPECT_TRUE(game.wait(30s).exited);

    const std::vector<float> recorded = recorded_samples(folder);
    const std::size_t start = first_sound(recorded);
    ASSERT_GE(start, before_key) << game.error_output();
    ASSERT_LT(start + 40'000, recorded.size());

    EXPECT_TRUE(music_is_the_synths(recorded, start))
        << "the music after the key press is not the synthesiser's";
}

TEST(GameSound, WithoutASoundOutputTheGameSaysSoOnceAndPlaysOn) {
    Xvfb x;
    GameFolder folder;
    std::map<std::string, std::string> env = x.environment();
    env["SDL_AUDIODRIVER"] = "none-such";
    env["ZOBRA_SAVE"] = (folder.path() / "save.json").string();
    Process game(folder.executable(), env, folder.path());
    std::optional<WindowInfo> window = find_window(x.display(), "Zobra", 30s);
    ASSERT_TRUE(window) << game.error_output();
    ASSERT_TRUE(eventually(
        [&] { return logged(folder, "start: first frame on its way to the screen"); }, 30s));
    press_keys(x.display(), window->id, {"Down", "Up"});
    request_close(x.display(), window->id);
    EXPECT_TRUE(game.wait(30s).exited);

    const std::string err = game.error_output();
    const std::string line = "no sound: no sound output found\n";
    EXPECT_NE(err.find(line), std::string::npos) << err;
    EXPECT_EQ(err.find(line), err.rfind(line)) << err;
    const std::vector<std::string> log = read_lines(folder.log_file());
    const auto surface = std::find(log.begin(), log.end(), "start: surface ready");
    ASSERT_NE(surface, log.end());
    ASSERT_NE(surface + 1, log.end());
    EXPECT_EQ(*(surface + 1), "start: no sound");
    EXPECT_FALSE(logged(folder, "start: sound running"));
}

}  // namespace
}  // namespace zobra::e2e
