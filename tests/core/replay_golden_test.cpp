// Golden replays: matches recorded once, kept in tests/golden/replays/, and
// the whole state hash after every second of each in tests/golden/
// replays.txt. Every build (and the web page's, in Node) must play each file
// to exactly those hashes. `make golden` records them anew from the recipes
// below.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "core/bot.h"
#include "core/replay.h"
#include "support/golden.h"

namespace zobra {
namespace {

enum class Driver : std::uint8_t { Computer, Random };

struct Recipe {
    const char* name;
    MatchSetup setup;
    Driver driver = Driver::Computer;
    std::uint32_t max_ticks = 2400;
};

MatchSetup level(std::uint8_t index, Difficulty difficulty, Mode mode = Mode::Solo) {
    return MatchSetup{mode, difficulty, index, {}};
}

MatchSetup duel(std::uint8_t place, Mode mode = Mode::DuelSolo) {
    return MatchSetup{mode, Difficulty::Normal, place, {}};
}

const std::vector<Recipe>& recipes() {
    static const std::vector<Recipe> all = {
        {"level01-easy", level(0, Difficulty::Easy)},
        {"level01-hard", level(0, Difficulty::Hard)},
        {"level05-normal", level(4, Difficulty::Normal)},
        {"level12-easy", level(11, Difficulty::Easy)},
        {"level20-normal", level(19, Difficulty::Normal)},
        {"level31-hard", level(30, Difficulty::Hard)},
        {"level40-normal", level(39, Difficulty::Normal)},
        {"level08-pair", level(7, Difficulty::Normal, Mode::Pair)},
        {"level03-carried",
         MatchSetup{Mode::Solo, Difficulty::Normal, 2, {Carry{true, 3, 4}, std::nullopt}}},
        {"duel1", duel(0), Driver::Computer, 12000},
        {"duel2", duel(1), Driver::Computer, 12000},
        {"duel3", duel(2), Driver::Computer, 12000},
        {"duel4", duel(3), Driver::Computer, 12000},
        {"duel5", duel(4), Driver::Computer, 12000},
        {"duel3-pair", duel(2, Mode::DuelPair), Driver::Computer, 12000},
        {"random-duel4-pair", duel(3, Mode::DuelPair), Driver::Random, 3600},
        {"random-level15", level(14, Difficulty::Easy), Driver::Random, 3600},
    };
    return all;
}

// The human diggers played by the computer opponent (confirming every end
// screen), or by a seeded stream of random presses.
TickInput drive(const Recipe& recipe, const Match& match, Rng& rng) {
    TickInput input;
    for (std::uint32_t i = 0; i < match.humans(); ++i) {
        DiggerInput& digger = input.diggers[i];
        if (recipe.driver == Driver::Computer) {
            if (match.arena.diggers[i].state == DiggerState::Alive)
                digger = bot_decide(match.arena, i);
            continue;
        }
        const std::uint32_t dir = rng.below(6);
        if (dir < 4) digger.dir = static_cast<Dir>(dir);
        digger.drop = rng.below(40) == 0;
    }
    // A random level is never confirmed away: it runs its whole length.
    input.confirm = recipe.driver == Driver::Computer ? match.phase != MatchPhase::Running
                                                      : match.duel() && rng.below(10) == 0;
    return input;
}

std::vector<std::uint8_t> record(const Recipe& recipe) {
    Match match(recipe.setup);
    ReplayRecorder recorder;
    recorder.start(match, "GOLDEN");
    Rng rng{arena_rng_start(recipe.setup.place + 7u)};
    for (std::uint32_t t = 0; t < recipe.max_ticks && match.phase != MatchPhase::Over; ++t) {
        const TickInput input = drive(recipe, match, rng);
        match.advance(input);
        recorder.record(input, match);
    }
    return recorder.finish(
        match.phase == MatchPhase::Over ? ReplayEnding::Completed : ReplayEnding::Left, match);
}

std::filesystem::path replay_path(const Recipe& recipe) {
    return std::filesystem::path(ZOBRA_SOURCE_DIR) / "tests" / "golden" / "replays" /
           (std::string(recipe.name) + ".zrp");
}

std::vector<std::uint8_t> read_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// "ticks end-hash second-hashes…", the hashes as 16 hex digits each.
std::string hash_line(const Replay& replay) {
    const std::vector<std::uint64_t> hashes = hash_stream(replay);
    std::string line = std::to_string(replay.inputs.size()) + " " + hash_text(hashes.back()) + " ";
    for (std::size_t i = 0; i + 1 < hashes.size(); ++i) line += hash_text(hashes[i]);
    return line;
}

TEST(ReplayGolden, EveryStoredReplayPlaysToItsStoredHashesAndIsRecordedAgainAlike) {
    const bool update = std::getenv("ZOBRA_UPDATE_GOLDEN") != nullptr;
    std::map<std::string, std::string> now;
    for (const Recipe& recipe : recipes()) {
        SCOPED_TRACE(recipe.name);
        const std::vector<std::uint8_t> recorded = record(recipe);
        if (update) {
            std::filesystem::create_directories(replay_path(recipe).parent_path());
            std::ofstream(replay_path(recipe), std::ios::binary)
                .write(reinterpret_cast<const char*>(recorded.data()),
                       static_cast<std::streamsize>(recorded.size()));
        }
        const std::vector<std::uint8_t> stored = read_file(replay_path(recipe));
        auto decoded = decode_replay(stored);
        ASSERT_TRUE(std::holds_alternative<Replay>(decoded)) << std::get<std::string>(decoded);
        const Replay& replay = std::get<Replay>(decoded);
        EXPECT_TRUE(check_replay(replay).matched);
        // The computer opponent and the recorder make the same file again.
        EXPECT_EQ(recorded, stored);
        now[std::string(recipe.name) + ".zrp"] = hash_line(replay);
    }
    const std::string differences = testing::check_golden(
        "replays.txt", now, [](std::string_view, std::string_view stored, std::string_view got) {
            const auto seconds = [](std::string_view line) {
                return line.substr(std::min(line.rfind(' ') + 1, line.size()));
            };
            const long second = testing::first_different_group(seconds(stored), seconds(got), 16);
            return second < 0 ? std::string("the tick count or end hash differs")
                              : "the state first differs after second " + std::to_string(second);
        });
    EXPECT_EQ(differences, "");
}

}  // namespace
}  // namespace zobra
