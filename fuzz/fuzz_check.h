#pragma once
// What the fuzz targets share: a broken property prints what should have
// held and aborts, which libFuzzer reports as a crash and keeps the input.

#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace zobra::fuzz {

inline void require(bool holds, std::string_view what) {
    if (holds) return;
    std::fprintf(stderr, "property broken: %.*s\n", static_cast<int>(what.size()), what.data());
    std::abort();
}

}  // namespace zobra::fuzz
