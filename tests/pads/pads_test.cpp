// Pads as the game and the Pro Controller driver share them: their text in
// the log, the locked list between the driver's thread and the game's, and
// the stick's dead zone.

#include "pads/pads.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
#include <thread>
#include <vector>

namespace zobra {
namespace {

TEST(PadStateText, ReadsLikeARecordWithEveryFieldInOrder) {
    EXPECT_EQ(to_text(PadState{Dir::Left, true, false, false, false}),
              "PadState { dir: Some(Left), face: true, start: false, select: false, drop: false }");
    EXPECT_EQ(to_text(PadState{}),
              "PadState { dir: None, face: false, start: false, select: false, drop: false }");
    EXPECT_EQ(to_text(PadState{Dir::Up, false, true, true, true}),
              "PadState { dir: Some(Up), face: false, start: true, select: true, drop: true }");
}

TEST(PadListHandOver, TheGameCopiesWhatTheDriverLastReplaced) {
    PadList list;
    EXPECT_TRUE(list.copy().empty());
    list.replace({PadState{Dir::Down}, PadState{}});
    list.replace({PadState{Dir::Right}});
    EXPECT_EQ(list.copy(), std::vector<PadState>{PadState{Dir::Right}});
}

TEST(StickDirections, TheStickPointsOnlyPastHalfWay) {
    EXPECT_EQ(stick_dir(0.3f, 0.4f), std::nullopt);
    EXPECT_EQ(stick_dir(0.6f, -0.7f), Dir::Down);
    EXPECT_EQ(stick_dir(0.5f, 0.0f), Dir::Right);
    EXPECT_EQ(stick_dir(-0.8f, 0.1f), Dir::Left);
    EXPECT_EQ(stick_dir(0.0f, 0.49f), std::nullopt);
    EXPECT_EQ(stick_dir(-0.5f, 0.5f), Dir::Up);  // a diagonal goes up or down
    EXPECT_EQ(stick_dir(0.5f, -0.5f), Dir::Down);
}

// The driver's thread keeps replacing the list while the game's copies it:
// every copy is one whole list the driver handed over, never a mixture.
TEST(PadListHandOver, ACopyTakenWhileTheDriverReplacesIsAlwaysOneWholeList) {
    constexpr int passes = 2000;
    PadList list;
    std::atomic<bool> done{false};
    std::thread driver([&] {
        for (int k = 0; k < passes; ++k) {
            const std::size_t count = 1 + static_cast<std::size_t>(k % 2);
            const PadState pad{k % 2 == 0 ? Dir::Left : Dir::Right, k % 3 == 0};
            list.replace(std::vector<PadState>(count, pad));
        }
        done = true;
    });
    std::size_t copies = 0;
    while (!done || copies == 0) {
        const std::vector<PadState> pads = list.copy();
        ++copies;
        if (pads.empty()) continue;
        for (const PadState& pad : pads) EXPECT_EQ(pad, pads.front());
        EXPECT_EQ(pads.size(), pads.front().dir == Dir::Left ? 1U : 2U);
    }
    driver.join();
    EXPECT_EQ(list.copy().size(), 2U);  // the last pass, k = passes - 1, is odd
}

}  // namespace
}  // namespace zobra
