#include "core/progress.h"

#include <gtest/gtest.h>

namespace zobra {
namespace {

std::vector<std::uint32_t> scores(std::initializer_list<std::uint32_t> list) { return list; }

TEST(ProgressUnlocking, AFreshPlayerMayOnlyStartTheFirstLevelAndWinningItOpensTheSecond) {
    Progress progress;
    EXPECT_TRUE(level_open(progress, 0));
    EXPECT_FALSE(level_open(progress, 1));

    EXPECT_TRUE(record_win(progress, 0, 120));
    EXPECT_EQ(progress.solved, 1u);
    EXPECT_EQ(progress.best, scores({120}));
    EXPECT_TRUE(level_open(progress, 1));
    EXPECT_FALSE(level_open(progress, 2));
}

TEST(ProgressUnlocking, WithEverythingOpenTheLastLevelStartsAtOnceAndWinningItSolvesAllForty) {
    Progress progress;
    progress.all_open = true;
    for (std::size_t level = 0; level < level_count; ++level)
        EXPECT_TRUE(level_open(progress, level));

    EXPECT_TRUE(record_win(progress, 39, 1));
    EXPECT_EQ(progress.solved, 40u);
    EXPECT_EQ(progress.best.size(), 40u);
    progress.all_open = false;
    EXPECT_TRUE(level_open(progress, 39));
}

TEST(ProgressWins, WinningFarAheadLengthensTheBestListWithZeros) {
    Progress progress;
    progress.all_open = true;
    progress.solved = 2;
    progress.best = scores({50, 70});

    EXPECT_TRUE(record_win(progress, 4, 300));
    EXPECT_EQ(progress.solved, 5u);
    EXPECT_EQ(progress.best, scores({50, 70, 0, 0, 300}));
}

TEST(ProgressWins, ALowerOrEqualScoreOnAnEarlierLevelChangesNothing) {
    Progress progress;
    record_win(progress, 0, 200);
    record_win(progress, 1, 90);
    const Progress before = progress;

    EXPECT_FALSE(record_win(progress, 0, 150));
    EXPECT_FALSE(record_win(progress, 0, 200));
    EXPECT_EQ(progress, before);

    EXPECT_TRUE(record_win(progress, 0, 201));
    EXPECT_EQ(progress.solved, 2u);
    EXPECT_EQ(progress.best, scores({201, 90}));
}

TEST(ProgressWins, AWinWithScoreZeroStillOpensTheNextLevel) {
    Progress progress;
    EXPECT_TRUE(record_win(progress, 0, 0));
    EXPECT_EQ(progress.solved, 1u);
    EXPECT_EQ(progress.best, scores({0}));
    EXPECT_FALSE(record_win(progress, 0, 0));
}

TEST(ProgressWins, ALevelOutsideTheCatalogueIsIgnored) {
    Progress progress;
    EXPECT_FALSE(record_win(progress, level_count, 10));
    EXPECT_FALSE(record_win(progress, SIZE_MAX, 10));
    EXPECT_EQ(progress, Progress{});
}

TEST(ProgressPlayers, TheEightSlotsFormARing) {
    Progress progress;
    progress.slot = 7;
    progress.name = "ANNA";
    next_player(progress);
    EXPECT_EQ(progress.slot, 0u);
    ASSERT_EQ(progress.others.size(), 1u);
    EXPECT_EQ(progress.others[0], (Profile{7, "ANNA", 0, {}}));
}

TEST(ProgressPlayers, AFreshUnnamedPlayerWhoWonNothingIsForgottenOnSwitching) {
    Progress progress;
    next_player(progress);
    EXPECT_EQ(progress.slot, 1u);
    EXPECT_TRUE(progress.others.empty());

    // Round the ring back to slot 1: it is a fresh player again.
    for (int i = 0; i < 8; ++i) next_player(progress);
    EXPECT_EQ(progress.slot, 1u);
    EXPECT_EQ(progress.solved, 0u);
    EXPECT_TRUE(progress.others.empty());
}

TEST(ProgressPlayers, SwitchingKeepsEveryPlayerAndBringsBackTheirRecords) {
    Progress progress;
    progress.name = "ANNA";
    record_win(progress, 0, 10);
    record_win(progress, 1, 20);
    next_player(progress);  // slot 1, fresh
    set_name(progress, "bert");
    record_win(progress, 0, 5);

    for (int i = 0; i < 7; ++i) next_player(progress);
    EXPECT_EQ(progress.slot, 0u);
    EXPECT_EQ(progress.name, "ANNA");
    EXPECT_EQ(progress.solved, 2u);
    EXPECT_EQ(progress.best, scores({10, 20}));
    ASSERT_EQ(progress.others.size(), 1u);
    EXPECT_EQ(progress.others[0], (Profile{1, "BERT", 1, {5}}));
}

TEST(ProgressPlayers, TheChosenLevelAfterSwitchingIsTheNewPlayersNextLevel) {
    Progress progress;
    progress.name = "A";
    progress.others = {Profile{1, "B", 12, {}}, Profile{2, "C", 40, {}}, Profile{3, "", 0, {}}};

    EXPECT_EQ(next_player(progress), 12u);
    EXPECT_EQ(next_player(progress), 39u);
    EXPECT_EQ(next_player(progress), 0u);
    EXPECT_EQ(progress.slot, 3u);
}

TEST(ProgressPlayers, OnlyTheFirstProfileOfTheTargetSlotIsTaken) {
    Progress progress;
    progress.name = "A";
    progress.others = {Profile{5, "X", 1, {}}, Profile{1, "B", 3, {}}, Profile{1, "D", 4, {}}};
    next_player(progress);
    EXPECT_EQ(progress.name, "B");
    ASSERT_EQ(progress.others.size(), 3u);
    EXPECT_EQ(progress.others[0].name, "X");
    EXPECT_EQ(progress.others[1].name, "D");
    EXPECT_EQ(progress.others[2].name, "A");
}

TEST(ProgressNames, ATypedNameKeepsItsLettersAndDigitsAsCapitals) {
    Progress progress;
    set_name(progress, "jo-hn 2");
    EXPECT_EQ(progress.name, "JOHN2");
    set_name(progress, "abcdefghijkl");
    EXPECT_EQ(progress.name, "ABCDEFGHIJ");
    set_name(progress, "- !");
    EXPECT_EQ(progress.name, "");
}

TEST(ProgressNames, LettersBeyondAsciiAreSkippedWhole) {
    EXPECT_EQ(name_from_text("J\xC3\xBCrgen"), "JRGEN");
    EXPECT_EQ(name_from_text("z\xC3\x9F"
                             "a9Z"),
              "ZA9Z");
}

TEST(ProgressNames, TypingTakesBackspacesFirstThenLettersUpToTen) {
    std::string name;
    type_into_name(name, "Ab-3 x\xC3\xA4", 0);
    EXPECT_EQ(name, "AB3X");
    type_into_name(name, "cdefghijk", 0);
    EXPECT_EQ(name, "AB3XCDEFGH");
    type_into_name(name, "z", 1);  // the Backspace makes room before the letter comes
    EXPECT_EQ(name, "AB3XCDEFGZ");
    type_into_name(name, "", 50);
    EXPECT_EQ(name, "");
}

TEST(ProgressSummary, TheTitleShowsSolvedCappedAtFortyAndTheSumOfBestScores) {
    Progress progress;
    progress.solved = 57;
    progress.best = {100, 0, 250};
    EXPECT_EQ(solved_shown(progress), 40u);
    EXPECT_EQ(best_total(progress), 350u);

    progress.best = {0xFFFFFFFFu, 2};
    EXPECT_EQ(best_total(progress), 1u);
}

}  // namespace
}  // namespace zobra
