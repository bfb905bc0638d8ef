#pragma once
// Pads as the game and the Pro Controller driver both see them: the state of
// one pad, the locked list in which the driver hands its pads to the game,
// and how a stick's position becomes a direction.

#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/arena.h"

namespace zobra {

// The state of one pad (a gamepad or a Pro Controller) at one moment. A
// missing pad is the default: no direction, no button down.
struct PadState {
    std::optional<Dir> dir;
    bool face = false;    // one of the four face buttons
    bool start = false;   // start, or plus on the Pro Controller
    bool select = false;  // select, or minus on the Pro Controller
    bool drop = false;    // a shoulder button or trigger
    friend bool operator==(const PadState&, const PadState&) = default;
};

// "PadState { dir: Some(Left), face: true, start: false, select: false, drop: false }"
std::string to_text(const PadState& pad);

// The pads the Pro Controller driver has open, in its order. The driver
// replaces the whole list after each reading pass; the game copies it once a
// frame. Both hold the lock only for the copy.
class PadList {
  public:
    void replace(std::vector<PadState> pads);
    std::vector<PadState> copy() const;

  private:
    mutable std::mutex mutex_;
    std::vector<PadState> pads_;
};

inline constexpr float stick_threshold = 0.5f;

// A pad's direction from its stick, axes in −1 … 1 with y upwards: none
// until the stick is past `stick_threshold` on one axis.
std::optional<Dir> stick_dir(float x, float y);

}  // namespace zobra
