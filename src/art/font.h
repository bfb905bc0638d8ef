#pragma once
// The game's only lettering: a 5 × 7 bitmap font of capitals, digits and a
// little punctuation, drawn as scale × scale squares so that one table serves
// the heads-up display and the title alike.

#include <array>
#include <cstdint>
#include <string_view>

#include "art/canvas.h"

namespace zobra {

// One letter of the font: its code point and its seven rows as text, top row
// first, "1" for ink, the leftmost digit the leftmost pixel.
struct Glyph {
    char32_t code;
    std::string_view rows;
};

// The 46 glyphs, searched front to back; anything missing is an empty cell.
extern const std::array<Glyph, 46> glyph_table;

// The row values of a glyph's text (bit 4 is the leftmost pixel). A piece that
// is not a binary number below 256, or an eighth piece, is an internal error.
std::array<std::uint8_t, 7> glyph_rows(std::string_view rows);

// Draws UTF-8 text left to right from the top-left of its first cell; every
// code point, drawn or not, advances the pen by 6 × scale.
void draw_text(Canvas& canvas, std::int32_t x, std::int32_t y, std::string_view text, Rgb colour,
               std::int32_t scale);

// The width at scale 1 without the trailing gap: 6 n − 1 for n code points, 0 when empty.
std::int32_t text_width(std::string_view text);

// Draws the text centred on the canvas's middle column over a black shadow
// offset by one font pixel down and to the right.
void draw_text_centred(Canvas& canvas, std::int32_t y, std::string_view text, Rgb colour,
                       std::int32_t scale);

}  // namespace zobra
