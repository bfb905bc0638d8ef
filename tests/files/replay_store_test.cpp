#include "files/replay_store.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>

namespace zobra {
namespace {

Replay run(std::uint8_t level, bool won, std::uint32_t score, const char* player = "ANNA") {
    Replay replay;
    replay.setup.place = level;
    replay.won = won;
    replay.score = score;
    replay.player = player;
    return replay;
}

// Sixty runs: the oldest ten go, except the best won run of each level for
// the current player (the earliest of equal ones); other players' and lost
// runs get no such shelter.
TEST(ReplayStore, KeepsTheNewestFiftyAndTheCurrentPlayersBestRunOfEachLevel) {
    std::vector<std::pair<std::string, Replay>> replays;
    auto add = [&](const Replay& replay) {
        replays.emplace_back("2026-" + std::to_string(100 + replays.size()) + ".zrp", replay);
    };
    add(run(0, true, 500));          // 100: best of level 1, kept
    add(run(0, true, 500));          // 101: as good, but later
    add(run(1, false, 900));         // 102: lost
    add(run(1, true, 300, "BERT"));  // 103: another player's
    add(run(2, true, 100));          // 104: level 3, beaten later
    for (int i = 0; i < 5; ++i) add(run(5, false, 0));
    add(run(2, true, 200));  // 110: best of level 3, but among the newest anyway
    while (replays.size() < 60) add(run(9, false, 0));
    Replay duel = run(0, true, 999);
    duel.setup.mode = Mode::DuelSolo;
    replays[9].second = duel;  // 109: a duel is no level run
    const std::vector<std::string> pruned = replays_to_prune(replays, "ANNA");
    EXPECT_EQ(std::set<std::string>(pruned.begin(), pruned.end()),
              (std::set<std::string>{"2026-101.zrp", "2026-102.zrp", "2026-103.zrp", "2026-104.zrp",
                                     "2026-105.zrp", "2026-106.zrp", "2026-107.zrp", "2026-108.zrp",
                                     "2026-109.zrp"}));
}

// On disk: names in the order played, and a file that is no replay stays.
TEST(ReplayStore, WritesUnderNewNamesAndLeavesWhatItCannotRead) {
    const std::filesystem::path folder = std::filesystem::temp_directory_path() / "zobra-replays";
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    std::ofstream(folder / "notes.zrp") << "mine";
    Replay replay = run(4, false, 0);
    replay.rules = rules_hash();
    replay.seed = Match(replay.setup).arena.rng.state;
    const std::vector<std::uint8_t> bytes = encode_replay(replay);
    const std::time_t when = 1'765'307'701;  // 2025-12-09 19:15:01 UTC
    for (int i = 0; i < 52; ++i)
        ASSERT_EQ(keep_replay(folder, bytes, replay.setup, "ANNA", when), std::nullopt);
    EXPECT_EQ(replay_file_name(replay.setup, when), "20251209-191501-level05-solo.zrp");
    EXPECT_TRUE(std::filesystem::exists(folder / "20251209-191501zb-level05-solo.zrp"));
    EXPECT_TRUE(std::filesystem::exists(folder / "notes.zrp"));
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder)) ++count;
    EXPECT_EQ(count, replays_kept_newest + 1);
    auto read = read_replay_file(folder / "20251209-191501zb-level05-solo.zrp");
    ASSERT_TRUE(std::holds_alternative<Replay>(read));
    EXPECT_EQ(std::get<Replay>(read), replay);
    std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace zobra
