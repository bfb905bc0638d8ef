#pragma once
// Number helpers with the game's exact semantics: saturating float-to-integer
// conversion and division and remainder that round toward minus infinity.

#include <cmath>
#include <concepts>
#include <limits>

namespace zobra {

// Float to integer as the game converts: NaN gives 0, values beyond the
// target's range give its minimum or maximum, everything else truncates.
template <std::integral Int, std::floating_point Float>
constexpr Int saturate_cast(Float value) {
    if (std::isnan(value)) return 0;
    if (value <= static_cast<Float>(std::numeric_limits<Int>::min()))
        return std::numeric_limits<Int>::min();
    if (value >= static_cast<Float>(std::numeric_limits<Int>::max()))
        return std::numeric_limits<Int>::max();
    return static_cast<Int>(value);
}

// Remainder taken as non-negative (for a positive divisor).
template <std::signed_integral Int>
constexpr Int euclid_mod(Int a, Int b) {
    Int r = static_cast<Int>(a % b);
    return r < 0 ? static_cast<Int>(r + (b < 0 ? -b : b)) : r;
}

// Division rounding toward minus infinity.
template <std::signed_integral Int>
constexpr Int floor_div(Int a, Int b) {
    Int q = static_cast<Int>(a / b);
    return ((a % b != 0) && ((a < 0) != (b < 0))) ? static_cast<Int>(q - 1) : q;
}

}  // namespace zobra
