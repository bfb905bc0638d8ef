// The frame loop's pacing and frame time, on a clock the test moves by hand.

#include "game/frame_clock.h"

#include <gtest/gtest.h>

#include <vector>

namespace zobra {
namespace {

using std::chrono::milliseconds;
using std::chrono::nanoseconds;

const Instant start{};

// Asks the pacer at each of the given moments (from the start) and lists
// the moments at which a redraw was due.
std::vector<nanoseconds> due_at(FramePacer& pacer, const std::vector<nanoseconds>& moments) {
    std::vector<nanoseconds> due;
    for (nanoseconds at : moments)
        if (pacer.due(start + at)) due.push_back(at);
    return due;
}

TEST(FramePacing, RedrawsComeOnAGridOfSixteenMillionSixHundredSixtySixThousandNanoseconds) {
    FramePacer pacer(start);
    EXPECT_TRUE(pacer.due(start));  // the first frame at once
    EXPECT_EQ(pacer.next(), start + nanoseconds(16'666'000));
    // Woken a little late each time, the grid does not drift with the waking.
    std::vector<nanoseconds> moments;
    for (int k = 1; k <= 60; ++k) moments.push_back(nanoseconds(16'666'000LL * k + 900'000));
    EXPECT_EQ(due_at(pacer, moments).size(), 60u);
    EXPECT_EQ(pacer.next(), start + nanoseconds(16'666'000LL * 61));
    // Woken early, nothing is due.
    EXPECT_FALSE(pacer.due(start + nanoseconds(16'666'000LL * 61 - 1)));
}

TEST(FramePacing, ALoopThatFellBehindRestartsTheGridInsteadOfABurst) {
    FramePacer pacer(start);
    pacer.due(start);
    // Two seconds of stall (a window being dragged), then the loop asks on.
    const nanoseconds woke = milliseconds(2000);
    EXPECT_TRUE(pacer.due(start + woke));
    EXPECT_EQ(pacer.next(), start + woke);  // behind: the grid starts again from now
    EXPECT_TRUE(pacer.due(start + woke));   // the frame for the present moment
    // … and then on the grid from there, not a frame for every missed slot.
    EXPECT_FALSE(pacer.due(start + woke + nanoseconds(16'665'999)));
    EXPECT_TRUE(pacer.due(start + woke + nanoseconds(16'666'000)));
}

TEST(FrameTime, FramesOnTimeHandTheirOwnLengthAndAStallIsCappedAtATenth) {
    FrameTimer timer(start);
    EXPECT_EQ(timer.take(start + nanoseconds(16'666'000)), 0.016666f);
    EXPECT_EQ(timer.take(start + nanoseconds(33'332'000)), 0.016666f);
    EXPECT_EQ(timer.take(start + nanoseconds(33'332'000) + milliseconds(2000)), 0.1f);
    EXPECT_EQ(timer.take(start + nanoseconds(33'332'000) + milliseconds(2100)), 0.1f);
    EXPECT_EQ(timer.take(start + nanoseconds(33'332'000) + milliseconds(2150)), 0.05f);
}

}  // namespace
}  // namespace zobra
