#include "support/golden.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace zobra::testing {

namespace {

constexpr std::array<std::uint32_t, 64> sha256_k = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

std::uint32_t rotr(std::uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

void sha256_block(std::array<std::uint32_t, 8>& h, const std::uint8_t* block) {
    std::array<std::uint32_t, 64> w{};
    for (std::size_t i = 0; i < 16; ++i)
        w[i] = std::uint32_t{block[4 * i]} << 24 | std::uint32_t{block[4 * i + 1]} << 16 |
               std::uint32_t{block[4 * i + 2]} << 8 | block[4 * i + 3];
    for (std::size_t i = 16; i < 64; ++i) {
        const std::uint32_t s0 = rotr(w[i - 15], 7) ^ rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
        const std::uint32_t s1 = rotr(w[i - 2], 17) ^ rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
        w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    std::array<std::uint32_t, 8> v = h;
    for (std::size_t i = 0; i < 64; ++i) {
        const std::uint32_t s1 = rotr(v[4], 6) ^ rotr(v[4], 11) ^ rotr(v[4], 25);
        const std::uint32_t choose = (v[4] & v[5]) ^ (~v[4] & v[6]);
        const std::uint32_t t1 = v[7] + s1 + choose + sha256_k[i] + w[i];
        const std::uint32_t s0 = rotr(v[0], 2) ^ rotr(v[0], 13) ^ rotr(v[0], 22);
        const std::uint32_t majority = (v[0] & v[1]) ^ (v[0] & v[2]) ^ (v[1] & v[2]);
        v = {t1 + s0 + majority, v[0], v[1], v[2], v[3] + t1, v[4], v[5], v[6]};
    }
    for (std::size_t i = 0; i < 8; ++i) h[i] += v[i];
}

std::filesystem::path golden_path(std::string_view file) {
    return std::filesystem::path(ZOBRA_SOURCE_DIR) / "tests" / "golden" / file;
}

std::map<std::string, std::string> read_golden(const std::filesystem::path& path) {
    std::map<std::string, std::string> stored;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        const std::size_t space = line.find(' ');
        stored[line.substr(0, space)] = space == std::string::npos ? "" : line.substr(space + 1);
    }
    return stored;
}

}  // namespace

std::string sha256_hex(std::span<const std::uint8_t> bytes) {
    std::array<std::uint32_t, 8> h = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                      0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    std::size_t whole = bytes.size() / 64 * 64;
    for (std::size_t at = 0; at < whole; at += 64) sha256_block(h, bytes.data() + at);
    // The tail, the 0x80 marker, zeros and the length in bits fill one or
    // two last blocks.
    std::array<std::uint8_t, 128> tail{};
    const std::size_t rest = bytes.size() - whole;
    std::copy(bytes.begin() + static_cast<std::ptrdiff_t>(whole), bytes.end(), tail.begin());
    tail[rest] = 0x80;
    const std::size_t blocks = rest + 9 > 64 ? 2 : 1;
    const std::uint64_t bits = std::uint64_t{bytes.size()} * 8;
    for (int i = 0; i < 8; ++i)
        tail[blocks * 64 - 1 - static_cast<std::size_t>(i)] =
            static_cast<std::uint8_t>(bits >> (8 * i));
    for (std::size_t b = 0; b < blocks; ++b) sha256_block(h, tail.data() + 64 * b);
    std::string hex;
    char digits[9];
    for (std::uint32_t word : h) {
        std::snprintf(digits, sizeof digits, "%08x", word);
        hex += digits;
    }
    return hex;
}

std::uint32_t fnv1a(std::span<const std::uint8_t> bytes) {
    std::uint32_t hash = 2166136261u;
    for (std::uint8_t b : bytes) hash = (hash ^ b) * 16777619u;
    return hash;
}

std::string check_golden(std::string_view file, const std::map<std::string, std::string>& now,
                         const GoldenExplain& explain) {
    const std::filesystem::path path = golden_path(file);
    if (std::getenv("ZOBRA_UPDATE_GOLDEN") != nullptr) {
        std::ofstream out(path);
        out << "# Written by `make golden`; see the README before changing it.\n";
        for (const auto& [name, value] : now) out << name << ' ' << value << '\n';
        return out ? std::string() : "could not write " + path.string();
    }
    const std::map<std::string, std::string> stored = read_golden(path);
    if (stored.empty()) return path.string() + " is missing or empty: run `make golden`";
    std::ostringstream differences;
    for (const auto& [name, value] : now) {
        const auto it = stored.find(name);
        if (it == stored.end())
            differences << name << ": not in " << file << '\n';
        else if (it->second != value)
            differences << name << ": " << explain(name, it->second, value) << '\n';
    }
    for (const auto& [name, value] : stored)
        if (!now.contains(name)) differences << name << ": stored but no longer produced\n";
    return differences.str();
}

long first_different_group(std::string_view stored, std::string_view now, std::size_t width) {
    const std::size_t groups = std::max(stored.size(), now.size()) / width;
    for (std::size_t g = 0; g < groups; ++g)
        if (stored.substr(g * width, width) != now.substr(g * width, width))
            return static_cast<long>(g);
    return -1;
}

}  // namespace zobra::testing
