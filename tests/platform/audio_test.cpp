#include "platform/audio.h"

#include <SDL.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>
#include <vector>

namespace zobra {
namespace {

using namespace std::chrono_literals;

TEST(AudioSamples, FormatsAreNamedByKindAndSizeAndOnlyThreeCanBeWritten) {
    EXPECT_EQ(sample_format_name(AUDIO_S32SYS), "I32");
    EXPECT_EQ(sample_format_name(AUDIO_S16MSB), "I16");
    EXPECT_EQ(sample_format_name(AUDIO_U8), "U8");
    EXPECT_EQ(sample_format_name(AUDIO_S8), "I8");
    EXPECT_EQ(sample_format_name(SDL_AUDIO_MASK_DATATYPE | SDL_AUDIO_MASK_SIGNED | 64), "F64");

    EXPECT_EQ(writable_format(AUDIO_F32SYS), SampleFormat::F32);
    EXPECT_EQ(writable_format(AUDIO_S16MSB), SampleFormat::S16);
    EXPECT_EQ(writable_format(AUDIO_U16SYS), SampleFormat::U16);
    for (int other : {AUDIO_S32SYS, AUDIO_U8, AUDIO_S8})
        EXPECT_FALSE(writable_format(static_cast<std::uint16_t>(other)));
}

TEST(AudioCallback, AFrameReachesTheDevicesLinkAndWithoutSoundNothingBreaks) {
    Sound sound;
    sound.output = std::make_unique<AudioOutput>(AudioConfig{AUDIO_F32SYS, 48000, 2, 1024}, true);
    const Event events[] = {Event::ChargeLit};
    send_frame_sound(sound, events, true);
    EXPECT_FALSE(sound.output->link.music_on.load());
    EXPECT_EQ(sound.output->link.waiting_effects.load(), 1u << 16);

    // Without sound nothing is sent and nothing breaks.
    Sound silent;
    send_frame_sound(silent, events, false);
    EXPECT_FALSE(silent.output);
}

TEST(AudioCallback, TheConfigurationTheDeviceOpenedWithIsTheOneWrittenFor) {
    // Asked for stereo floats at 48 kHz, the device settled on mono 16-bit
    // samples at 22 050 Hz: the callback writes those, from a synthesiser at
    // the device's rate.
    AudioOutput output(AudioConfig{AUDIO_F32SYS, 48000, 2, 0}, true);
    output.take_config(AudioConfig{AUDIO_S16SYS, 22050, 1, 512});
    EXPECT_EQ(output.config.rate_hz, 22050u);
    EXPECT_EQ(output.config.channels, 1u);
    Synth reference(22050);
    std::vector<std::int16_t> expected(2048);
    for (std::int16_t& sample : expected) sample = sample_s16(reference.next_sample());
    std::vector<std::int16_t> written(expected.size());
    fill_sound(output.stream, std::as_writable_bytes(std::span(written)));
    EXPECT_EQ(written, expected);
}

// SDL's disk driver as the sound device: everything the game sends to the
// device lands in a file of the test's own, as fast as it is made.
class DiskAudio : public ::testing::Test {
  protected:
    void SetUp() override {
        file_ = std::filesystem::temp_directory_path() /
                ("zobra-audio-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".raw");
        setenv("SDL_AUDIODRIVER", "disk", 1);
        setenv("SDL_DISKAUDIOFILE", file_.c_str(), 1);
        setenv("SDL_DISKAUDIODELAY", "0", 1);
    }
    void TearDown() override {
        std::filesystem::remove(file_);
        unsetenv("SDL_AUDIODRIVER");
        unsetenv("SDL_DISKAUDIOFILE");
        unsetenv("SDL_DISKAUDIODELAY");
    }

    std::uintmax_t recorded() const {
        std::error_code error;
        const std::uintmax_t size = std::filesystem::file_size(file_, error);
        return error ? 0 : size;
    }

    void wait_for_bytes(std::uintmax_t bytes) const {
        const auto deadline = std::chrono::steady_clock::now() + 20s;
        while (recorded() < bytes && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(1ms);
        ASSERT_GE(recorded(), bytes);
    }

    std::vector<std::byte> read_recording() const {
        std::ifstream in(file_, std::ios::binary);
        std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
        std::vector<std::byte> out(bytes.size());
        if (!out.empty()) std::memcpy(out.data(), bytes.data(), bytes.size());
        return out;
    }

    std::filesystem::path file_;
};

using Command = std::function<void(Synth&)>;

// Replays a recording buffer by buffer against a synthesiser of our own. The
// commands were sent while the device ran, in this order; each one must take
// effect at the start of some buffer, and every sample must be exactly the
// one the synthesiser makes. Buffers of silence that the device played
// before the stream started, or after it stopped, are skipped.
template <typename Sample>
void expect_recording_is_the_synth(const std::vector<std::byte>& recording,
                                   const AudioConfig& config, bool music,
                                   const std::vector<Command>& commands, Sample (*convert)(float)) {
    const std::size_t channels = config.channels;
    const std::size_t buffer_bytes = std::size_t{config.buffer_frames} * channels * sizeof(Sample);
    ASSERT_GT(buffer_bytes, 0u);
    // SDL fills a paused device's buffers with its silence byte: 0x80 for
    // unsigned samples, 0 for the others. How many such buffers come before
    // the stream starts depends on timing.
    const std::byte silence = SDL_AUDIO_ISSIGNED(config.format) || SDL_AUDIO_ISFLOAT(config.format)
                                  ? std::byte{0x00}
                                  : std::byte{0x80};
    const auto silent = [&](std::size_t from) {
        return std::all_of(recording.begin() + static_cast<std::ptrdiff_t>(from),
                           recording.begin() + static_cast<std::ptrdiff_t>(from + buffer_bytes),
                           [silence](std::byte b) { return b == silence; });
    };
    std::size_t at = 0;
    while (at + buffer_bytes <= recording.size() && silent(at)) at += buffer_bytes;
    // So are those a device paused on its way to closing played after it;
    // the music never falls silent for a whole buffer.
    std::size_t end = at + (recording.size() - at) / buffer_bytes * buffer_bytes;
    while (music && end >= at + buffer_bytes && silent(end - buffer_bytes)) end -= buffer_bytes;

    Synth synth(config.rate_hz);
    synth.music_on = music;
    std::size_t applied = 0;
    std::size_t buffers = 0;
    std::vector<Sample> expected(config.buffer_frames * channels);
    for (; at + buffer_bytes <= end; at += buffer_bytes, ++buffers) {
        bool matched = false;
        for (std::size_t more = 0; applied + more <= commands.size() && !matched; ++more) {
            Synth candidate = synth;
            for (std::size_t i = applied; i < applied + more; ++i) commands[i](candidate);
            for (std::size_t frame = 0; frame < config.buffer_frames; ++frame) {
                const Sample value = convert(candidate.next_sample());
                for (std::size_t c = 0; c < channels; ++c) expected[frame * channels + c] = value;
            }
            if (std::memcmp(expected.data(), recording.data() + at, buffer_bytes) == 0) {
                matched = true;
                synth = candidate;
                applied += more;
            }
        }
        ASSERT_TRUE(matched) << "buffer " << buffers << " is not the synthesiser's";
    }
    EXPECT_GE(buffers, 20u);
    EXPECT_EQ(applied, commands.size()) << "not every command was heard";
}

TEST_F(DiskAudio, TheDeviceReceivesExactlyWhatTheSynthesiserMakesWithEffectsAndMuting) {
    std::unique_ptr<AudioOutput> output = open_sound(true);
    ASSERT_TRUE(output);
    // The disk driver cannot tell its default, so the device settles on
    // what the game asks for.
    const AudioConfig config = output->config;
    EXPECT_EQ(config.format, AUDIO_F32SYS);
    EXPECT_EQ(config.rate_hz, 48000u);
    EXPECT_EQ(config.channels, 2u);
    const std::uintmax_t buffer = std::uintmax_t{config.buffer_frames} * 2 * sizeof(float);

    wait_for_bytes(8 * buffer);
    send_effect(output->link, static_cast<std::uint8_t>(Effect::PickedUp));
    wait_for_bytes(recorded() + 4 * buffer);
    send_effect(output->link, static_cast<std::uint8_t>(Effect::Explosion));
    wait_for_bytes(recorded() + 4 * buffer);
    output->link.music_on = false;
    wait_for_bytes(recorded() + 12 * buffer);
    output.reset();

    const std::vector<Command> commands = {
        [](Synth& s) { s.trigger(static_cast<std::uint8_t>(Effect::PickedUp)); },
        [](Synth& s) { s.trigger(static_cast<std::uint8_t>(Effect::Explosion)); },
        [](Synth& s) { s.music_on = false; },
    };
    expect_recording_is_the_synth<float>(read_recording(), config, true, commands,
                                         [](float x) { return x; });
}

TEST_F(DiskAudio, SixteenBitDevicesGetConvertedSamplesOnEveryChannel) {
    for (const AudioConfig config :
         {AudioConfig{AUDIO_S16SYS, 22050, 1, 512}, AudioConfig{AUDIO_U16SYS, 44100, 4, 1000}}) {
        std::unique_ptr<AudioOutput> output = open_sound(config, true);
        ASSERT_TRUE(output);
        const std::uintmax_t buffer = std::uintmax_t{config.buffer_frames} * config.channels * 2;
        wait_for_bytes(6 * buffer);
        send_effect(output->link, static_cast<std::uint8_t>(Effect::RoundOver));
        wait_for_bytes(recorded() + 30 * buffer);
        output.reset();
        const std::vector<Command> commands = {
            [](Synth& s) { s.trigger(static_cast<std::uint8_t>(Effect::RoundOver)); }};
        if (config.format == AUDIO_S16SYS)
            expect_recording_is_the_synth<std::int16_t>(read_recording(), config, true, commands,
                                                        sample_s16);
        else
            expect_recording_is_the_synth<std::uint16_t>(read_recording(), config, true, commands,
                                                         sample_u16);
    }
}

TEST_F(DiskAudio, ADeviceThatWantsThirtyTwoBitIntegersLeavesTheGameSilent) {
    ::testing::internal::CaptureStderr();
    std::unique_ptr<AudioOutput> output = open_sound(AudioConfig{AUDIO_S32SYS, 48000, 2, 0}, true);
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_FALSE(output);
    EXPECT_NE(err.find("no sound: the sound card wants I32 samples\n"), std::string::npos) << err;
}

TEST(AudioStart, WithoutAnOutputTheGameSaysSoOnceAndStaysSilent) {
    setenv("SDL_AUDIODRIVER", "none-such", 1);
    Sound sound;
    ::testing::internal::CaptureStderr();
    start_sound(sound, true);
    start_sound(sound, true);
    const std::string err = ::testing::internal::GetCapturedStderr();
    unsetenv("SDL_AUDIODRIVER");
    EXPECT_EQ(err, "no sound: no sound output found\n");
    EXPECT_TRUE(sound.tried);
    EXPECT_FALSE(sound.output);
}

}  // namespace
}  // namespace zobra
