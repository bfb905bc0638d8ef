#include "game/screen.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "art/canvas.h"
#include "core/numbers.h"

namespace zobra {

namespace {

void clear(std::uint32_t* from, std::size_t count) {
    if (count > 0) std::memset(from, 0, count * sizeof(std::uint32_t));
}

}  // namespace

Placement scaled_placement(std::uint32_t w, std::uint32_t h) {
    const float by_width = static_cast<float>(w) / 320.0f;
    const float by_height = static_cast<float>(h) / 200.0f;
    float s = std::isnan(by_height) ? by_width : std::min(by_width, by_height);
    if (s >= 2.0f) s = std::floor(s);

    auto side = [](float length, std::uint32_t limit) {
        std::uint32_t d = saturate_cast<std::uint32_t>(length);
        return d == 0 ? 1u : std::min(d, limit);
    };
    Placement p;
    p.width = side(320.0f * s, w);
    p.height = side(200.0f * s, h);
    p.left = (w - p.width) / 2;
    p.top = (h - p.height) / 2;
    return p;
}

void present_scaled(std::span<const std::uint8_t> canvas, std::span<std::uint32_t> target,
                    std::uint32_t w, std::uint32_t h) {
    // A target without width or height has no room for even the one-pixel
    // picture: the margins around it would come out negative.
    const std::size_t area = std::size_t{w} * h;
    if (area == 0 || target.size() < area || canvas.size() < canvas_width * canvas_height * 4) {
        clear(target.data(), target.size());
        return;
    }
    // Only what the picture does not cover is cleared: the same result as
    // clearing everything first, at half the memory traffic.
    clear(target.data() + area, target.size() - area);
    const Placement p = scaled_placement(w, h);
    clear(target.data(), std::size_t{p.top} * w);
    clear(target.data() + std::size_t{p.top + p.height} * w, std::size_t{h - p.top - p.height} * w);

    // Which canvas column each picture column shows. With a whole factor
    // every canvas column simply repeats that many times; otherwise the map
    // is computed once per call into a buffer that only grows.
    const std::uint32_t whole_factor = p.width % canvas_width == 0 ? p.width / canvas_width : 0;
    thread_local std::vector<std::uint32_t> column_map;
    if (whole_factor == 0) {
        if (column_map.size() < p.width) column_map.resize(p.width);
        for (std::uint32_t c = 0; c < p.width; ++c)
            column_map[c] = static_cast<std::uint32_t>(
                std::min<std::uint64_t>(std::uint64_t{c} * 320 / p.width, 319));
    }
    const std::uint32_t right_bar = w - p.left - p.width;
    std::uint64_t previous_source_row = UINT64_MAX;
    for (std::uint32_t r = 0; r < p.height; ++r) {
        std::uint32_t* row = target.data() + std::size_t{p.top + r} * w;
        clear(row, p.left);
        clear(row + p.left + p.width, right_bar);
        std::uint32_t* out = row + p.left;
        const std::uint64_t source_row =
            std::min<std::uint64_t>(std::uint64_t{r} * 200 / p.height, 199);
        if (source_row == previous_source_row) {
            std::memcpy(out, out - w, std::size_t{p.width} * sizeof(std::uint32_t));
            continue;
        }
        previous_source_row = source_row;
        // Convert the canvas row once, then spread it over the picture row.
        const std::uint8_t* source = canvas.data() + source_row * canvas_width * 4;
        std::uint32_t converted[canvas_width];
        for (std::size_t x = 0; x < canvas_width; ++x, source += 4)
            converted[x] =
                (std::uint32_t{source[0]} << 16) | (std::uint32_t{source[1]} << 8) | source[2];
        if (whole_factor != 0) {
            for (std::size_t x = 0; x < canvas_width; ++x)
                for (std::uint32_t k = 0; k < whole_factor; ++k) *out++ = converted[x];
        } else {
            for (std::uint32_t c = 0; c < p.width; ++c) out[c] = converted[column_map[c]];
        }
    }
}

}  // namespace zobra
