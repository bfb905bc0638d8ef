#include "art/sprites.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <optional>
#include <span>
#include <string_view>
#include <utility>

#include "art/colour.h"
#include "core/panic.h"

namespace zobra {

namespace {

constexpr int side = 16;  // every sprite is side × side pixels

constexpr Rgb hex(std::uint32_t rrggbb) {
    return {static_cast<std::uint8_t>(rrggbb >> 16), static_cast<std::uint8_t>(rrggbb >> 8),
            static_cast<std::uint8_t>(rrggbb)};
}

// ---------------------------------------------------------------------------
// Text pictures: one character a pixel, "." transparent, any other letter a
// colour of the picture's palette.

using Picture = std::array<std::string_view, side>;
using Legs = std::array<std::string_view, 3>;  // rows 13 … 15 of a walking digger
constexpr std::size_t legs_row = 13;

constexpr Picture digger_front = {{
    "................",
    ".....yyyyyy.....",
    "....yyyWWyyy....",
    "....yyyWWyyy....",
    "...YYYYYYYYYY...",
    "....ssssssss....",
    "....skssssks....",
    "....ssssssss....",
    ".....ssmmss.....",
    "....oooooooo....",
    "...soooOOooos...",
    "...s.oooooo.s...",
    ".....oooooo.....",
    ".....oo..oo.....",
    ".....bb..bb.....",
    "....bbb..bbb....",
}};
constexpr Picture digger_side = {{
    "................",
    ".....yyyyyy.....",
    "....yyyyyyyW....",
    "....yyyyyyyW....",
    "....YYYYYYYYY...",
    ".....sssssss....",
    ".....ssssksss...",
    ".....sssssss....",
    "......sssmm.....",
    ".....ooooo......",
    ".....oosooo.....",
    ".....oossoo.....",
    ".....ooooo......",
    ".....oo.oo......",
    ".....bb.bb......",
    ".....bbbbbb.....",
}};
constexpr Picture mite_a = {{
    "................",
    "................",
    "..k..........k..",
    "...k...kk...k...",
    "....krrrrrrk....",
    "...krRrrrrRrk...",
    ".kkrrrrrrrrrrkk.",
    "...rwkrrrrwkr...",
    "...rkkrrrrkkr...",
    ".kkrrrrrrrrrrkk.",
    "...krrrkkrrrk...",
    "....krrrrrrk....",
    "...k.kkkkkk.k...",
    "..k..........k..",
    "................",
    "................",
}};
constexpr Picture mite_b = {{
    "................",
    "................",
    "................",
    "..kk...kk...kk..",
    "....krrrrrrk....",
    "...krRrrrrRrk...",
    "..krrrrrrrrrrk..",
    ".k.rwkrrrrwkr.k.",
    "...rkkrrrrkkr...",
    "..krrrrrrrrrrk..",
    ".k.krrrkkrrrk.k.",
    "....krrrrrrk....",
    "..kk.kkkkkk.kk..",
    "................",
    "................",
    "................",
}};
constexpr Picture gobbler_a = {{
    "................",
    "....kkkkkkkk....",
    "...kggggggggk...",
    "..kggwkggwkggk..",
    "..kggkkggkkggk..",
    ".kggggggggggggk.",
    ".kgkkkkkkkkkkgk.",
    ".kgkwkwkwkwkkgk.",
    ".kgkttttttttkgk.",
    ".kgkkwkwkwkwkgk.",
    ".kgkkkkkkkkkkgk.",
    ".kggggggggggggk.",
    "..kGGGGGGGGGGk..",
    "...kkGGk.kGGkk..",
    "....kkk...kkk...",
    "................",
}};
constexpr Picture gobbler_b = {{
    "................",
    "....kkkkkkkk....",
    "...kggggggggk...",
    "..kggwkggwkggk..",
    "..kggkkggkkggk..",
    ".kggggggggggggk.",
    ".kggggggggggggk.",
    ".kgkkkkkkkkkkgk.",
    ".kgkwkwkwkwkkgk.",
    ".kgkkkkkkkkkkgk.",
    ".kggggggggggggk.",
    ".kggggggggggggk.",
    "..kGGGGGGGGGGk..",
    "..kkGGk...kGGkk.",
    "...kkk.....kkk..",
    "................",
}};
constexpr Legs front_legs = {{
    ".....oo..oo.....",
    ".....bb..oo.....",
    "....bbb..bbb....",
}};
constexpr Legs side_legs = {{
    "....oo...oo.....",
    "...bb.....bb....",
    "...bbb....bbb...",
}};
constexpr Picture boots = {{
    "................",
    "................",
    "...kkkk..kkkk...",
    "...kwwk..kwwk...",
    "...kbbk..kbbk...",
    "...kbbk..kbbk...",
    "...kbBk..kbBk...",
    "...kbBk..kbBk...",
    "...kbbk..kbbk...",
    "...kbbkk.kbbkk..",
    "...kbbbbkkbbbbk.",
    "...kbbbBkkbbbBk.",
    "...kssssskssssk.",
    "...kkkkkkkkkkkk.",
    "................",
    "................",
}};
constexpr Picture charge = {{
    "................",
    "....kkkkkkkk....",
    "...kbbbbbbbbk...",
    "..kbbbbbybbbbk..",
    ".kbbbbbbfbbbbbk.",
    ".kbbbbbbfbbbwbk.",
    ".kbbbrrrRrrwwwk.",
    ".kbbbrrrRrrbwbk.",
    ".kbbbsssssssbbk.",
    ".kbbbrrrRrrbbbk.",
    ".kbbbrrrRrrbbbk.",
    ".kbbbrrrRrrbbbk.",
    "..kbbbbbbbbbbk..",
    "...kbbbbbbbbk...",
    "....kkkkkkkk....",
    "................",
}};
constexpr Picture reach_a = {{
    "................",
    "....kkkkkkkk....",
    "...krrrrrrrrk...",
    "..krrrrorrrrrk..",
    ".krrrrroorrrrrk.",
    ".krrrrooorrrrrk.",
    ".krrroooyorrrrk.",
    ".krrrooyyoorrrk.",
    ".krrooyyyyoorrk.",
    ".krrooywwyoorrk.",
    ".krrooywwyoorrk.",
    ".krrrooyyoorrrk.",
    "..krrroooorrrk..",
    "...krrrrrrrrk...",
    "....kkkkkkkk....",
    "................",
}};
constexpr Picture reach_b = {{
    "................",
    "....kkkkkkkk....",
    "...krrrrrrrrk...",
    "..krrrrrorrrrk..",
    ".krrrrrroorrrrk.",
    ".krrrrroooorrrk.",
    ".krrrrooyoorrrk.",
    ".krrrooyyyoorrk.",
    ".krrooyyyyoorrk.",
    ".krrooywwyyorrk.",
    ".krrooywwyoorrk.",
    ".krrrooyyoorrrk.",
    "..krrroooorrrk..",
    "...krrrrrrrrk...",
    "....kkkkkkkk....",
    "................",
}};

template <std::size_t rows>
constexpr bool all_rows_full(const std::array<std::string_view, rows>& picture) {
    return std::all_of(picture.begin(), picture.end(),
                       [](std::string_view row) { return row.size() == side; });
}
static_assert(all_rows_full(digger_front) && all_rows_full(digger_side) && all_rows_full(mite_a) &&
              all_rows_full(mite_b) && all_rows_full(gobbler_a) && all_rows_full(gobbler_b) &&
              all_rows_full(front_legs) && all_rows_full(side_legs) && all_rows_full(boots) &&
              all_rows_full(charge) && all_rows_full(reach_a) && all_rows_full(reach_b));

struct Ink {
    char letter;
    Rgb colour;
};

// A letter the palette does not list gets its fallback colour.
struct Palette {
    std::span<const Ink> inks;
    Rgb fallback;

    Rgb colour_of(char letter) const {
        for (const Ink& ink : inks)
            if (ink.letter == letter) return ink.colour;
        return fallback;
    }
};

constexpr std::array mite_inks = {Ink{'R', hex(0xFF9682)}, Ink{'r', hex(0xCE343C)},
                                  Ink{'w', hex(0xFFFFFF)}};
constexpr std::array gobbler_inks = {Ink{'G', hex(0x468C32)}, Ink{'g', hex(0x78C846)},
                                     Ink{'t', hex(0xBE283C)}, Ink{'w', hex(0xFFFFFF)}};
constexpr std::array boots_inks = {Ink{'B', hex(0x96C8FF)}, Ink{'b', hex(0x5696EC)},
                                   Ink{'s', hex(0xE6DCBE)}, Ink{'w', hex(0xF0ECFA)}};
constexpr std::array charge_inks = {Ink{'R', hex(0x961E2C)}, Ink{'b', hex(0x1C2C6E)},
                                    Ink{'f', hex(0xC8BEA0)}, Ink{'r', hex(0xEC5446)},
                                    Ink{'s', hex(0xE6DCBE)}, Ink{'w', hex(0xFFFFEC)},
                                    Ink{'y', hex(0xFFC83C)}};
constexpr std::array reach_inks = {Ink{'o', hex(0xFF8C1E)}, Ink{'r', hex(0x781624)},
                                   Ink{'w', hex(0xFFFFEC)}, Ink{'y', hex(0xFFE26E)}};

constexpr Palette mite_palette{mite_inks, hex(0x2C0E24)};
constexpr Palette gobbler_palette{gobbler_inks, hex(0x142818)};
constexpr Palette boots_palette{boots_inks, hex(0x141A3C)};
constexpr Palette charge_palette{charge_inks, hex(0xFACC30)};
constexpr Palette reach_palette{reach_inks, hex(0xFACC30)};

// The diggers share lamp, skin, eyes, mouth and boots; helmet and suit are
// the player's own.
struct PlayerColours {
    Rgb helmet, brim, suit, suit_shade;
};
constexpr std::array<PlayerColours, 4> player_colours = {{
    {hex(0xFACC30), hex(0xC48C18), hex(0xE86828), hex(0xA03E1C)},
    {hex(0xECEEF8), hex(0x969AB4), hex(0x3A7CE8), hex(0x224EAA)},
    {hex(0xE8544C), hex(0xA02C34), hex(0x46B054), hex(0x26743A)},
    {hex(0x60E8D0), hex(0x289696), hex(0xA660DC), hex(0x6C36A0)},
}};
constexpr Rgb digger_boots = hex(0x463246);

constexpr std::array<Ink, 8> digger_inks(const PlayerColours& player) {
    return {{{'W', hex(0xFFFFEC)},
             {'s', hex(0xF6C496)},
             {'k', hex(0x24182C)},
             {'m', hex(0xAA5046)},
             {'y', player.helmet},
             {'Y', player.brim},
             {'o', player.suit},
             {'O', player.suit_shade}}};
}
constexpr std::array<std::array<Ink, 8>, 4> digger_palettes = {
    digger_inks(player_colours[0]), digger_inks(player_colours[1]), digger_inks(player_colours[2]),
    digger_inks(player_colours[3])};

using Letters = std::array<std::array<char, side>, side>;

Letters letters_of(const Picture& picture) {
    Letters letters{};
    for (std::size_t y = 0; y < side; ++y)
        std::copy(picture[y].begin(), picture[y].end(), letters[y].begin());
    return letters;
}

Sprite paint(const Letters& letters, const Palette& palette) {
    Sprite sprite;
    sprite.pixels.reserve(side * side);
    for (const auto& row : letters)
        for (const char letter : row)
            sprite.pixels.push_back(letter == '.' ? std::nullopt
                                                  : std::optional<Rgb>(palette.colour_of(letter)));
    return sprite;
}

Sprite paint(const Picture& picture, const Palette& palette) {
    return paint(letters_of(picture), palette);
}

// A digger seen from behind has no face, no lamp and no suit shading.
char back_view(char letter) {
    switch (letter) {
        case 'O':
            return 'o';
        case 'k':
        case 'm':
            return 's';
        case 'W':
            return 'y';
        default:
            return letter;
    }
}

Sprite digger_sprite(Dir facing, std::uint8_t player, std::uint8_t frame) {
    const bool sideways = facing == Dir::Left || facing == Dir::Right;
    Letters letters = letters_of(sideways ? digger_side : digger_front);
    if (frame == 1) {
        const Legs& legs = sideways ? side_legs : front_legs;
        for (std::size_t i = 0; i < legs.size(); ++i)
            std::copy(legs[i].begin(), legs[i].end(), letters[legs_row + i].begin());
    }
    if (facing == Dir::Up)
        for (auto& row : letters) std::transform(row.begin(), row.end(), row.begin(), back_view);
    // The side picture faces right, lamp forward.
    if (facing == Dir::Left)
        for (auto& row : letters) std::reverse(row.begin(), row.end());
    return paint(letters, Palette{digger_palettes[player % 4u], digger_boots});
}

// ---------------------------------------------------------------------------
// Generated pictures: a rule gives each pixel's colour (or none) from its
// column x and row y. X and Y are the offsets from the centre, 32-bit floats
// like every distance and blend below.

using Pixel = std::optional<Rgb>;

template <typename Rule>
Sprite generate(Rule rule) {
    Sprite sprite;
    sprite.pixels.reserve(side * side);
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x) sprite.pixels.push_back(rule(x, y));
    return sprite;
}

float from_centre(int v) { return static_cast<float>(v) - 7.5f; }

std::uint32_t hashed(int x, int y, std::uint32_t seed) {
    return noise(static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(y), seed);
}

// The dug-out ground behind everything: dark with a few lighter specks.
Sprite floor_sprite() {
    return generate([](int x, int y) -> Pixel {
        const std::uint32_t n = hashed(x, y, 1);
        if (n < 6) return hex(0x1E1836);
        if (n > 40) return hex(0x0E0B1C);
        return shade(hex(0x0E0B1C), 115);
    });
}

constexpr Rgb earth = hex(0x925C30);

Sprite dirt_sprite() {
    return generate([](int x, int y) -> Pixel {
        const std::uint32_t n = hashed(x, y, 2);
        if (n < 15) return hex(0xCE985C);
        if (n < 71) return shade(earth, 82);
        if (n > 120) return earth;
        return shade(earth, 112);
    });
}

// Courses of four rows, the joints of alternate courses offset by half a
// brick; each brick gets its own shade, lighter on its top row.
Sprite brick_sprite() {
    return generate([](int x, int y) -> Pixel {
        if (y % 4 == 3 || (x + (y & 4)) % 8 == 7) return hex(0x34243E);
        const int course = y / 4;
        const int brick = 3 * course + x / 8;
        const std::uint32_t n = hashed(brick, course, 3) % 16;
        return shade(hex(0xA85260), (y % 4 == 0 ? 114u : 92u) + n);
    });
}

// A plate lit from the top left, with four rivets and their shadows.
Sprite steel_sprite() {
    return generate([](int x, int y) -> Pixel {
        const auto at = [x, y](std::initializer_list<std::pair<int, int>> points) {
            return std::find(points.begin(), points.end(), std::pair{x, y}) != points.end();
        };
        std::uint32_t percent = 94 + hashed(x, y, 4) % 12;
        if (x == 0 || y == 0)
            percent = 150;
        else if (x == 15 || y == 15)
            percent = 48;
        else if (at({{3, 3}, {12, 3}, {3, 12}, {12, 12}}))
            percent = 170;
        else if (at({{4, 4}, {13, 4}, {4, 13}, {13, 13}}))
            percent = 55;
        return shade(hex(0x687494), percent);
    });
}

// A cut gem, light facets on the left, with a glint that wanders across it
// and leaves it for the last two phases.
Sprite crystal_sprite(std::uint8_t phase) {
    constexpr std::array<std::pair<int, int>, 6> glints = {
        {{-2, -4}, {-1, -2}, {1, 0}, {2, 2}, {9, 9}, {9, 9}}};
    const int gx = glints[phase % 6u].first;
    const int gy = glints[phase % 6u].second;
    return generate([gx, gy](int x, int y) -> Pixel {
        const float cx = from_centre(x);
        const float cy = from_centre(y);
        const float ax = std::abs(cx);
        const float k = ax / 6.6f + std::abs(cy) / 7.6f;
        if (ax > 5.6f || k > 1.0f) return std::nullopt;
        if (ax > 4.6f || k > 0.84f) return hex(0x0A4654);
        if (std::abs(cx - static_cast<float>(gx)) < 1.0f &&
            std::abs(cy - static_cast<float>(gy)) < 1.0f)
            return hex(0xFFFFFF);
        if (cx < 0.0f)
            return cy < -1.5f ? hex(0xBEFFF0) : cy > 2.5f ? hex(0x1C9696) : hex(0x40D6C4);
        return cy < -1.5f ? hex(0x60E8D0) : cy > 2.5f ? hex(0x106C7A) : hex(0x28B0AA);
    });
}

// The hatch's frame, lit on the top and left edges; inside it either a
// grating or a glow.
constexpr Rgb hatch_frame = hex(0x56607E);

template <typename Inside>
Sprite hatch_sprite(Inside inside) {
    return generate([inside](int x, int y) -> Pixel {
        const int edge = std::min({x, y, 15 - x, 15 - y});
        if (edge == 0) return shade(hatch_frame, x == 0 || y == 0 ? 150 : 50);
        if (edge == 1) return hatch_frame;
        if (edge == 2) return shade(hatch_frame, 45);
        return inside(x, y);
    });
}

Sprite hatch_shut_sprite() {
    return hatch_sprite([](int, int y) { return y % 3 == 0 ? hex(0x423E58) : hex(0x221E34); });
}

// A glow that swells and shrinks over the four pulses.
Sprite hatch_open_sprite(std::uint8_t pulse) {
    constexpr std::array<float, 4> swells = {0.0f, 0.5f, 1.0f, 0.5f};
    const float reach = 2.5f * swells[pulse % 4u] + 5.0f;
    return hatch_sprite([reach](int x, int y) {
        const float cx = from_centre(x);
        const float cy = from_centre(y);
        const float t = 1.0f - std::sqrt(cx * cx + cy * cy) / reach + 0.25f;
        return mix(hex(0xE67814), hex(0xFFFCC8), t);
    });
}

// A ghost-like glow, narrower above its middle, with a ragged rim that
// changes every frame and two dark eyes.
Sprite wisp_sprite(std::uint8_t frame) {
    constexpr std::array<float, 4> breaths = {0.0f, 0.6f, 1.0f, 0.6f};
    const float width = breaths[frame % 4u] + 5.6f;
    const std::uint32_t seed = 6u + frame % 4u;
    return generate([width, seed](int x, int y) -> Pixel {
        const float cx = from_centre(x);
        const float cy = from_centre(y);
        const float w2 = width - 0.45f * std::max(-cy, 0.0f);
        const float r = std::sqrt(cx * cx / (w2 * w2) + cy * cy / 49.0f);
        const auto n = static_cast<float>(hashed(x, y, seed));
        if (r > 1.0f - 0.22f * n / 255.0f) return std::nullopt;
        if (std::abs(cy - 0.5f) < 1.0f && std::abs(std::abs(cx) - 2.5f) < 1.0f)
            return hex(0x280A46);
        return mix(hex(0xFFFAFF), hex(0xD646EB), 1.25f * r - 0.1f);
    });
}

// A fireball that shrinks and darkens from stage 0 to the last puff.
Sprite blast_sprite(std::uint8_t stage) {
    struct Fire {
        Rgb inner, outer;
        float radius;
    };
    constexpr std::array<Fire, 4> fires = {{
        {hex(0xFFFFFF), hex(0xFFEC78), 11.5f},
        {hex(0xFFF4A0), hex(0xFF961E), 10.0f},
        {hex(0xFFAA28), hex(0xC83214), 8.0f},
        {hex(0xD2461E), hex(0x5A1E28), 5.5f},
    }};
    const std::uint8_t last = std::min<std::uint8_t>(stage, 3);
    const Fire fire = fires[last];
    return generate([fire, last](int x, int y) -> Pixel {
        const float cx = from_centre(x);
        const float cy = from_centre(y);
        const float d = std::sqrt(cx * cx + cy * cy) +
                        3.0f * static_cast<float>(hashed(x, y, 20u + last)) / 255.0f;
        if (d < fire.radius) return mix(fire.inner, fire.outer, d / fire.radius);
        return std::nullopt;
    });
}

// A bundle of three sticks of dynamite with a paper band, its cord burning.
Sprite fuse_sprite(std::uint8_t flicker) {
    using Points = std::array<std::pair<int, int>, 4>;
    constexpr std::array<Points, 2> sparks = {{
        {{{8, 1}, {7, 2}, {9, 2}, {8, 0}}},
        {{{8, 2}, {6, 1}, {10, 1}, {8, 1}}},
    }};
    const int lit = flicker & 1;
    return generate([lit, &sparks](int x, int y) -> Pixel {
        const Points& spark = sparks[static_cast<std::size_t>(lit)];
        if (std::find(spark.begin(), spark.end(), std::pair{x, y}) != spark.end())
            return (x + y + lit) % 2 == 0 ? hex(0xFFFFDC) : hex(0xFFAA28);
        if (x == 8 && y >= 2 && y <= 4) return hex(0xC8BEA0);
        if (y < 5 || y > 14 || x < 3 || x > 12) return std::nullopt;
        if (x % 4 == 2) return hex(0x461018);
        if (y == 9 || y == 10) return hex(0xE6DCBE);
        switch (x % 4) {
            case 3:
                return hex(0xEC5446);
            case 0:
                return hex(0xCE3034);
            default:
                return hex(0x961E2C);
        }
    });
}

}  // namespace

Sprite build_sprite(const SpriteKey& key) {
    const std::uint8_t v = key.variant;
    switch (key.kind) {
        case SpriteKind::Digger:
            return digger_sprite(key.facing, key.player, v);
        case SpriteKind::Floor:
            return floor_sprite();
        case SpriteKind::Dirt:
            return dirt_sprite();
        case SpriteKind::Brick:
            return brick_sprite();
        case SpriteKind::Steel:
            return steel_sprite();
        case SpriteKind::Crystal:
            return crystal_sprite(v);
        case SpriteKind::HatchShut:
            return hatch_shut_sprite();
        case SpriteKind::HatchOpen:
            return hatch_open_sprite(v);
        case SpriteKind::Mite:
            return paint(v & 1 ? mite_b : mite_a, mite_palette);
        case SpriteKind::Wisp:
            return wisp_sprite(v);
        case SpriteKind::Blast:
            return blast_sprite(v);
        case SpriteKind::Fuse:
            return fuse_sprite(v);
        case SpriteKind::Gobbler:
            return paint(v & 1 ? gobbler_b : gobbler_a, gobbler_palette);
        case SpriteKind::Boots:
            return paint(boots, boots_palette);
        case SpriteKind::Charge:
            return paint(charge, charge_palette);
        case SpriteKind::Reach:
            return paint(v & 1 ? reach_b : reach_a, reach_palette);
    }
    panic("sprite kind out of range");
}

SpriteSet build_sprite_set() {
    SpriteSet set;
    const auto add = [&set](const SpriteKey& key) { set.sprites.emplace(key, build_sprite(key)); };
    for (const Dir facing : {Dir::Up, Dir::Right, Dir::Down, Dir::Left})
        for (std::uint8_t player = 0; player < 4; ++player)
            for (std::uint8_t frame = 0; frame < 2; ++frame)
                add(SpriteKey::digger(facing, player, frame));
    for (const SpriteKey& key :
         {SpriteKey::floor(), SpriteKey::dirt(), SpriteKey::brick(), SpriteKey::steel(),
          SpriteKey::hatch_shut(), SpriteKey::boots(), SpriteKey::charge()})
        add(key);
    for (std::uint8_t i = 0; i < 6; ++i) add(SpriteKey::crystal(i));
    for (std::uint8_t i = 0; i < 4; ++i) {
        add(SpriteKey::hatch_open(i));
        add(SpriteKey::wisp(i));
        add(SpriteKey::blast(i));
    }
    for (std::uint8_t i = 0; i < 2; ++i) {
        add(SpriteKey::mite(i));
        add(SpriteKey::gobbler(i));
        add(SpriteKey::fuse(i));
        add(SpriteKey::reach(i));
    }
    return set;
}

const Sprite& lookup_sprite(const SpriteSet& set, const SpriteKey& key) {
    const auto found = set.sprites.find(key);
    if (found == set.sprites.end()) panic("no entry found for key");
    return found->second;
}

}  // namespace zobra
