#pragma once
// Scaling the 320 × 200 canvas into a target picture of any size: whole
// factors from 2× up keep the pixels crisp, the 16:10 picture stays centred
// and undistorted, the rest is black. Also used for the screenshots.

#include <cstdint>
#include <span>

namespace zobra {

// Clears the whole target, then draws the canvas (four bytes a pixel) into
// its first w × h pixels as 0x00RRGGBB words. A target shorter than w × h
// stays black, and so does one of no width or height.
void present_scaled(std::span<const std::uint8_t> canvas, std::span<std::uint32_t> target,
                    std::uint32_t w, std::uint32_t h);

// Where the picture lands in a w × h target.
struct Placement {
    std::uint32_t left = 0, top = 0, width = 0, height = 0;
};
Placement scaled_placement(std::uint32_t w, std::uint32_t h);

}  // namespace zobra
