#pragma once
// The game's 320 × 200 picture and the four ways of painting it, plus the
// sprite record that `draw_sprite` consumes.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace zobra {

// A colour without alpha, written #RRGGBB.
struct Rgb {
    std::uint8_t r = 0;
    std::uint8_t g = 0;
    std::uint8_t b = 0;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};

// A small picture with transparency; an absent colour is a transparent pixel.
struct Sprite {
    std::vector<std::optional<Rgb>> pixels;  // row-major, width × height
    std::size_t width = 16;
    std::size_t height = 16;

    // The pixel at column x, row y; outside the picture is an internal error.
    const std::optional<Rgb>& at(std::size_t x, std::size_t y) const;
    friend bool operator==(const Sprite&, const Sprite&) = default;
};

inline constexpr std::size_t canvas_width = 320;
inline constexpr std::size_t canvas_height = 200;

// Four bytes a pixel (red, green, blue, and a fourth byte that stays 255),
// row-major from the top-left. Drawing outside it is clipped, never an error.
struct Canvas {
    std::vector<std::uint8_t> pixels;
    std::size_t width = canvas_width;
    std::size_t height = canvas_height;

    // White, every byte 255.
    Canvas();

    void set_pixel(std::int32_t x, std::int32_t y, Rgb colour);
    void fill_rect(std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h, Rgb colour);
    // Scales the colour bytes of rows y … y + h − 1 by factor / 256.
    void dim_rows(std::int32_t y, std::int32_t h, std::uint32_t factor);
    // Opaque pixels are painted, transparent ones leave the canvas alone.
    void draw_sprite(const Sprite& sprite, std::int32_t x, std::int32_t y);

    // The colour of a pixel inside the canvas (for tests and the writers).
    Rgb pixel(std::size_t x, std::size_t y) const;
};

}  // namespace zobra
