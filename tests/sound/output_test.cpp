// Feeding a device: the samples each format gets, every channel of a frame,
// and what the game thread's effects and music flag do to the next buffer.

#include "sound/output.h"

#include <gtest/gtest.h>

#include <vector>

namespace zobra {
namespace {

// A buffer of interleaved samples as the device would hand it over.
template <typename Sample>
std::vector<Sample> fill(SoundStream& stream, std::size_t samples) {
    std::vector<Sample> out(samples);
    fill_sound(stream, std::as_writable_bytes(std::span(out)));
    return out;
}

TEST(SoundOutput, SixteenBitSamplesTruncateTowardZeroAndStayInRange) {
    EXPECT_EQ(sample_s16(0.0f), 0);
    EXPECT_EQ(sample_s16(1.0f), 32767);
    EXPECT_EQ(sample_s16(-1.0f), -32768);
    EXPECT_EQ(sample_s16(0.5f), 16384);
    EXPECT_EQ(sample_s16(1.0f / 127.0f), 258);  // 258.02
    EXPECT_EQ(sample_s16(-1.0f / 127.0f), -258);
    EXPECT_EQ(sample_s16(-126.0f / 127.0f), -32509);  // −32509.98

    EXPECT_EQ(sample_u16(0.0f), 32768);
    EXPECT_EQ(sample_u16(1.0f), 65535);
    EXPECT_EQ(sample_u16(-1.0f), 0);
    EXPECT_EQ(sample_u16(1.0f / 127.0f), 33026);
}

TEST(SoundOutput, EveryChannelOfAFrameCarriesTheSameSampleUpToAPartialLastFrame) {
    SoundLink link;
    SoundStream stream{Synth(22050), &link, SampleFormat::F32, 3};
    link.waiting_effects = 1u << static_cast<int>(Effect::ChargeLit);
    const std::vector<float> out = fill<float>(stream, 3 * 500 + 2);

    Synth reference(22050);
    reference.trigger(static_cast<std::uint8_t>(Effect::ChargeLit));
    for (std::size_t frame = 0; frame <= 500; ++frame) {
        const float expected = reference.next_sample();
        for (std::size_t c = 0; c < 3 && 3 * frame + c < out.size(); ++c)
            ASSERT_EQ(out[3 * frame + c], expected) << frame << ", " << c;
    }
    // The partial frame took one sample: the next buffer goes on after it.
    EXPECT_EQ(fill<float>(stream, 3)[0], reference.next_sample());

    // A device that names no channels gets one sample a frame.
    SoundStream mono{Synth(44100), &link, SampleFormat::S16, 0};
    const std::vector<std::int16_t> out16 = fill<std::int16_t>(mono, 4000);
    Synth reference16(44100);
    for (std::size_t i = 0; i < out16.size(); ++i)
        ASSERT_EQ(out16[i], sample_s16(reference16.next_sample())) << i;
}

TEST(SoundOutput, AnEffectSentThreeTimesBeforeTheNextBufferPlaysOnceFromItsStart) {
    SoundLink link;
    link.music_on = false;
    SoundStream stream{Synth(48000), &link, SampleFormat::U16, 2};
    fill<std::uint16_t>(stream, 2 * 1024);
    for (int i = 0; i < 3; ++i) send_effect(link, static_cast<std::uint8_t>(Effect::PickedUp));
    EXPECT_EQ(link.waiting_effects.load(), 1u << 1);
    const std::vector<std::uint16_t> out = fill<std::uint16_t>(stream, 2 * 9000);
    EXPECT_EQ(link.waiting_effects.load(), 0u);

    Synth once(48000);
    once.music_on = false;
    for (int i = 0; i < 1024; ++i) once.next_sample();
    once.trigger(static_cast<std::uint8_t>(Effect::PickedUp));
    for (std::size_t i = 0; i < out.size(); i += 2) {
        const std::uint16_t expected = sample_u16(once.next_sample());
        ASSERT_EQ(out[i], expected) << i;
        ASSERT_EQ(out[i + 1], expected) << i;
    }
}

TEST(SoundOutput, MutingTheMusicFadesItFromTheNextBufferWhileEffectsSoundOn) {
    SoundLink link;
    SoundStream stream{Synth(48000), &link, SampleFormat::F32, 2};
    fill<float>(stream, 2 * 24000);
    EXPECT_EQ(stream.synth.level, music_level_max);

    link.music_on = false;
    link.waiting_effects = 1u << static_cast<int>(Effect::AllLost);
    fill<float>(stream, 2 * 2048);
    EXPECT_FALSE(stream.synth.music_on);
    EXPECT_LT(stream.synth.level, music_level_max);
    EXPECT_GT(stream.synth.level, 0.0f);
    const std::vector<float> later = fill<float>(stream, 2 * 8000);
    EXPECT_EQ(stream.synth.level, 0.0f);
    EXPECT_NE(later.back(), 0.0f);  // the lost round's tune still plays
}

TEST(SoundOutput, AFrameSendsItsEventsEffectsInOrderAndTheMusicFlag) {
    SoundLink link;
    const Event events[] = {Event::ChargeLit, Event::TimeUp, Event::DiggerEscaped, Event::Dug};
    send_frame_sound(link, events, true);
    EXPECT_FALSE(link.music_on.load());
    EXPECT_EQ(link.waiting_effects.load(), (1u << 16) | (1u << 5) | (1u << 0));
    send_frame_sound(link, {}, false);
    EXPECT_TRUE(link.music_on.load());
}

}  // namespace
}  // namespace zobra
