// Replays as a property: any match, played with any input and recorded, is
// read back as the same replay, from its file and from a crash report's
// text, and plays again to the same state. Broken files each give a message.

#include "core/replay.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace zobra {
namespace {

// A random match: setup, inputs (with runs, drops and confirms) and length.
struct Played {
    Match start;
    Match end;
    std::vector<std::uint8_t> file;
    std::string crash_text;  // the crash report's form, taken halfway
    std::uint32_t halfway = 0;
};

Played play_random(std::uint64_t seed) {
    Rng rng{arena_rng_start(seed)};
    MatchSetup setup;
    setup.mode = static_cast<Mode>(rng.below(4));
    setup.difficulty = static_cast<Difficulty>(rng.below(3));
    setup.place = static_cast<std::uint8_t>(rng.below(is_duel(setup.mode) ? 5 : 40));
    if (!is_duel(setup.mode) && rng.below(2) == 0) setup.carry[0] = Carry{true, 2, 3};
    // A duel between machines: any seats people take, and now and then one
    // taken over by the computer.
    if (is_duel(setup.mode) && rng.below(2) == 0)
        setup.seats = static_cast<std::uint8_t>(1 + rng.below(15));
    Played played{Match(setup), Match(setup), {}, {}, rng.below(400)};
    ReplayRecorder recorder;
    recorder.start(played.end, "P" + std::to_string(seed));
    TickInput input;
    const std::uint32_t ticks = rng.below(800);
    for (std::uint32_t t = 0; t < ticks && played.end.phase != MatchPhase::Over; ++t) {
        if (rng.below(6) == 0) {  // held input changes now and then, like a player's
            for (DiggerInput& digger : input.diggers) {
                const std::uint32_t dir = rng.below(5);
                digger.dir = dir < 4 ? std::optional<Dir>(static_cast<Dir>(dir)) : std::nullopt;
            }
        }
        for (DiggerInput& digger : input.diggers) digger.drop = rng.below(30) == 0;
        input.confirm = rng.below(20) == 0;
        input.to_computer = rng.below(150) == 0 ? setup.seats & (1u << rng.below(4)) : 0;
        played.end.advance(input);
        recorder.record(input, played.end);
        if (t + 1 == played.halfway)
            recorder.write_crash_text(
                [](void* context, const char* text, std::size_t size) {
                    static_cast<std::string*>(context)->append(text, size);
                },
                &played.crash_text);
    }
    played.file = recorder.finish(ReplayEnding::Left, played.end);
    return played;
}

TEST(Replay, AnyRecordedMatchReadsBackAndPlaysToTheSameStateFromItsFileAndItsText) {
    std::uint32_t taken_over = 0;
    for (std::uint64_t seed = 1; seed <= 300; ++seed) {
        SCOPED_TRACE(seed);
        const Played played = play_random(seed);
        // A seat the computer took over stays the computer's, in later rounds too.
        for (std::size_t i = 0; i < max_seats; ++i)
            if ((played.end.computer_seats >> i) & 1u) {
                EXPECT_TRUE(played.end.arena.diggers[i].bot);
                ++taken_over;
            }
        auto decoded = decode_replay(played.file);
        ASSERT_TRUE(std::holds_alternative<Replay>(decoded)) << std::get<std::string>(decoded);
        const Replay& replay = std::get<Replay>(decoded);
        EXPECT_EQ(replay.setup, played.start.setup);
        EXPECT_EQ(encode_replay(replay), played.file);

        const ReplayCheck check = check_replay(replay);
        EXPECT_TRUE(check.matched);
        // The match as bytes, as it goes to a machine that went astray.
        EXPECT_EQ(decode_match(encode_match(played.end)), played.end);
        EXPECT_EQ(check.match, played.end);
        EXPECT_EQ(check.end_hash, state_hash(played.end));

        const std::string text = replay_text(played.file);
        auto from_text = decode_replay(std::vector<std::uint8_t>(text.begin(), text.end()));
        ASSERT_TRUE(std::holds_alternative<Replay>(from_text));
        EXPECT_EQ(std::get<Replay>(from_text), replay);

        // The crash report's replay holds the first ticks, ending as crashed.
        if (!played.crash_text.empty()) {
            auto crashed = decode_replay(
                std::vector<std::uint8_t>(played.crash_text.begin(), played.crash_text.end()));
            ASSERT_TRUE(std::holds_alternative<Replay>(crashed)) << std::get<std::string>(crashed);
            const Replay& part = std::get<Replay>(crashed);
            EXPECT_EQ(part.ending, ReplayEnding::Crashed);
            ASSERT_EQ(part.inputs.size(), played.halfway);
            EXPECT_TRUE(std::equal(part.inputs.begin(), part.inputs.end(), replay.inputs.begin()));
            EXPECT_TRUE(check_replay(part).matched);
        }
    }
    EXPECT_GT(taken_over, 5u);
}

TEST(Replay, ChangedInputOrAChangedCheckIsFoundAtTheFirstCheckAfterIt) {
    Replay replay;
    replay.rules = rules_hash();
    Match match(MatchSetup{});
    replay.seed = match.arena.rng.state;
    replay.inputs.resize(70);
    for (const TickInput& input : replay.inputs) {
        match.advance(input);
        if (match.ticks % ticks_per_second == 0)
            replay.checks.push_back(static_cast<std::uint32_t>(state_hash(match)));
    }
    replay.end_hash = state_hash(match);
    ASSERT_TRUE(check_replay(replay).matched);

    Replay lit = replay;  // a charge lit at tick 26 that was never lit
    lit.inputs[25].diggers[0].drop = true;
    EXPECT_EQ(check_replay(lit).first_bad_tick, 40u);
    Replay stored_wrong = replay;
    stored_wrong.checks[2] ^= 1;
    EXPECT_EQ(check_replay(stored_wrong).first_bad_tick, 60u);
    Replay end_wrong = replay;
    end_wrong.end_hash ^= 1;
    EXPECT_EQ(check_replay(end_wrong).first_bad_tick, 70u);
    EXPECT_FALSE(check_replay(end_wrong).matched);
}

TEST(Replay, EachBrokenFileGivesItsMessage) {
    const std::vector<std::uint8_t> good = play_random(11).file;
    auto changed = [&](std::size_t at, std::uint8_t value) {
        std::vector<std::uint8_t> bytes = good;
        bytes[at] = value;
        return bytes;
    };
    const std::size_t rules_at = 8 + 2 + 1 + game_version.size();
    struct Case {
        const char* what;
        std::vector<std::uint8_t> bytes;
        const char* message;
    };
    const std::vector<Case> cases = {
        {"empty", {}, "is not a replay"},
        {"garbage", std::vector<std::uint8_t>(300, 0x41), "is not a replay"},
        {"cut in the header", {good.begin(), good.begin() + 20}, "is cut short"},
        {"cut in the input", {good.begin(), good.end() - 30}, "is cut short"},
        {"a newer format", changed(8, 3), "is in replay format 3, this game reads formats 1 and 2"},
        {"other rules", changed(rules_at, static_cast<std::uint8_t>(good[rules_at] ^ 1)),
         "was recorded under other rules (version 0.1.0 of the game): this game cannot play it"},
        {"an unknown mode", changed(rules_at + 8, 9), "names an unknown mode or difficulty"},
        {"bytes after the end",
         [&] {
             auto bytes = good;
             bytes.push_back(0);
             return bytes;
         }(),
         "has bytes past its end"},
        {"inputs past the end",
         [&] {
             auto bytes = good;  // the end record's tick count, four bytes before score and hash
             std::fill(bytes.end() - 16, bytes.end() - 12, std::uint8_t{0});
             return bytes;
         }(),
         "holds inputs past its end"},
        {"huge", std::vector<std::uint8_t>(replay_size_max + 1),
         "is larger than any replay (over 16 MiB)"},
    };
    for (const Case& c : cases) {
        auto decoded = decode_replay(c.bytes);
        ASSERT_TRUE(std::holds_alternative<std::string>(decoded)) << c.what;
        EXPECT_EQ(std::get<std::string>(decoded), c.message) << c.what;
    }
}

}  // namespace
}  // namespace zobra
