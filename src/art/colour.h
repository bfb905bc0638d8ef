#pragma once
// The colour toolkit the sprite builder paints with: shading, mixing and a
// position hash. Plain functions without state.

#include <cstdint>

#include "art/canvas.h"

namespace zobra {

// Each channel × percent / 100, capped at 255 (above 100 lightens).
Rgb shade(Rgb colour, std::uint32_t percent);

// a + (b − a) × t per channel in 32-bit float, t clamped to 0 … 1, truncated.
Rgb mix(Rgb a, Rgb b, float t);

// A hash of a position, 0 … 255.
std::uint32_t noise(std::uint32_t x, std::uint32_t y, std::uint32_t seed);

}  // namespace zobra
