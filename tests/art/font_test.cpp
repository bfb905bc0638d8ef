#include "art/font.h"

#include <gtest/gtest.h>

#include <array>
#include <limits>
#include <set>
#include <string>

#include "support/panic_error.h"

namespace zobra {
namespace {

constexpr Rgb white{255, 255, 255};
constexpr Rgb ink{30, 24, 54};
constexpr Rgb black{0, 0, 0};

// The pixels of the canvas that are no longer white.
std::set<std::pair<int, int>> inked(const Canvas& canvas) {
    std::set<std::pair<int, int>> pixels;
    for (std::size_t y = 0; y < canvas.height; ++y)
        for (std::size_t x = 0; x < canvas.width; ++x)
            if (canvas.pixel(x, y) != white)
                pixels.insert({static_cast<int>(x), static_cast<int>(y)});
    return pixels;
}

// The pixels a picture of "#" and "." marks, placed with its top-left at (x, y).
std::set<std::pair<int, int>> picture(int x, int y, std::initializer_list<const char*> rows) {
    std::set<std::pair<int, int>> pixels;
    int row = 0;
    for (const std::string line : rows) {
        for (std::size_t column = 0; column < line.size(); ++column)
            if (line[column] == '#') pixels.insert({x + static_cast<int>(column), y + row});
        ++row;
    }
    return pixels;
}

TEST(Font, AnAInksExactlyItsSevenRowsFromTheTopLeftOfItsCell) {
    Canvas canvas;
    draw_text(canvas, 10, 20, "A", ink, 1);
    // clang-format off
    EXPECT_EQ(inked(canvas), picture(10, 20, {".###.",
                                              "#...#",
                                              "#...#",
                                              "#####",
                                              "#...#",
                                              "#...#",
                                              "#...#"}));
    // clang-format on
    EXPECT_EQ(canvas.pixel(11, 20), ink);
    EXPECT_EQ(canvas.pixel(13, 20), ink);
    EXPECT_EQ(canvas.pixel(10, 20), white);
}

TEST(Font, TheNextLetterStartsSixPixelsOnLeavingAOnePixelGap) {
    Canvas canvas;
    draw_text(canvas, 10, 20, "AB", ink, 1);
    for (int y = 20; y < 27; ++y) EXPECT_EQ(canvas.pixel(15, static_cast<std::size_t>(y)), white);
    // The B's top row is "11110".
    for (std::size_t x = 16; x < 20; ++x) EXPECT_EQ(canvas.pixel(x, 20), ink);
    EXPECT_EQ(canvas.pixel(20, 20), white);
}

TEST(Font, AScaledLetterTurnsEveryFontPixelIntoASquare) {
    Canvas canvas;
    draw_text(canvas, 3, 5, "-", ink, 4);
    // The dash is the whole fourth row: 20 × 4 pixels from (3, 17).
    std::set<std::pair<int, int>> expected;
    for (int y = 17; y < 21; ++y)
        for (int x = 3; x < 23; ++x) expected.insert({x, y});
    EXPECT_EQ(inked(canvas), expected);
}

TEST(Font, BlanksUnknownCharactersAndLowerCaseLeaveAnEmptyCellOfTheFullAdvance) {
    for (const char* text : {" I", "?I", "aI", "ÄI", "€I"}) {
        Canvas canvas;
        draw_text(canvas, 0, 0, text, ink, 2);
        Canvas expected;
        draw_text(expected, 12, 0, "I", ink, 2);
        EXPECT_EQ(inked(canvas), inked(expected)) << text;
    }
}

TEST(Font, WidthsCountCodePointsWithoutTheTrailingGap) {
    EXPECT_EQ(text_width(""), 0);
    EXPECT_EQ(text_width("A"), 5);
    EXPECT_EQ(text_width("A B"), 17);
    EXPECT_EQ(text_width("PUNKTE "), 41);
    EXPECT_EQ(text_width("Ä"), 5);  // two bytes
    EXPECT_EQ(text_width("MÜDE"), 23);
    EXPECT_EQ(text_width("\xF0\x9F\x92\xA3!"), 11);  // a four-byte character and "!"
}

TEST(Font, MalformedBytesInATypedNameCountAsOneCharacterEachWhereverTheyBreak) {
    EXPECT_EQ(text_width("\xFF"), 5);
    EXPECT_EQ(text_width("\xE2\x82"), 5);       // a cut-off three-byte character
    EXPECT_EQ(text_width("\xE2\x82\x41"), 11);  // the "A" (41) is not swallowed
    EXPECT_EQ(text_width("\xC0\xAF"), 11);      // an overlong slash is two bad bytes
    EXPECT_EQ(text_width("\xED\xA0\x80"), 17);  // a surrogate is three
    Canvas canvas;
    draw_text(canvas, 0, 0, "\xE2\x82\x41", ink, 1);
    Canvas expected;
    draw_text(expected, 6, 0, "A", ink, 1);
    EXPECT_EQ(inked(canvas), inked(expected));
}

TEST(Font, TheTitleIsCentredOnColumn160OverAShadowOneFontPixelAway) {
    Canvas canvas;
    const Rgb gold{250, 204, 48};
    draw_text_centred(canvas, 40, "ZOBRA", gold, 4);
    // w = 4 × 29 = 116, x0 = 160 − 58 = 102; the Z's top row is full.
    EXPECT_EQ(canvas.pixel(102, 40), gold);
    EXPECT_EQ(canvas.pixel(101, 40), white);
    // The shadow starts at (106, 44), where the Z's second row leaves a hole.
    EXPECT_EQ(canvas.pixel(106, 44), black);
    EXPECT_EQ(canvas.pixel(105, 44), white);
    EXPECT_EQ(canvas.pixel(121, 44), gold);
    // Bounding box: the text 116 × 28 from (102, 40), the shadow 4 further.
    int left = 320, right = -1, top = 200, bottom = -1;
    for (const auto& [x, y] : inked(canvas)) {
        left = std::min(left, x);
        right = std::max(right, x);
        top = std::min(top, y);
        bottom = std::max(bottom, y);
    }
    EXPECT_EQ(left, 102);
    EXPECT_EQ(right, 102 + 116 - 1 + 4);
    EXPECT_EQ(top, 40);
    EXPECT_EQ(bottom, 40 + 28 - 1 + 4);
}

TEST(Font, TextRunningOffTheCanvasIsClippedAtAnyDistance) {
    Canvas canvas;
    draw_text(canvas, 318, 198, "A", ink, 1);
    EXPECT_EQ(inked(canvas), (std::set<std::pair<int, int>>{{319, 198}, {318, 199}}));

    Canvas far_away;
    constexpr std::int32_t most = std::numeric_limits<std::int32_t>::max();
    constexpr std::int32_t least = std::numeric_limits<std::int32_t>::min();
    draw_text(far_away, most - 3, most - 3, "WWW", ink, 1000);
    draw_text(far_away, least, least, "WWW", ink, 1000);
    draw_text(far_away, 0, 0, "W", ink, 0);
    draw_text(far_away, 0, 0, "W", ink, -2);
    draw_text_centred(far_away, most, "ZOBRA", ink, most);
    EXPECT_TRUE(inked(far_away).empty());
}

TEST(Font, TextAnywhereInksTheGlyphSquaresOfTheTableWhereTheyFallOnTheCanvas) {
    // Every glyph of the table at scales 1 to 3, wholly inside, touching
    // each edge and half off it, against squares set pixel by pixel.
    std::string all;
    for (const Glyph& glyph : glyph_table) all += static_cast<char>(glyph.code);
    for (const std::int32_t scale : {1, 2, 3})
        for (const auto& [x, y] : {std::pair{2, 3}, {-7, 100}, {300, 190}, {0, 193}, {10, -4}}) {
            Canvas canvas;
            draw_text(canvas, x, y, all, ink, scale);
            Canvas expected;
            for (std::size_t i = 0; i < glyph_table.size(); ++i) {
                const auto rows = glyph_rows(glyph_table[i].rows);
                for (std::int32_t m = 0; m < 7; ++m)
                    for (std::int32_t k = 0; k < 5; ++k)
                        if ((rows[static_cast<std::size_t>(m)] >> (4 - k)) & 1u)
                            for (std::int32_t dy = 0; dy < scale; ++dy)
                                for (std::int32_t dx = 0; dx < scale; ++dx)
                                    expected.set_pixel(
                                        x + (6 * static_cast<std::int32_t>(i) + k) * scale + dx,
                                        y + m * scale + dy, ink);
            }
            ASSERT_EQ(canvas.pixels, expected.pixels)
                << "scale " << scale << " at " << x << "," << y;
        }
}

TEST(Font, EveryGlyphOfTheTableHasSevenRowsOfFiveColumns) {
    std::set<char32_t> codes;
    for (const Glyph& glyph : glyph_table) {
        EXPECT_TRUE(codes.insert(glyph.code).second) << static_cast<unsigned>(glyph.code);
        EXPECT_EQ(glyph.rows.size(), 7u * 6u - 1u) << static_cast<unsigned>(glyph.code);
        for (std::uint8_t row : glyph_rows(glyph.rows)) EXPECT_LT(row, 32u);
    }
    for (char32_t c = U'A'; c <= U'Z'; ++c) EXPECT_TRUE(codes.count(c));
    for (char32_t c = U'0'; c <= U'9'; ++c) EXPECT_TRUE(codes.count(c));
    EXPECT_EQ(glyph_rows(glyph_table[0].rows),
              (std::array<std::uint8_t, 7>{0b01110, 0b10001, 0b10001, 0b11111, 0b10001, 0b10001,
                                           0b10001}));
}

TEST(Font, GlyphRowsAreReadAsBinaryBytes) {
    EXPECT_EQ(glyph_rows("+101 11111111 0 000000000001"),
              (std::array<std::uint8_t, 7>{5, 255, 0, 1, 0, 0, 0}));
}

TEST(Font, AGlyphRowThatIsNotABinaryByteIsAnInternalError) {
    for (const char* rows :
         {"01110 10201", "100000000", "", "1  1", "1 ", "+", "-1", "1 +-1", "0x1", " 1"}) {
        try {
            glyph_rows(rows);
            ADD_FAILURE() << '"' << rows << "\" was accepted";
        } catch (const testing::PanicError& error) {
            EXPECT_NE(std::string(error.what()).find("\nglyph rows are binary"), std::string::npos)
                << error.what();
        }
    }
}

TEST(Font, AGlyphWithAnEighthRowIsAnInternalError) {
    EXPECT_NO_THROW(glyph_rows("1 1 1 1 1 1 1"));
    EXPECT_THROW(glyph_rows("1 1 1 1 1 1 1 1"), testing::PanicError);
}

}  // namespace
}  // namespace zobra
