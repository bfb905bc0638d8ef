#include "art/canvas.h"

#include <algorithm>
#include <limits>

#include "core/panic.h"

namespace zobra {

const std::optional<Rgb>& Sprite::at(std::size_t x, std::size_t y) const {
    if (x >= width || y >= height || y * width + x >= pixels.size())
        panic("sprite pixel outside the sprite");
    return pixels[y * width + x];
}

Canvas::Canvas() : pixels(canvas_width * canvas_height * 4, 255) {}

void Canvas::set_pixel(std::int32_t x, std::int32_t y, Rgb colour) {
    if (x < 0 || y < 0) return;
    const auto ux = static_cast<std::size_t>(x);
    const auto uy = static_cast<std::size_t>(y);
    if (ux >= width || uy >= height) return;
    std::uint8_t* p = &pixels[(uy * width + ux) * 4];
    p[0] = colour.r;
    p[1] = colour.g;
    p[2] = colour.b;
}

namespace {

// The part [from, to) of a span of `length` starting at `start` that lies
// within [0, limit); computed in 64 bits so that no sum can overflow.
struct Span {
    std::size_t from = 0, to = 0;
};
Span clip(std::int64_t start, std::int64_t length, std::size_t limit) {
    const std::int64_t from = std::max<std::int64_t>(start, 0);
    const std::int64_t to =
        std::min<std::int64_t>(static_cast<std::int64_t>(limit), start + length);
    if (to <= from) return {};
    return {static_cast<std::size_t>(from), static_cast<std::size_t>(to)};
}

}  // namespace

// The operations below clip once per call instead of testing every pixel:
// the same pixels change as if each went through `set_pixel`, in a fraction
// of the time, which matters because the views repaint the canvas every frame.

void Canvas::fill_rect(std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h, Rgb colour) {
    if (w <= 0 || h <= 0) return;
    const Span cols = clip(x, w, width);
    const Span rows = clip(y, h, height);
    if (cols.from == cols.to) return;
    for (std::size_t row = rows.from; row < rows.to; ++row) {
        std::uint8_t* p = pixels.data() + (row * width + cols.from) * 4;
        for (std::size_t col = cols.from; col < cols.to; ++col, p += 4) {
            p[0] = colour.r;
            p[1] = colour.g;
            p[2] = colour.b;
        }
    }
}

void Canvas::dim_rows(std::int32_t y, std::int32_t h, std::uint32_t factor) {
    if (y < 0 || h <= 0) return;
    const Span rows = clip(y, h, height);
    const std::size_t columns = std::min<std::size_t>(width, canvas_width);
    // Every byte value has one dimmed value: look it up instead of multiplying.
    std::uint8_t dimmed[256];
    for (std::uint32_t b = 0; b < 256; ++b)
        dimmed[b] = static_cast<std::uint8_t>((std::uint64_t{b} * factor) >> 8);
    for (std::size_t row = rows.from; row < rows.to; ++row) {
        std::uint8_t* p = pixels.data() + row * width * 4;
        for (std::size_t col = 0; col < columns; ++col, p += 4) {
            p[0] = dimmed[p[0]];
            p[1] = dimmed[p[1]];
            p[2] = dimmed[p[2]];
        }
    }
}

void Canvas::draw_sprite(const Sprite& sprite, std::int32_t x, std::int32_t y) {
    if (sprite.pixels.size() < sprite.width * sprite.height)
        panic("sprite pixel outside the sprite");
    const Span cols = clip(x, static_cast<std::int64_t>(sprite.width), width);
    const Span rows = clip(y, static_cast<std::int64_t>(sprite.height), height);
    // A sprite wholly beside the canvas (the views draw one past each edge
    // while scrolling) stops here: its source offset below would point
    // outside the sprite, which is undefined even when nothing is read.
    if (cols.from == cols.to || rows.from == rows.to) return;
    for (std::size_t row = rows.from; row < rows.to; ++row) {
        const std::size_t r = static_cast<std::size_t>(static_cast<std::int64_t>(row) - y);
        const std::optional<Rgb>* source =
            sprite.pixels.data() + r * sprite.width +
            static_cast<std::size_t>(static_cast<std::int64_t>(cols.from) - x);
        std::uint8_t* p = pixels.data() + (row * width + cols.from) * 4;
        for (std::size_t col = cols.from; col < cols.to; ++col, ++source, p += 4) {
            if (!source->has_value()) continue;
            p[0] = (*source)->r;
            p[1] = (*source)->g;
            p[2] = (*source)->b;
        }
    }
}

Rgb Canvas::pixel(std::size_t x, std::size_t y) const {
    const std::uint8_t* p = &pixels[(y * width + x) * 4];
    return {p[0], p[1], p[2]};
}

}  // namespace zobra
