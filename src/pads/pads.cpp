#include "pads/pads.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace zobra {

namespace {

const char* dir_name(Dir dir) {
    switch (dir) {
        case Dir::Up:
            return "Up";
        case Dir::Right:
            return "Right";
        case Dir::Down:
            return "Down";
        case Dir::Left:
            return "Left";
    }
    return "?";
}

const char* flag(bool value) { return value ? "true" : "false"; }

}  // namespace

std::string to_text(const PadState& pad) {
    std::string text = "PadState { dir: ";
    if (pad.dir) {
        text += "Some(";
        text += dir_name(*pad.dir);
        text += ")";
    } else {
        text += "None";
    }
    text += ", face: ";
    text += flag(pad.face);
    text += ", start: ";
    text += flag(pad.start);
    text += ", select: ";
    text += flag(pad.select);
    text += ", drop: ";
    text += flag(pad.drop);
    text += " }";
    return text;
}

void PadList::replace(std::vector<PadState> pads) {
    std::lock_guard lock(mutex_);
    pads_ = std::move(pads);
}

std::vector<PadState> PadList::copy() const {
    std::lock_guard lock(mutex_);
    return pads_;
}

std::optional<Dir> stick_dir(float x, float y) {
    const float ax = std::fabs(x);
    const float ay = std::fabs(y);
    if (std::max(ax, ay) < stick_threshold) return std::nullopt;
    if (ax > ay) return x > 0.0f ? Dir::Right : Dir::Left;
    return y > 0.0f ? Dir::Up : Dir::Down;
}

}  // namespace zobra
