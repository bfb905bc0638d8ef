#include "game/scaler.h"

#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "art/canvas.h"
#include "core/arena.h"

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

// The property tests draw from the rules' own generator.

// Paints a few random rectangles, lines or single pixels, or nothing.
void scribble(Canvas& canvas, Rng& dice) {
    const std::uint32_t strokes = dice.below(4);
    for (std::uint32_t i = 0; i < strokes; ++i) {
        const Rgb colour{static_cast<std::uint8_t>(dice.below(256)),
                         static_cast<std::uint8_t>(dice.below(256)),
                         static_cast<std::uint8_t>(dice.below(256))};
        const auto x = static_cast<std::int32_t>(dice.below(330)) - 5;
        const auto y = static_cast<std::int32_t>(dice.below(210)) - 5;
        switch (dice.below(3)) {
            case 0:
                canvas.set_pixel(x, y, colour);
                break;
            case 1:
                canvas.fill_rect(x, y, static_cast<std::int32_t>(dice.below(40)) + 1,
                                 static_cast<std::int32_t>(dice.below(40)) + 1, colour);
                break;
            default:
                canvas.fill_rect(0, y, 320, 1, colour);
                break;
        }
    }
}

TEST(ScreenPicture, AlwaysShowsWhatAFullPictureShowsAndNamesEveryPixelItChanged) {
    const std::pair<std::uint32_t, std::uint32_t> sizes[] = {{960, 600}, {500, 300},  {100, 100},
                                                             {1, 1},     {333, 777},  {1000, 600},
                                                             {641, 401}, {1600, 1000}};
    for (std::uint64_t seed = 1; seed <= 6; ++seed) {
        Rng dice{seed * 0x9E3779B97F4A7C15ull};
        Canvas canvas = position_canvas();
        ScreenPicture screen;
        // Plain variables, not a structured binding: clang 14 lambdas cannot capture those.
        std::uint32_t w = 0;
        std::uint32_t h = 0;
        std::tie(w, h) = sizes[dice.below(std::size(sizes))];
        std::vector<std::uint32_t> target(std::size_t{w} * h, 0x123456u);
        bool must_redraw_all = true;
        for (int frame = 0; frame < 40; ++frame) {
            switch (dice.below(12)) {
                case 0: {  // the window takes another size: a new buffer
                    const auto old = std::pair{w, h};
                    while (std::pair{w, h} == old)
                        std::tie(w, h) = sizes[dice.below(std::size(sizes))];
                    target.assign(std::size_t{w} * h, 0x654321u);
                    must_redraw_all = true;
                    break;
                }
                case 1:  // a new buffer of the same size, which the caller knows of
                    target.assign(target.size(), 0x777777u);
                    screen.forget();
                    must_redraw_all = true;
                    break;
                default:
                    break;
            }
            scribble(canvas, dice);
            const std::vector<std::uint32_t> before = target;
            const std::vector<PixelRect> changed = [&] {
                const auto rects = screen.update(canvas.pixels, target, w, h);
                return std::vector<PixelRect>(rects.begin(), rects.end());
            }();

            std::vector<std::uint32_t> expected(target.size());
            present_scaled(canvas.pixels, expected, w, h);
            ASSERT_EQ(target, expected) << "seed " << seed << " frame " << frame;
            if (must_redraw_all) {
                ASSERT_EQ(changed, (std::vector<PixelRect>{PixelRect{0, 0, w, h}}));
                must_redraw_all = false;
                continue;
            }
            // Every rectangle lies in the target, none overlaps another, and
            // together they hold every pixel that changed.
            std::vector<std::uint8_t> covered(target.size(), 0);
            for (const PixelRect& r : changed) {
                ASSERT_TRUE(r.w > 0 && r.h > 0 && r.x + r.w <= w && r.y + r.h <= h);
                for (std::uint32_t y = r.y; y < r.y + r.h; ++y)
                    for (std::uint32_t x = r.x; x < r.x + r.w; ++x)
                        ASSERT_EQ(covered[std::size_t{y} * w + x]++, 0) << "overlap at " << x;
            }
            for (std::size_t i = 0; i < target.size(); ++i) {
                if (target[i] != before[i]) {
                    ASSERT_TRUE(covered[i]) << "pixel " << i % w << "," << i / w << " not named";
                }
            }
        }
    }
}

TEST(ScreenPicture, AStillCanvasSendsNothingAndOnePixelSendsItsCell) {
    Canvas canvas = position_canvas();
    ScreenPicture screen;
    std::vector<std::uint32_t> target(960 * 600);
    EXPECT_EQ(screen.update(canvas.pixels, target, 960, 600).size(), 1u);
    EXPECT_TRUE(screen.update(canvas.pixels, target, 960, 600).empty());

    // Canvas pixel (17, 9) lies in the cell of columns 16 … 31 and rows
    // 8 … 15, three window pixels to a canvas pixel.
    canvas.set_pixel(17, 9, Rgb{1, 2, 3});
    const auto changed = screen.update(canvas.pixels, target, 960, 600);
    ASSERT_EQ(changed.size(), 1u);
    EXPECT_EQ(changed[0], (PixelRect{48, 24, 48, 24}));
    EXPECT_EQ(target[std::size_t{27} * 960 + 51], 0x010203u);

    // With bars (1000 × 600 shows 960 × 600 from column 20) the cell moves along.
    screen.update(canvas.pixels, target, 1000, 600);  // a new size: target too short
    std::vector<std::uint32_t> wider(1000 * 600);
    screen.update(canvas.pixels, wider, 1000, 600);
    canvas.set_pixel(319, 199, Rgb{9, 9, 9});
    const auto corner = screen.update(canvas.pixels, wider, 1000, 600);
    ASSERT_EQ(corner.size(), 1u);
    EXPECT_EQ(corner[0], (PixelRect{20 + 912, 576, 48, 24}));
}

TEST(ScreenPicture, ChangesAllOverAreSentAsFewWholeRows) {
    // A checkerboard of changed cells would be 250 rectangles: rows of cells
    // go instead, joined where they touch.
    Canvas canvas = position_canvas();
    ScreenPicture screen;
    std::vector<std::uint32_t> target(640 * 400);
    screen.update(canvas.pixels, target, 640, 400);
    for (std::int32_t y = 0; y < 200; y += 8)
        for (std::int32_t x = (y / 8) % 2 * 16; x < 320; x += 32)
            canvas.set_pixel(x, y, Rgb{7, 7, 7});
    const auto changed = screen.update(canvas.pixels, target, 640, 400);
    ASSERT_EQ(changed.size(), 1u);
    EXPECT_EQ(changed[0], (PixelRect{0, 0, 640, 400}));
}
}  // namespace
}  // namespace zobra
