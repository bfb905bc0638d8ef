#include "art/colour.h"

#include <algorithm>

namespace zobra {

Rgb shade(Rgb colour, std::uint32_t percent) {
    auto channel = [percent](std::uint8_t c) {
        return static_cast<std::uint8_t>(
            std::min<std::uint64_t>(std::uint64_t{c} * percent / 100, 255));
    };
    return {channel(colour.r), channel(colour.g), channel(colour.b)};
}

Rgb mix(Rgb a, Rgb b, float t) {
    t = std::clamp(t, 0.0f, 1.0f);  // NaN stays NaN and gives a below
    if (t != t) t = 0.0f;
    auto channel = [t](std::uint8_t from, std::uint8_t to) {
        const float from_f = static_cast<float>(from);
        const float value = from_f + (static_cast<float>(to) - from_f) * t;
        return static_cast<std::uint8_t>(std::clamp(value, 0.0f, 255.0f));
    };
    return {channel(a.r, b.r), channel(a.g, b.g), channel(a.b, b.b)};
}

std::uint32_t noise(std::uint32_t x, std::uint32_t y, std::uint32_t seed) {
    std::uint32_t h = (x * 0x9E3779B1u) ^ (y * 0x85EBCA6Bu) ^ (seed * 0xC2B2AE35u);
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    return h & 0xFFu;
}

}  // namespace zobra
