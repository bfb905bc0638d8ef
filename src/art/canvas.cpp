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

void Canvas::fill_rect(std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h,
                       Rgb colour) {
    if (w <= 0 || h <= 0) return;
    // Work in 64 bits so that x + w cannot overflow.
    const std::int64_t x0 = std::max<std::int64_t>(x, 0);
    const std::int64_t y0 = std::max<std::int64_t>(y, 0);
    const std::int64_t x1 = std::min<std::int64_t>(static_cast<std::int64_t>(width),
                                                   std::int64_t{x} + w);
    const std::int64_t y1 = std::min<std::int64_t>(static_cast<std::int64_t>(height),
                                                   std::int64_t{y} + h);
    for (std::int64_t row = y0; row < y1; ++row)
        for (std::int64_t col = x0; col < x1; ++col)
            set_pixel(static_cast<std::int32_t>(col), static_cast<std::int32_t>(row), colour);
}

void Canvas::dim_rows(std::int32_t y, std::int32_t h, std::uint32_t factor) {
    if (y < 0 || h <= 0) return;
    const std::size_t y0 = static_cast<std::size_t>(y);
    const std::size_t y1 = std::min(height, y0 + static_cast<std::size_t>(h));
    const std::size_t columns = std::min<std::size_t>(width, canvas_width);
    for (std::size_t row = y0; row < y1; ++row) {
        std::uint8_t* p = &pixels[row * width * 4];
        for (std::size_t col = 0; col < columns; ++col, p += 4)
            for (int channel = 0; channel < 3; ++channel)
                p[channel] = static_cast<std::uint8_t>((std::uint64_t{p[channel]} * factor) >> 8);
    }
}

void Canvas::draw_sprite(const Sprite& sprite, std::int32_t x, std::int32_t y) {
    // In 64 bits x + c cannot overflow; a pixel beyond the 32-bit range is
    // off the canvas anyway.
    constexpr std::int64_t most = std::numeric_limits<std::int32_t>::max();
    for (std::size_t r = 0; r < sprite.height; ++r) {
        const std::int64_t row = std::int64_t{y} + static_cast<std::int64_t>(r);
        if (row > most) break;
        for (std::size_t c = 0; c < sprite.width; ++c) {
            const std::int64_t column = std::int64_t{x} + static_cast<std::int64_t>(c);
            if (column > most) break;
            if (const std::optional<Rgb>& colour = sprite.at(c, r))
                set_pixel(static_cast<std::int32_t>(column), static_cast<std::int32_t>(row),
                          *colour);
        }
    }
}

Rgb Canvas::pixel(std::size_t x, std::size_t y) const {
    const std::uint8_t* p = &pixels[(y * width + x) * 4];
    return {p[0], p[1], p[2]};
}

}  // namespace zobra
