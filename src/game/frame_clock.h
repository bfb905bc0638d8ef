#pragma once
// The frame loop's sense of time, apart from any real clock so that tests can
// drive it: redraws come on a grid of 16 666 000 ns, a loop that fell behind
// starts the grid again from the present instead of asking for a burst of
// catch-up frames, and a frame never hands the rules more than 0.1 s.

#include <chrono>

namespace zobra {

using Instant = std::chrono::steady_clock::time_point;

inline constexpr std::chrono::nanoseconds frame_interval{16'666'000};  // a sixtieth, in whole µs
inline constexpr float max_frame_seconds = 0.1f;

// When the next redraw is due.
class FramePacer {
  public:
    explicit FramePacer(Instant start) : next_(start) {}

    // True when a redraw is due at `now`; the grid then moves on by one
    // interval, or restarts from `now` when it had fallen behind.
    bool due(Instant now) {
        if (now < next_) return false;
        next_ += frame_interval;
        if (next_ < now) next_ = now;
        return true;
    }
    Instant next() const { return next_; }

  private:
    Instant next_;
};

// The time between frames, as the rules get it.
class FrameTimer {
  public:
    explicit FrameTimer(Instant start) : last_(start) {}

    // Seconds since the previous frame (or the start), at most 0.1.
    float take(Instant now) {
        const float dt = std::chrono::duration<float>(now - last_).count();
        last_ = now;
        return dt < max_frame_seconds ? dt : max_frame_seconds;
    }

  private:
    Instant last_;
};

}  // namespace zobra
