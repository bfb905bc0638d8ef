// What the rules must not do, for the determinism check's own test
// (tests/determinism/expected.txt). Never compiled.

#include <algorithm>
#include <chrono>
#include <cmath>
#include <random>
#include <vector>

namespace zobra {

// std::sort(…) and sqrt(…) in a comment are fine.
std::uint32_t drift(std::vector<std::uint32_t>& keys, std::uint32_t seed) {
    std::mt19937 generator(seed);
    std::sort(keys.begin(), keys.end());
    std::stable_sort(keys.begin(), keys.end());                    // fine
    const bool sorted = std::is_sorted(keys.begin(), keys.end());  // fine
    std::nth_element(keys.begin(), keys.begin() + 1, keys.end());
    const auto now = std::chrono::steady_clock::now();
    const std::uint32_t angle = static_cast<std::uint32_t>(std::sin(0.5f) * 100);
    const std::size_t h = std::hash<std::uint32_t>{}(seed);
    return angle + static_cast<std::uint32_t>(h) + (sorted ? 1u : 0u) + (rand() & 1);
}

}  // namespace zobra
