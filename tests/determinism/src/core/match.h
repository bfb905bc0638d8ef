#pragma once
// A match header that breaks each rule of the determinism check, for the
// check's own test (tests/determinism/expected.txt). Never compiled.

#include <cstdint>
#include <unordered_map>
#include <vector>

namespace zobra {

struct Match {
    std::uint32_t ticks = 0;  // fine: a fixed width
    std::int32_t x = 0;       // fine
    std::size_t cells = 0;
    long score = 0;
    unsigned int lives = 3;
    std::vector<int> rows;
    double pace = 1.0;
    std::unordered_map<std::uint32_t, std::uint32_t> seen;
    bool over = false;                              // fine
    std::uint32_t humans() const { return 1; }      // fine: a function
    static constexpr int most = 4;                  // fine: not stored
    std::uint32_t count(std::size_t from, int to);  // fine: parameters
};

}  // namespace zobra
