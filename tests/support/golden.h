#pragma once
// Golden files: what the game produced once, stored in tests/golden/ as
// lines of "name value", and compared on every run. A deliberate change
// rewrites them with one command (`make golden`, which runs the tests with
// ZOBRA_UPDATE_GOLDEN=1); nobody edits a hash by hand.

#include <cstdint>
#include <functional>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zobra::testing {

// The SHA-256 of the bytes, as 64 lower-case hexadecimal digits.
std::string sha256_hex(std::span<const std::uint8_t> bytes);

// 32-bit FNV-1a, for the short locator hashes beside a SHA-256.
std::uint32_t fnv1a(std::span<const std::uint8_t> bytes);

// Says in words where a stored value and a new one part.
using GoldenExplain = std::function<std::string(std::string_view name, std::string_view stored,
                                                std::string_view now)>;

// Compares the values now produced with tests/golden/<file>: every name
// must be stored with the same value and nothing stored may be missing.
// Returns an empty text when all agree, otherwise one line per difference,
// each explained. With ZOBRA_UPDATE_GOLDEN set, writes the file from `now`
// instead and returns an empty text.
std::string check_golden(std::string_view file, const std::map<std::string, std::string>& now,
                         const GoldenExplain& explain);

// Compares two lists of locator hashes written as fixed-width hexadecimal
// groups ("a1b2c3d4…"): the index of the first group that differs, or -1.
long first_different_group(std::string_view stored, std::string_view now, std::size_t width);

}  // namespace zobra::testing
