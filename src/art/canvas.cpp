#include "art/canvas.h"

#include <algorithm>
#include <cstring>
#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// A colour byte scaled by factor / 256 (kept to its low eight bits, as a
// byte can hold no more).
std::uint8_t dimmed_byte(std::uint8_t byte, std::uint32_t factor) {
    return static_cast<std::uint8_t>((std::uint64_t{byte} * factor) >> 8);
}

// Whether a sprite pixel is four bytes, red, green and blue first (in the
// order of the canvas's bytes) and then 1 when the colour is there and 0
// when not, so that four of them can be tested and copied at once. Both
// standard libraries the game is built with lay it out so; with any other
// the pixels go one by one.
[[maybe_unused]] bool optional_colour_is_packed() {
    static const bool packed = [] {
        const std::optional<Rgb> there = Rgb{1, 2, 3};
        const std::optional<Rgb> absent;
        if (sizeof there != 4) return false;
        std::uint8_t bytes[4], none[4];
        std::memcpy(bytes, &there, 4);
        std::memcpy(none, &absent, 4);
        return bytes[0] == 1 && bytes[1] == 2 && bytes[2] == 3 && bytes[3] == 1 && none[3] == 0;
    }();
    return packed;
}

// The four bytes of a pixel as one word, in the machine's byte order.
[[maybe_unused]] std::uint32_t pixel_word(Rgb colour, std::uint8_t fourth) {
    const std::uint8_t bytes[4] = {colour.r, colour.g, colour.b, fourth};
    std::uint32_t word;
    std::memcpy(&word, bytes, 4);
    return word;
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
        std::size_t col = cols.from;
#if defined(__SSE2__)
        // Four pixels at a time, their fourth bytes kept.
        const __m128i fourth = _mm_set1_epi32(static_cast<int>(pixel_word({0, 0, 0}, 0xFF)));
        const __m128i paint = _mm_set1_epi32(static_cast<int>(pixel_word(colour, 0)));
        for (; col + 4 <= cols.to; col += 4, p += 16) {
            const __m128i under = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(p),
                             _mm_or_si128(paint, _mm_and_si128(fourth, under)));
        }
#endif
        for (; col < cols.to; ++col, p += 4) {
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
    for (std::size_t row = rows.from; row < rows.to; ++row) {
        std::uint8_t* p = pixels.data() + row * width * 4;
        std::size_t col = 0;
#if defined(__SSE2__)
        // Up to 256 the product of a byte and the factor fits in 16 bits:
        // four pixels at a time, their fourth bytes kept as they were.
        if (factor <= 256) {
            const __m128i zero = _mm_setzero_si128();
            const __m128i by = _mm_set1_epi16(static_cast<short>(factor));
            const __m128i fourth = _mm_set1_epi32(static_cast<int>(0xFF000000u));
            for (; col + 4 <= columns; col += 4, p += 16) {
                const __m128i in = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
                const __m128i low =
                    _mm_srli_epi16(_mm_mullo_epi16(_mm_unpacklo_epi8(in, zero), by), 8);
                const __m128i high =
                    _mm_srli_epi16(_mm_mullo_epi16(_mm_unpackhi_epi8(in, zero), by), 8);
                const __m128i dimmed = _mm_packus_epi16(low, high);
                _mm_storeu_si128(
                    reinterpret_cast<__m128i*>(p),
                    _mm_or_si128(_mm_andnot_si128(fourth, dimmed), _mm_and_si128(fourth, in)));
            }
        }
#endif
        for (; col < columns; ++col, p += 4) {
            p[0] = dimmed_byte(p[0], factor);
            p[1] = dimmed_byte(p[1], factor);
            p[2] = dimmed_byte(p[2], factor);
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
        const std::size_t count = cols.to - cols.from;
        std::size_t i = 0;
#if defined(__SSE2__)
        // Four pixels at a time: when all four are there they are copied as
        // words, when none is nothing happens, and only a group at a ragged
        // edge goes pixel by pixel.
        if (optional_colour_is_packed()) {
            const __m128i flags = _mm_set1_epi32(static_cast<int>(0xFF000000u));
            for (; i + 4 <= count; i += 4, p += 16) {
                const __m128i four = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + i));
                const int absent = _mm_movemask_ps(_mm_castsi128_ps(
                    _mm_cmpeq_epi32(_mm_and_si128(four, flags), _mm_setzero_si128())));
                if (absent == 0xF) continue;
                if (absent == 0) {
                    const __m128i under = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
                    _mm_storeu_si128(
                        reinterpret_cast<__m128i*>(p),
                        _mm_or_si128(_mm_andnot_si128(flags, four), _mm_and_si128(flags, under)));
                    continue;
                }
                for (std::size_t k = 0; k < 4; ++k) {
                    if (!source[i + k].has_value()) continue;
                    p[4 * k] = source[i + k]->r;
                    p[4 * k + 1] = source[i + k]->g;
                    p[4 * k + 2] = source[i + k]->b;
                }
            }
        }
#endif
        for (; i < count; ++i, p += 4) {
            if (!source[i].has_value()) continue;
            p[0] = source[i]->r;
            p[1] = source[i]->g;
            p[2] = source[i]->b;
        }
    }
}

Rgb Canvas::pixel(std::size_t x, std::size_t y) const {
    const std::uint8_t* p = &pixels[(y * width + x) * 4];
    return {p[0], p[1], p[2]};
}

}  // namespace zobra
