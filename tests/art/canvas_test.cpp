#include "art/canvas.h"

#include <gtest/gtest.h>

#include <array>
#include <limits>

#include "art/colour.h"
#include "core/arena.h"
#include "support/panic_error.h"

namespace zobra {
namespace {

constexpr Rgb white{255, 255, 255};
constexpr Rgb plum{30, 24, 54};

std::size_t count_not_white(const Canvas& canvas) {
    std::size_t count = 0;
    for (std::size_t y = 0; y < canvas.height; ++y)
        for (std::size_t x = 0; x < canvas.width; ++x) count += canvas.pixel(x, y) != white;
    return count;
}

bool every_fourth_byte_is_255(const Canvas& canvas) {
    for (std::size_t i = 3; i < canvas.pixels.size(); i += 4)
        if (canvas.pixels[i] != 255) return false;
    return true;
}

// A 16 × 16 test card: column c, row r is (c, r, 7), with every third
// diagonal transparent.
Sprite test_card() {
    Sprite sprite;
    for (std::uint8_t r = 0; r < 16; ++r)
        for (std::uint8_t c = 0; c < 16; ++c)
            sprite.pixels.push_back((c + r) % 3 == 0 ? std::nullopt
                                                     : std::optional<Rgb>(Rgb{c, r, 7}));
    return sprite;
}

TEST(Canvas, ANewCanvasIs320By200WhitePixelsOfFourBytes) {
    const Canvas canvas;
    EXPECT_EQ(canvas.width, 320u);
    EXPECT_EQ(canvas.height, 200u);
    ASSERT_EQ(canvas.pixels.size(), 256000u);
    for (std::uint8_t byte : canvas.pixels) ASSERT_EQ(byte, 255);
}

TEST(Canvas, APixelOutsideTheCanvasChangesNothing) {
    Canvas canvas;
    constexpr std::int32_t most = std::numeric_limits<std::int32_t>::max();
    constexpr std::int32_t least = std::numeric_limits<std::int32_t>::min();
    for (auto [x, y] : {std::pair{320, 0}, {0, 200}, {-1, 5}, {5, -1}, {most, most}, {least, 0}})
        canvas.set_pixel(x, y, plum);
    EXPECT_EQ(count_not_white(canvas), 0u);

    canvas.set_pixel(319, 199, Rgb{1, 2, 3});
    EXPECT_EQ(canvas.pixels[255995], 255);
    EXPECT_EQ(canvas.pixels[255996], 1);
    EXPECT_EQ(canvas.pixels[255997], 2);
    EXPECT_EQ(canvas.pixels[255998], 3);
    EXPECT_EQ(canvas.pixels[255999], 255);
    EXPECT_EQ(count_not_white(canvas), 1u);
}

TEST(Canvas, ARectangleIsClippedToTheCanvas) {
    Canvas canvas;
    canvas.fill_rect(-4, -4, 10, 10, plum);
    EXPECT_EQ(count_not_white(canvas), 36u);
    EXPECT_EQ(canvas.pixel(0, 0), plum);
    EXPECT_EQ(canvas.pixel(5, 5), plum);
    EXPECT_EQ(canvas.pixel(6, 5), white);
    EXPECT_EQ(canvas.pixel(5, 6), white);

    Canvas corner;
    corner.fill_rect(315, 195, 100, 100, plum);
    EXPECT_EQ(count_not_white(corner), 25u);
}

TEST(Canvas, EmptyOrFarAwayRectanglesPaintNothing) {
    Canvas canvas;
    constexpr std::int32_t most = std::numeric_limits<std::int32_t>::max();
    constexpr std::int32_t least = std::numeric_limits<std::int32_t>::min();
    canvas.fill_rect(10, 10, 0, 5, plum);
    canvas.fill_rect(10, 10, 5, -3, plum);
    canvas.fill_rect(320, 0, 5, 5, plum);
    canvas.fill_rect(-5, 0, 5, 5, plum);
    canvas.fill_rect(most, most, most, most, plum);
    canvas.fill_rect(least, least, 5, 5, plum);
    EXPECT_EQ(count_not_white(canvas), 0u);

    canvas.fill_rect(least, least, most, most, plum);  // ends at −1, −1
    EXPECT_EQ(count_not_white(canvas), 0u);
}

TEST(Canvas, SpritesPaintTheirOpaquePixelsOnly) {
    Canvas canvas;
    const Sprite card = test_card();
    canvas.draw_sprite(card, 100, 50);
    for (std::size_t r = 0; r < 16; ++r)
        for (std::size_t c = 0; c < 16; ++c)
            EXPECT_EQ(canvas.pixel(100 + c, 50 + r), card.at(c, r).value_or(white));
    EXPECT_EQ(count_not_white(canvas), 256u - 86u);  // 86 cells with (c + r) mod 3 = 0
}

TEST(Canvas, ASpriteAtTheEdgeShowsOnlyItsPartOnTheCanvas) {
    const Sprite card = test_card();
    Canvas left;
    left.draw_sprite(card, -8, 0);
    for (std::size_t r = 0; r < 16; ++r)
        for (std::size_t c = 0; c < 8; ++c)
            EXPECT_EQ(left.pixel(c, r), card.at(c + 8, r).value_or(white));
    EXPECT_EQ(left.pixel(8, 0), white);

    Canvas bottom;
    bottom.draw_sprite(card, 0, 192);
    for (std::size_t r = 0; r < 8; ++r)
        for (std::size_t c = 0; c < 16; ++c)
            EXPECT_EQ(bottom.pixel(c, 192 + r), card.at(c, r).value_or(white));
    EXPECT_EQ(count_not_white(bottom), 8u * 16u - 43u);  // 43 of the top eight rows are holes

    Canvas far_away;
    constexpr std::int32_t most = std::numeric_limits<std::int32_t>::max();
    constexpr std::int32_t least = std::numeric_limits<std::int32_t>::min();
    far_away.draw_sprite(card, most - 3, 0);
    far_away.draw_sprite(card, 0, most);
    far_away.draw_sprite(card, least, least);
    EXPECT_EQ(count_not_white(far_away), 0u);
}

// The scrolling views draw one column of tiles past each edge in every
// frame, so a sprite just beside the canvas is the common case: drawing it
// must change exactly the pixels `set_pixel` would, and touch nothing else.
TEST(Canvas, SpritesAndRectanglesAroundEveryEdgeChangeWhatSinglePixelsWould) {
    const Sprite card = test_card();
    constexpr std::array<std::int32_t, 13> xs{-17, -16, -15, -1,  0,   1,  303,
                                              304, 305, 319, 320, 321, 336};
    constexpr std::array<std::int32_t, 9> ys{-17, -16, -15, -1, 0, 184, 199, 200, 216};
    for (std::int32_t x : xs)
        for (std::int32_t y : ys) {
            SCOPED_TRACE(::testing::Message() << "at " << x << ", " << y);
            Canvas expected;
            for (std::int32_t r = 0; r < 16; ++r)
                for (std::int32_t c = 0; c < 16; ++c)
                    if (const std::optional<Rgb>& p =
                            card.at(static_cast<std::size_t>(c), static_cast<std::size_t>(r)))
                        expected.set_pixel(x + c, y + r, *p);
            Canvas drawn;
            drawn.draw_sprite(card, x, y);
            ASSERT_EQ(drawn.pixels, expected.pixels);

            Canvas filled_expected;
            for (std::int32_t r = 0; r < 16; ++r)
                for (std::int32_t c = 0; c < 16; ++c) filled_expected.set_pixel(x + c, y + r, plum);
            Canvas filled;
            filled.fill_rect(x, y, 16, 16, plum);
            ASSERT_EQ(filled.pixels, filled_expected.pixels);
        }
}

TEST(Canvas, ReadingOutsideASpriteIsAnInternalError) {
    const Sprite card = test_card();
    EXPECT_THROW(card.at(16, 0), testing::PanicError);
    EXPECT_THROW(card.at(0, 16), testing::PanicError);
    Sprite short_sprite;
    short_sprite.pixels.resize(255);
    EXPECT_THROW(short_sprite.at(15, 15), testing::PanicError);
    Canvas canvas;
    EXPECT_THROW(canvas.draw_sprite(short_sprite, 0, 0), testing::PanicError);
}

TEST(Canvas, DimmingScalesColourBytesByAFactorOf256ths) {
    Canvas canvas;
    canvas.dim_rows(0, 200, 80);
    EXPECT_EQ(canvas.pixel(0, 0), (Rgb{79, 79, 79}));
    EXPECT_EQ(canvas.pixel(319, 199), (Rgb{79, 79, 79}));

    Canvas band;
    band.set_pixel(3, 10, Rgb{200, 101, 1});
    band.dim_rows(10, 1, 256);
    EXPECT_EQ(band.pixel(3, 10), (Rgb{200, 101, 1}));
    band.dim_rows(10, 1, 128);
    EXPECT_EQ(band.pixel(3, 10), (Rgb{100, 50, 0}));
    band.dim_rows(10, 1, 0);
    EXPECT_EQ(band.pixel(3, 10), (Rgb{0, 0, 0}));
    EXPECT_EQ(band.pixel(3, 9), white);
    EXPECT_EQ(band.pixel(3, 11), white);
}

TEST(Canvas, DimmingStopsAtTheBottomRow) {
    Canvas canvas;
    canvas.dim_rows(190, 20, 128);
    EXPECT_EQ(canvas.pixel(0, 189), white);
    EXPECT_EQ(canvas.pixel(0, 190), (Rgb{127, 127, 127}));
    EXPECT_EQ(canvas.pixel(319, 199), (Rgb{127, 127, 127}));
    EXPECT_EQ(count_not_white(canvas), 320u * 10u);
    canvas.dim_rows(0, std::numeric_limits<std::int32_t>::max(), 256);
    canvas.dim_rows(250, 5, 0);
    EXPECT_EQ(count_not_white(canvas), 320u * 10u);
}

TEST(Canvas, TheFourthByteStays255WhateverIsDrawn) {
    Canvas canvas;
    canvas.fill_rect(-10, -10, 400, 300, Rgb{0, 0, 0});
    canvas.set_pixel(7, 7, Rgb{1, 2, 3});
    canvas.draw_sprite(test_card(), 300, 190);
    canvas.dim_rows(0, 200, 0);
    canvas.dim_rows(5, 10, 300);
    EXPECT_TRUE(every_fourth_byte_is_255(canvas));
}

// The property tests draw from the rules' own generator.
std::uint8_t random_byte(Rng& dice) { return static_cast<std::uint8_t>(dice.below(256)); }

// A canvas of random bytes, the fourth byte of each pixel included.
Canvas random_canvas(Rng& dice) {
    Canvas canvas;
    for (std::uint8_t& byte : canvas.pixels) byte = random_byte(dice);
    return canvas;
}

TEST(Canvas, SpritesOfAnyShapeAndPlacePaintWhatPixelByPixelPaintingWould) {
    // Solid rows, empty rows, ragged rows and widths that are no multiple
    // of four, anywhere on or off the canvas: the result is the one of
    // setting every opaque pixel on its own, and the fourth bytes stay.
    for (std::uint64_t seed = 1; seed <= 300; ++seed) {
        Rng dice{seed * 0x9E3779B97F4A7C15ull};
        Sprite sprite;
        sprite.width = 1 + dice.below(24);
        sprite.height = 1 + dice.below(20);
        for (std::size_t r = 0; r < sprite.height; ++r) {
            const std::uint32_t holes = dice.below(4);  // none, all, half, a few
            for (std::size_t c = 0; c < sprite.width; ++c) {
                const bool hole = holes == 1 || (holes == 2 && dice.below(2) == 0) ||
                                  (holes == 3 && dice.below(5) == 0);
                sprite.pixels.push_back(
                    hole ? std::nullopt
                         : std::optional<Rgb>(
                               Rgb{random_byte(dice), random_byte(dice), random_byte(dice)}));
            }
        }
        const auto x = static_cast<std::int32_t>(dice.below(360)) - 30;
        const auto y = static_cast<std::int32_t>(dice.below(240)) - 30;
        Canvas canvas = random_canvas(dice);
        Canvas expected = canvas;
        canvas.draw_sprite(sprite, x, y);
        for (std::size_t r = 0; r < sprite.height; ++r)
            for (std::size_t c = 0; c < sprite.width; ++c)
                if (const std::optional<Rgb>& colour = sprite.at(c, r))
                    expected.set_pixel(x + static_cast<std::int32_t>(c),
                                       y + static_cast<std::int32_t>(r), *colour);
        ASSERT_EQ(canvas.pixels, expected.pixels) << "seed " << seed;
    }
}

TEST(Canvas, RectanglesOfAnySizeAndPlacePaintWhatPixelByPixelPaintingWould) {
    for (std::uint64_t seed = 1; seed <= 200; ++seed) {
        Rng dice{seed * 0xD1B54A32D192ED03ull};
        const auto x = static_cast<std::int32_t>(dice.below(360)) - 30;
        const auto y = static_cast<std::int32_t>(dice.below(240)) - 30;
        const auto w = static_cast<std::int32_t>(dice.below(80));
        const auto h = static_cast<std::int32_t>(dice.below(40));
        const Rgb colour{random_byte(dice), random_byte(dice), random_byte(dice)};
        Canvas canvas = random_canvas(dice);
        Canvas expected = canvas;
        canvas.fill_rect(x, y, w, h, colour);
        for (std::int32_t r = 0; r < h; ++r)
            for (std::int32_t c = 0; c < w; ++c) expected.set_pixel(x + c, y + r, colour);
        ASSERT_EQ(canvas.pixels, expected.pixels) << "seed " << seed;
    }
}

TEST(Canvas, DimmingAnyBandByAnyFactorScalesEachColourByteAndLeavesTheFourth) {
    for (const std::uint32_t factor : {0u, 1u, 70u, 80u, 128u, 255u, 256u, 257u, 300u, 65536u}) {
        Rng dice{factor + 11};
        Canvas canvas = random_canvas(dice);
        const auto y = static_cast<std::int32_t>(dice.below(200));
        const auto h = static_cast<std::int32_t>(dice.below(60)) + 1;
        const std::vector<std::uint8_t> before = canvas.pixels;
        canvas.dim_rows(y, h, factor);
        for (std::size_t i = 0; i < before.size(); ++i) {
            const std::size_t row = i / (320 * 4);
            const bool dimmed = i % 4 != 3 && row >= static_cast<std::size_t>(y) &&
                                row < static_cast<std::size_t>(y + h);
            const auto expected =
                dimmed ? static_cast<std::uint8_t>((std::uint64_t{before[i]} * factor) >> 8)
                       : before[i];
            ASSERT_EQ(canvas.pixels[i], expected) << "factor " << factor << " byte " << i;
        }
    }
}

TEST(Colour, NoiseHashesPositionsToTheGivenValues) {
    EXPECT_EQ(noise(0, 0, 0), 0u);
    EXPECT_EQ(noise(1, 0, 0), 227u);
    EXPECT_EQ(noise(0, 1, 0), 4u);
    EXPECT_EQ(noise(3, 5, 1), 75u);
    EXPECT_EQ(noise(15, 15, 2), 65u);
    // The products wrap in 32 bits.
    EXPECT_EQ(noise(0xFFFFFFFFu, 0x12345678u, 7), 39u);
}

TEST(Colour, ShadeScalesEachChannelByAPercentCappedAtWhite) {
    EXPECT_EQ(shade(Rgb{200, 100, 50}, 150), (Rgb{255, 150, 75}));
    EXPECT_EQ(shade(Rgb{200, 100, 50}, 100), (Rgb{200, 100, 50}));
    EXPECT_EQ(shade(Rgb{0x92, 0x5C, 0x30}, 82), (Rgb{119, 75, 39}));  // 146 × 0.82 = 119.72
    EXPECT_EQ(shade(Rgb{1, 2, 3}, 0), (Rgb{0, 0, 0}));
    EXPECT_EQ(shade(Rgb{255, 1, 0}, 0xFFFFFFFFu), (Rgb{255, 255, 0}));
}

TEST(Colour, MixBlendsInFloatClampsTAndTruncates) {
    const Rgb a{10, 200, 0};
    const Rgb b{250, 20, 99};
    EXPECT_EQ(mix(Rgb{0, 0, 0}, Rgb{255, 255, 255}, 0.5f), (Rgb{127, 127, 127}));
    EXPECT_EQ(mix(a, b, 0.0f), a);
    EXPECT_EQ(mix(a, b, 1.0f), b);
    EXPECT_EQ(mix(a, b, 1.7f), b);
    EXPECT_EQ(mix(a, b, -0.3f), a);
    // 10 + 240 × 0.1 = 34, 200 − 180 × 0.1 = 182, 99 × 0.1 = 9.9 truncated.
    EXPECT_EQ(mix(a, b, 0.1f), (Rgb{34, 182, 9}));
}

}  // namespace
}  // namespace zobra
