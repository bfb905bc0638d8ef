#include "game/screen.h"

#include <gtest/gtest.h>

#include <vector>

#include "art/canvas.h"

namespace zobra {
namespace {

// A canvas whose every pixel tells where it is: red = column / 2 (0 … 159),
// green = row, blue = column parity.
Canvas position_canvas() {
    Canvas canvas;
    for (std::int32_t y = 0; y < 200; ++y)
        for (std::int32_t x = 0; x < 320; ++x)
            canvas.set_pixel(x, y,
                             Rgb{static_cast<std::uint8_t>(x / 2), static_cast<std::uint8_t>(y),
                                 static_cast<std::uint8_t>(x % 2)});
    return canvas;
}

std::uint32_t word(const Canvas& canvas, std::size_t x, std::size_t y) {
    Rgb c = canvas.pixel(x, y);
    return (std::uint32_t{c.r} << 16) | (std::uint32_t{c.g} << 8) | c.b;
}

struct Target {
    std::uint32_t w, h;
    std::vector<std::uint32_t> pixels;
    Target(std::uint32_t w0, std::uint32_t h0, std::size_t extra = 0)
        : w(w0), h(h0), pixels(std::size_t{w0} * h0 + extra, 0xABCDEFu) {}
    std::uint32_t at(std::uint32_t x, std::uint32_t y) const {
        return pixels[std::size_t{y} * w + x];
    }
};

// The canvas pixel a target pixel shows, or black outside the picture, by
// the nearest-neighbour rule.
void expect_picture(const Canvas& canvas, const Target& t, Placement p) {
    for (std::uint32_t y = 0; y < t.h; ++y)
        for (std::uint32_t x = 0; x < t.w; ++x) {
            const bool inside =
                x >= p.left && x < p.left + p.width && y >= p.top && y < p.top + p.height;
            std::uint32_t expected = 0;
            if (inside) {
                std::size_t cx =
                    std::min<std::size_t>(std::size_t{x - p.left} * 320 / p.width, 319);
                std::size_t cy =
                    std::min<std::size_t>(std::size_t{y - p.top} * 200 / p.height, 199);
                expected = word(canvas, cx, cy);
            }
            ASSERT_EQ(t.at(x, y), expected) << "at " << x << "," << y;
        }
}

TEST(Scaler, WholeFactorsFromTwoUpAndFractionalBelow) {
    struct Case {
        std::uint32_t w, h;
        Placement expected;
    };
    const Case cases[] = {
        {640, 400, {0, 0, 640, 400}},         // 2×, fills the target
        {1000, 600, {20, 0, 960, 600}},       // 3.125 floors to 3, bars left and right
        {960, 600, {0, 0, 960, 600}},         // the screenshot size
        {500, 300, {10, 0, 480, 300}},        // 1.5 stays fractional
        {100, 100, {0, 19, 100, 62}},         // 0.3125
        {1, 1, {0, 0, 1, 1}},                 // tiny: at least one pixel
        {1920, 1080, {160, 40, 1600, 1000}},  // 5.4 floors to 5
    };
    for (const Case& c : cases) {
        Placement p = scaled_placement(c.w, c.h);
        EXPECT_EQ(p.left, c.expected.left) << c.w << "x" << c.h;
        EXPECT_EQ(p.top, c.expected.top) << c.w << "x" << c.h;
        EXPECT_EQ(p.width, c.expected.width) << c.w << "x" << c.h;
        EXPECT_EQ(p.height, c.expected.height) << c.w << "x" << c.h;
    }
}

TEST(Scaler, EveryTargetPixelShowsItsNearestCanvasPixelOrBlack) {
    const Canvas canvas = position_canvas();
    for (auto [w, h] : {std::pair{640u, 400u},
                        {1000u, 600u},
                        {500u, 300u},
                        {100u, 100u},
                        {1u, 1u},
                        {333u, 777u},
                        {1920u, 1080u}}) {
        Target t(w, h);
        present_scaled(canvas.pixels, t.pixels, w, h);
        expect_picture(canvas, t, scaled_placement(w, h));
    }
}

TEST(Scaler, FractionalFactorRepeatsEvenColumnsAtOneAndAHalf) {
    const Canvas canvas = position_canvas();
    Target t(500, 300);
    present_scaled(canvas.pixels, t.pixels, 500, 300);
    const std::size_t shown[] = {0, 0, 1, 2, 2, 3};
    for (std::uint32_t c = 0; c < 6; ++c) EXPECT_EQ(t.at(10 + c, 0), word(canvas, shown[c], 0));
    EXPECT_EQ(t.at(9, 0), 0u);
    EXPECT_EQ(t.at(490, 0), 0u);
}

TEST(Scaler, TheSinglePixelShowsTheTopLeftCanvasPixel) {
    Canvas canvas = position_canvas();
    canvas.set_pixel(0, 0, Rgb{1, 2, 3});
    Target t(1, 1);
    present_scaled(canvas.pixels, t.pixels, 1, 1);
    EXPECT_EQ(t.at(0, 0), 0x010203u);
}

TEST(Scaler, ReadsOnlyTheColourBytesOfEachPixel) {
    Canvas canvas;
    canvas.pixels[3] = 0x12;  // the fourth byte never reaches the window
    Target t(320, 200);
    present_scaled(canvas.pixels, t.pixels, 320, 200);
    EXPECT_EQ(t.at(0, 0), 0xFFFFFFu);
}

TEST(Scaler, ClearsEntriesBeyondThePictureAndLeavesAShortTargetBlack) {
    const Canvas canvas = position_canvas();
    Target longer(640, 400, 7);
    present_scaled(canvas.pixels, longer.pixels, 640, 400);
    for (std::size_t i = 640 * 400; i < longer.pixels.size(); ++i) EXPECT_EQ(longer.pixels[i], 0u);

    std::vector<std::uint32_t> shorter(10, 0xFFFFFFu);
    present_scaled(canvas.pixels, shorter, 4, 3);
    for (std::uint32_t p : shorter) EXPECT_EQ(p, 0u);
}

TEST(Scaler, AWindowWithoutWidthOrHeightIsClearedAndNothingMore) {
    // A window shrunk to nothing can still hand over a buffer: it only turns black.
    const Canvas canvas = position_canvas();
    for (auto [w, h] : {std::pair{0u, 4u}, {5u, 0u}, {0u, 0u}}) {
        std::vector<std::uint32_t> target(16, 0xFFFFFFu);
        present_scaled(canvas.pixels, target, w, h);
        for (std::uint32_t p : target) EXPECT_EQ(p, 0u) << w << "x" << h;
    }
}

}  // namespace
}  // namespace zobra
