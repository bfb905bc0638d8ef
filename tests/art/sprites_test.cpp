#include "art/sprites.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "support/panic_error.h"

namespace zobra {
namespace {

constexpr Rgb hex(std::uint32_t rrggbb) {
    return {static_cast<std::uint8_t>(rrggbb >> 16), static_cast<std::uint8_t>(rrggbb >> 8),
            static_cast<std::uint8_t>(rrggbb)};
}

using Point = std::pair<int, int>;

std::optional<Rgb> at(const Sprite& sprite, int x, int y) {
    return sprite.at(static_cast<std::size_t>(x), static_cast<std::size_t>(y));
}

std::set<Point> differences(const Sprite& a, const Sprite& b) {
    std::set<Point> points;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x)
            if (at(a, x, y) != at(b, x, y)) points.insert({x, y});
    return points;
}

std::set<Point> pixels_of(const Sprite& sprite, Rgb colour) {
    std::set<Point> points;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x)
            if (at(sprite, x, y) == colour) points.insert({x, y});
    return points;
}

bool opaque(const Sprite& sprite) {
    return std::all_of(sprite.pixels.begin(), sprite.pixels.end(),
                       [](const std::optional<Rgb>& pixel) { return pixel.has_value(); });
}

std::size_t transparent_count(const Sprite& sprite) {
    return static_cast<std::size_t>(
        std::count(sprite.pixels.begin(), sprite.pixels.end(), std::nullopt));
}

constexpr std::array<Dir, 4> facings = {Dir::Up, Dir::Right, Dir::Down, Dir::Left};

// ---------------------------------------------------------------------------
// The set and its lookup

// The set, one row of keys per kind, as the sprite sheet lays it out.
std::vector<std::vector<SpriteKey>> sheet_rows() {
    std::vector<std::vector<SpriteKey>> rows;
    for (Dir facing : facings) {
        rows.emplace_back();
        for (std::uint8_t player = 0; player < 4; ++player)
            for (std::uint8_t frame = 0; frame < 2; ++frame)
                rows.back().push_back(SpriteKey::digger(facing, player, frame));
    }
    rows.push_back({SpriteKey::floor(), SpriteKey::dirt(), SpriteKey::brick(), SpriteKey::steel(),
                    SpriteKey::hatch_shut(), SpriteKey::hatch_open(0), SpriteKey::hatch_open(1),
                    SpriteKey::hatch_open(2), SpriteKey::hatch_open(3)});
    rows.push_back({SpriteKey::crystal(0), SpriteKey::crystal(1), SpriteKey::crystal(2),
                    SpriteKey::crystal(3), SpriteKey::crystal(4), SpriteKey::crystal(5),
                    SpriteKey::boots(), SpriteKey::charge()});
    rows.push_back({SpriteKey::mite(0), SpriteKey::mite(1), SpriteKey::wisp(0), SpriteKey::wisp(1),
                    SpriteKey::wisp(2), SpriteKey::wisp(3), SpriteKey::gobbler(0),
                    SpriteKey::gobbler(1)});
    rows.push_back({SpriteKey::blast(0), SpriteKey::blast(1), SpriteKey::blast(2),
                    SpriteKey::blast(3), SpriteKey::fuse(0), SpriteKey::fuse(1),
                    SpriteKey::reach(0), SpriteKey::reach(1)});
    return rows;
}

TEST(SpriteSet, HoldsExactlyTheSixtyFiveSpritesTheGameDraws) {
    const SpriteSet set = build_sprite_set();
    std::set<SpriteKey> keys;
    for (const auto& row : sheet_rows()) keys.insert(row.begin(), row.end());
    ASSERT_EQ(keys.size(), 65u);
    EXPECT_EQ(set.sprites.size(), 65u);
    for (const SpriteKey& key : keys) {
        const Sprite& sprite = lookup_sprite(set, key);
        EXPECT_EQ(sprite.width, 16u);
        EXPECT_EQ(sprite.height, 16u);
        EXPECT_EQ(sprite.pixels.size(), 256u);
        EXPECT_EQ(sprite, build_sprite(key)) << "the same key builds the same pixels";
    }
}

TEST(SpriteSet, LookingUpAKeyOutsideTheSetIsAnInternalError) {
    const SpriteSet set = build_sprite_set();
    for (SpriteKey key : {SpriteKey::mite(2), SpriteKey::crystal(6), SpriteKey::blast(4),
                          SpriteKey::digger(Dir::Down, 4, 0), SpriteKey::digger(Dir::Down, 0, 2),
                          SpriteKey{SpriteKind::Floor, 1}}) {
        try {
            lookup_sprite(set, key);
            ADD_FAILURE() << "a key outside the set was found";
        } catch (const testing::PanicError& error) {
            EXPECT_NE(std::string(error.what()).find(":\nno entry found for key"),
                      std::string::npos)
                << error.what();
        }
    }
}

// ---------------------------------------------------------------------------
// Tiles

TEST(Sprites, TileSpritesCoverTheirWholeCell) {
    for (SpriteKey key :
         {SpriteKey::floor(), SpriteKey::dirt(), SpriteKey::brick(), SpriteKey::steel(),
          SpriteKey::hatch_shut(), SpriteKey::hatch_open(0), SpriteKey::hatch_open(1),
          SpriteKey::hatch_open(2), SpriteKey::hatch_open(3)})
        EXPECT_TRUE(opaque(build_sprite(key))) << static_cast<int>(key.kind);
}

TEST(Sprites, TheFloorIsDarkWithFewLighterSpecks) {
    const Sprite floor = build_sprite(SpriteKey::floor());
    EXPECT_EQ(at(floor, 7, 5), hex(0x1E1836));  // noise 3
    EXPECT_EQ(at(floor, 0, 0), hex(0x100C20));  // noise 19: #0E0B1C at 115 %
    EXPECT_EQ(at(floor, 2, 0), hex(0x0E0B1C));  // noise 107
    EXPECT_EQ(pixels_of(floor, hex(0x1E1836)).size(), 8u);
    EXPECT_EQ(pixels_of(floor, hex(0x100C20)).size(), 35u);
}

TEST(Sprites, DirtIsShadedByItsNoiseBands) {
    const Sprite dirt = build_sprite(SpriteKey::dirt());
    EXPECT_EQ(at(dirt, 5, 1), hex(0xCE985C));  // noise 4
    EXPECT_EQ(at(dirt, 0, 0), hex(0x774B27));  // noise 70: 82 %
    EXPECT_EQ(at(dirt, 3, 0), hex(0xA36735));  // noise 89: 112 %
    EXPECT_EQ(at(dirt, 0, 8), hex(0xA36735));  // noise 120 is not above 120
    EXPECT_EQ(at(dirt, 1, 0), hex(0x925C30));  // noise 130
}

TEST(Sprites, BricksAreLaidInOffsetCoursesWithTheirOwnShades) {
    const Sprite brick = build_sprite(SpriteKey::brick());
    std::set<Point> mortar;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) {
            const int joint = (y / 4) % 2 == 0 ? 7 : 3;
            if (y % 4 == 3 || x % 8 == joint) mortar.insert({x, y});
        }
    EXPECT_EQ(pixels_of(brick, hex(0x34243E)), mortar);
    EXPECT_EQ(at(brick, 0, 0), hex(0xD56879));    // brick 0: 114 + 13 %
    EXPECT_EQ(at(brick, 8, 0), hex(0xC96273));    // brick 1: 114 + 6 %
    EXPECT_EQ(at(brick, 6, 2), hex(0xB05664));    // brick 0 below its top row: 92 + 13 %
    EXPECT_EQ(at(brick, 3, 4), hex(0x34243E));    // the offset joint
    EXPECT_EQ(at(brick, 2, 4), hex(0xCB6374));    // brick 3: 114 + 7 %
    EXPECT_EQ(at(brick, 15, 14), hex(0x9A4B58));  // brick 10: 92 + 0 %
}

TEST(Sprites, SteelHasBevelledEdgesAndFourRivetsWithShadows) {
    const Sprite steel = build_sprite(SpriteKey::steel());
    const Rgb lit = hex(0x9CAEDE);       // 150 %
    const Rgb shadowed = hex(0x313747);  // 48 %
    EXPECT_EQ(pixels_of(steel, hex(0xB0C5FB)),
              (std::set<Point>{{3, 3}, {12, 3}, {3, 12}, {12, 12}}));
    EXPECT_EQ(pixels_of(steel, hex(0x393F51)),
              (std::set<Point>{{4, 4}, {13, 4}, {4, 13}, {13, 13}}));
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(at(steel, i, 0), lit);
        EXPECT_EQ(at(steel, 0, i), lit);
    }
    for (int i = 1; i < 16; ++i) {
        EXPECT_EQ(at(steel, i, 15), shadowed);
        EXPECT_EQ(at(steel, 15, i), shadowed);
    }
    EXPECT_EQ(at(steel, 1, 1), hex(0x6B7798));    // 94 + 9 %
    EXPECT_EQ(at(steel, 14, 14), hex(0x64708F));  // 94 + 3 %
    EXPECT_EQ(at(steel, 7, 7), hex(0x657191));    // 94 + 4 %
}

TEST(Sprites, TheHatchFrameIsLitOnTopAndLeftAroundAGrating) {
    const Sprite hatch = build_sprite(SpriteKey::hatch_shut());
    EXPECT_EQ(at(hatch, 0, 0), hex(0x8190BD));
    EXPECT_EQ(at(hatch, 15, 0), hex(0x8190BD));
    EXPECT_EQ(at(hatch, 0, 15), hex(0x8190BD));
    EXPECT_EQ(at(hatch, 15, 15), hex(0x2B303F));
    EXPECT_EQ(at(hatch, 7, 15), hex(0x2B303F));
    EXPECT_EQ(at(hatch, 1, 1), hex(0x56607E));
    EXPECT_EQ(at(hatch, 2, 5), hex(0x262B38));
    EXPECT_EQ(at(hatch, 3, 3), hex(0x423E58));
    EXPECT_EQ(at(hatch, 3, 4), hex(0x221E34));
    EXPECT_EQ(at(hatch, 7, 6), hex(0x423E58));
    EXPECT_EQ(at(hatch, 12, 12), hex(0x423E58));
}

TEST(Sprites, TheOpenHatchGlowsInsideTheSameFrameAndSwellsOverFourPulses) {
    const Sprite shut = build_sprite(SpriteKey::hatch_shut());
    std::vector<Sprite> open;
    for (std::uint8_t pulse = 0; pulse < 5; ++pulse)
        open.push_back(build_sprite(SpriteKey::hatch_open(pulse)));
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x)
            if (std::min({x, y, 15 - x, 15 - y}) < 3) {
                EXPECT_EQ(at(open[0], x, y), at(shut, x, y));
            }
    EXPECT_EQ(at(open[0], 7, 7), hex(0xFFFCC8));
    // Pulse 0: 228.997 and 82.003 truncate to 228 and 82.
    EXPECT_EQ(at(open[0], 6, 6), (Rgb{250, 228, 168}));
    EXPECT_EQ(at(open[0], 7, 3), (Rgb{238, 165, 82}));
    EXPECT_EQ(at(open[1], 6, 6), (Rgb{252, 240, 183}));
    EXPECT_EQ(at(open[2], 6, 6), (Rgb{254, 247, 194}));
    EXPECT_EQ(at(open[2], 3, 7), (Rgb{246, 205, 136}));
    EXPECT_EQ(open[1], open[3]);
    EXPECT_EQ(open[0], open[4]);
    EXPECT_NE(open[0], open[1]);
}

// ---------------------------------------------------------------------------
// The crystal

TEST(Sprites, TheCrystalIsAGemOfSixFacetsWithAnOutline) {
    const Sprite gem = build_sprite(SpriteKey::crystal(4));
    const char* const shape[16] = {
        "................", ".......oo.......", "......o##o......", ".....o####o.....",
        "....o######o....", "....o######o....", "...o########o...", "..o##########o..",
        "..o##########o..", "...o########o...", "....o######o....", "....o######o....",
        ".....o####o.....", "......o##o......", ".......oo.......", "................"};
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) {
            const char expected = shape[y][x];
            const std::optional<Rgb> pixel = at(gem, x, y);
            const bool outline = pixel == hex(0x0A4654);
            EXPECT_EQ(expected == '.', !pixel) << x << ',' << y;
            EXPECT_EQ(expected == 'o', outline) << x << ',' << y;
        }
    // (5, 4) lies just inside the outline (k = 0.8393), (4, 4) just inside the gem (k = 0.9908).
    EXPECT_EQ(at(gem, 5, 4), hex(0xBEFFF0));
    EXPECT_EQ(at(gem, 10, 4), hex(0x60E8D0));
    EXPECT_EQ(at(gem, 5, 11), hex(0x1C9696));
    EXPECT_EQ(at(gem, 10, 11), hex(0x106C7A));
    EXPECT_EQ(at(gem, 4, 4), hex(0x0A4654));
    EXPECT_EQ(at(gem, 7, 6), hex(0x40D6C4));   // Y = −1.5 is not above the middle band
    EXPECT_EQ(at(gem, 8, 10), hex(0x28B0AA));  // Y = 2.5 is not below it
    EXPECT_EQ(at(gem, 8, 11), hex(0x106C7A));
}

TEST(Sprites, TheCrystalsGlintWandersAcrossTheGemAndLeavesIt) {
    const Rgb white = hex(0xFFFFFF);
    EXPECT_EQ(pixels_of(build_sprite(SpriteKey::crystal(0)), white),
              (std::set<Point>{{6, 3}, {5, 4}, {6, 4}}));
    EXPECT_EQ(pixels_of(build_sprite(SpriteKey::crystal(1)), white),
              (std::set<Point>{{6, 5}, {7, 5}, {6, 6}, {7, 6}}));
    EXPECT_EQ(pixels_of(build_sprite(SpriteKey::crystal(2)), white),
              (std::set<Point>{{8, 7}, {9, 7}, {8, 8}, {9, 8}}));
    EXPECT_EQ(pixels_of(build_sprite(SpriteKey::crystal(3)), white),
              (std::set<Point>{{9, 9}, {10, 9}, {9, 10}, {10, 10}}));
    EXPECT_TRUE(pixels_of(build_sprite(SpriteKey::crystal(4)), white).empty());
    EXPECT_EQ(build_sprite(SpriteKey::crystal(4)), build_sprite(SpriteKey::crystal(5)));
    EXPECT_EQ(build_sprite(SpriteKey::crystal(6)), build_sprite(SpriteKey::crystal(0)));
    EXPECT_EQ(build_sprite(SpriteKey::crystal(255)), build_sprite(SpriteKey::crystal(3)));
}

// ---------------------------------------------------------------------------
// The wisp and the blast

TEST(Sprites, TheWispHasTwoEyesAndAWhiteCoreInEveryFrame) {
    for (std::uint8_t frame = 0; frame < 4; ++frame) {
        const Sprite wisp = build_sprite(SpriteKey::wisp(frame));
        EXPECT_EQ(pixels_of(wisp, hex(0x280A46)), (std::set<Point>{{5, 8}, {10, 8}}));
        EXPECT_EQ(at(wisp, 7, 7)->r, 253);
        EXPECT_EQ(at(wisp, 0, 0), std::nullopt);
    }
    EXPECT_EQ(at(build_sprite(SpriteKey::wisp(0)), 7, 7), (Rgb{253, 241, 254}));
    EXPECT_EQ(at(build_sprite(SpriteKey::wisp(2)), 7, 7), (Rgb{253, 244, 254}));
    EXPECT_EQ(build_sprite(SpriteKey::wisp(4)), build_sprite(SpriteKey::wisp(0)));
}

TEST(Sprites, TheWispsRaggedRimIsDecidedToTheLastBitOfItsFloats) {
    const Sprite frame0 = build_sprite(SpriteKey::wisp(0));
    const Sprite frame1 = build_sprite(SpriteKey::wisp(1));
    const Sprite frame2 = build_sprite(SpriteKey::wisp(2));
    // r = 0.84372 against a rim of 0.84471, and r = 0.94104 against 0.94220.
    EXPECT_EQ(at(frame2, 5, 3), (Rgb{215, 78, 235}));
    EXPECT_EQ(at(frame1, 8, 1), (Rgb{214, 70, 235}));
    // r = 0.82212 against 0.81969, and r = 1.00286 against 0.99914.
    EXPECT_EQ(at(frame1, 6, 13), std::nullopt);
    EXPECT_EQ(at(frame2, 5, 14), std::nullopt);
    // Blends that land next to a whole number: 215.0023, 233.9976, 106.0350.
    EXPECT_EQ(at(frame2, 2, 9), (Rgb{215, 74, 235}));
    EXPECT_EQ(at(frame0, 6, 5), (Rgb{233, 157, 244}));
    EXPECT_EQ(at(frame0, 4, 10), (Rgb{222, 106, 239}));
    EXPECT_EQ(256u - transparent_count(frame0), 90u);
    EXPECT_EQ(256u - transparent_count(frame2), 109u);
    EXPECT_NE(build_sprite(SpriteKey::wisp(3)), frame1);  // same width, other rim
}

TEST(Sprites, TheBlastShrinksAndDarkensOverItsStages) {
    const Sprite stage0 = build_sprite(SpriteKey::blast(0));
    EXPECT_EQ(transparent_count(stage0), 6u);
    for (Point corner : {Point{0, 0}, {0, 2}, {1, 15}, {14, 15}, {15, 0}, {15, 1}})
        EXPECT_EQ(at(stage0, corner.first, corner.second), std::nullopt);
    EXPECT_EQ(transparent_count(build_sprite(SpriteKey::blast(1))), 43u);
    EXPECT_EQ(transparent_count(build_sprite(SpriteKey::blast(2))), 114u);
    const Sprite stage3 = build_sprite(SpriteKey::blast(3));
    EXPECT_EQ(transparent_count(stage3), 204u);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x)
            if (at(stage3, x, y)) {
                EXPECT_LT(std::hypot(x - 7.5, y - 7.5), 5.5);
            }
    EXPECT_EQ(build_sprite(SpriteKey::blast(200)), stage3);
}

TEST(Sprites, TheBlastsRadiusAndBlendsAreDecidedToTheLastBitOfItsFloats) {
    const Sprite stage0 = build_sprite(SpriteKey::blast(0));
    const Sprite stage1 = build_sprite(SpriteKey::blast(1));
    const Sprite stage2 = build_sprite(SpriteKey::blast(2));
    const Sprite stage3 = build_sprite(SpriteKey::blast(3));
    // d = 9.99705 inside R = 10, d = 8.00594 outside R = 8, d = 11.49116 inside 11.5.
    EXPECT_EQ(at(stage1, 14, 2), hex(0xFF961E));
    EXPECT_EQ(at(stage2, 14, 11), std::nullopt);
    EXPECT_EQ(at(stage0, 2, 14), hex(0xFFEC78));
    EXPECT_EQ(at(stage3, 4, 4), hex(0x5A1E27));
    // Blends of 175.9997, 170.0019 and 231.9973.
    EXPECT_EQ(at(stage0, 14, 9), (Rgb{255, 243, 175}));
    EXPECT_EQ(at(stage1, 13, 11), (Rgb{255, 170, 57}));
    EXPECT_EQ(at(stage2, 8, 6), (Rgb{231, 119, 31}));
}

// ---------------------------------------------------------------------------
// The burning fuse

TEST(Sprites, TheFuseFlickersOnlyAtItsSparks) {
    const Sprite flicker0 = build_sprite(SpriteKey::fuse(0));
    const Sprite flicker1 = build_sprite(SpriteKey::fuse(1));
    EXPECT_EQ(differences(flicker0, flicker1),
              (std::set<Point>{{8, 0}, {8, 1}, {6, 1}, {10, 1}, {7, 2}, {8, 2}, {9, 2}}));
    EXPECT_EQ(at(flicker0, 8, 2), hex(0xC8BEA0));  // cord
    EXPECT_EQ(at(flicker1, 8, 2), hex(0xFFAA28));  // spark, 8 + 2 + 1 odd
    EXPECT_EQ(at(flicker0, 8, 0), hex(0xFFFFDC));
    EXPECT_EQ(at(flicker0, 7, 2), hex(0xFFAA28));
    EXPECT_EQ(at(flicker1, 6, 1), hex(0xFFFFDC));
    EXPECT_EQ(at(flicker1, 8, 0), std::nullopt);
    EXPECT_EQ(build_sprite(SpriteKey::fuse(3)), flicker1);
}

TEST(Sprites, TheFuseBurnsOnThreeSticksWithAPaperBand) {
    const Sprite fuse = build_sprite(SpriteKey::fuse(0));
    EXPECT_EQ(at(fuse, 8, 3), hex(0xC8BEA0));
    EXPECT_EQ(at(fuse, 8, 4), hex(0xC8BEA0));
    EXPECT_EQ(at(fuse, 7, 4), std::nullopt);
    EXPECT_EQ(at(fuse, 3, 5), hex(0xEC5446));
    EXPECT_EQ(at(fuse, 4, 5), hex(0xCE3034));
    EXPECT_EQ(at(fuse, 5, 5), hex(0x961E2C));
    EXPECT_EQ(at(fuse, 6, 7), hex(0x461018));
    EXPECT_EQ(at(fuse, 10, 9), hex(0x461018));  // the gaps run through the band
    EXPECT_EQ(at(fuse, 3, 9), hex(0xE6DCBE));
    EXPECT_EQ(at(fuse, 13, 5), std::nullopt);
    EXPECT_EQ(at(fuse, 3, 15), std::nullopt);
    EXPECT_EQ(256u - transparent_count(fuse), 4u + 3u + 100u);
}

// ---------------------------------------------------------------------------
// Text pictures

TEST(Sprites, CreaturesAndPickupsAreColouredFromTheirPalettes) {
    const Sprite mite = build_sprite(SpriteKey::mite(0));
    EXPECT_EQ(at(mite, 2, 2), hex(0x2C0E24));  // "k" is not listed: the default
    EXPECT_EQ(at(mite, 5, 5), hex(0xFF9682));
    EXPECT_EQ(at(mite, 5, 4), hex(0xCE343C));
    EXPECT_EQ(at(mite, 0, 0), std::nullopt);
    EXPECT_EQ(at(build_sprite(SpriteKey::mite(1)), 2, 2), std::nullopt);
    EXPECT_EQ(build_sprite(SpriteKey::mite(3)), build_sprite(SpriteKey::mite(1)));

    const Sprite gobbler = build_sprite(SpriteKey::gobbler(0));
    EXPECT_EQ(at(gobbler, 4, 1), hex(0x142818));
    EXPECT_EQ(at(gobbler, 4, 2), hex(0x78C846));
    EXPECT_EQ(at(gobbler, 4, 8), hex(0xBE283C));
    EXPECT_EQ(at(gobbler, 5, 3), hex(0xFFFFFF));
    EXPECT_NE(build_sprite(SpriteKey::gobbler(1)), gobbler);

    const Sprite boots = build_sprite(SpriteKey::boots());
    EXPECT_EQ(at(boots, 3, 2), hex(0x141A3C));
    EXPECT_EQ(at(boots, 4, 3), hex(0xF0ECFA));
    EXPECT_EQ(at(boots, 5, 6), hex(0x96C8FF));
    EXPECT_EQ(at(boots, 4, 12), hex(0xE6DCBE));

    const Sprite charge = build_sprite(SpriteKey::charge());
    EXPECT_EQ(at(charge, 4, 1), hex(0xFACC30));  // the outline takes the default
    EXPECT_EQ(at(charge, 8, 3), hex(0xFFC83C));
    EXPECT_EQ(at(charge, 8, 6), hex(0x961E2C));
    EXPECT_EQ(at(charge, 12, 6), hex(0xFFFFEC));
    EXPECT_EQ(at(charge, 4, 2), hex(0x1C2C6E));

    const Sprite reach = build_sprite(SpriteKey::reach(0));
    EXPECT_EQ(at(reach, 4, 2), hex(0x781624));
    EXPECT_EQ(at(reach, 7, 3), hex(0xFF8C1E));
    EXPECT_EQ(at(reach, 8, 6), hex(0xFFE26E));
    EXPECT_EQ(at(reach, 3, 2), hex(0xFACC30));
    const Sprite reach_b = build_sprite(SpriteKey::reach(1));
    EXPECT_EQ(at(reach_b, 8, 3), hex(0xFF8C1E));
    EXPECT_EQ(at(reach_b, 7, 3), hex(0x781624));
    EXPECT_EQ(build_sprite(SpriteKey::reach(2)), reach);
}

// ---------------------------------------------------------------------------
// Diggers

TEST(Sprites, EachPlayersDiggerWearsItsOwnHelmetAndSuit) {
    const std::array<std::array<std::uint32_t, 4>, 4> colours = {{
        {0xFACC30, 0xC48C18, 0xE86828, 0xA03E1C},
        {0xECEEF8, 0x969AB4, 0x3A7CE8, 0x224EAA},
        {0xE8544C, 0xA02C34, 0x46B054, 0x26743A},
        {0x60E8D0, 0x289696, 0xA660DC, 0x6C36A0},
    }};
    for (std::uint8_t player = 0; player < 4; ++player) {
        const Sprite digger = build_sprite(SpriteKey::digger(Dir::Down, player, 0));
        EXPECT_EQ(at(digger, 5, 1), hex(colours[player][0]));
        EXPECT_EQ(at(digger, 3, 4), hex(colours[player][1]));
        EXPECT_EQ(at(digger, 4, 9), hex(colours[player][2]));
        EXPECT_EQ(at(digger, 7, 10), hex(colours[player][3]));
        EXPECT_EQ(at(digger, 7, 2), hex(0xFFFFEC));   // the lamp
        EXPECT_EQ(at(digger, 4, 5), hex(0xF6C496));   // skin
        EXPECT_EQ(at(digger, 5, 6), hex(0x24182C));   // an eye
        EXPECT_EQ(at(digger, 7, 8), hex(0xAA5046));   // the mouth
        EXPECT_EQ(at(digger, 5, 14), hex(0x463246));  // a boot
        EXPECT_EQ(at(digger, 7, 14), std::nullopt);
    }
    EXPECT_EQ(build_sprite(SpriteKey::digger(Dir::Left, 5, 1)),
              build_sprite(SpriteKey::digger(Dir::Left, 1, 1)));
}

TEST(Sprites, ADiggerFacingRightCarriesItsLampForwardAndFacingLeftIsItsMirror) {
    const Sprite right = build_sprite(SpriteKey::digger(Dir::Right, 0, 0));
    EXPECT_EQ(at(right, 11, 2), hex(0xFFFFEC));
    EXPECT_EQ(at(right, 4, 2), hex(0xFACC30));
    for (std::uint8_t player = 0; player < 4; ++player)
        for (std::uint8_t frame = 0; frame < 2; ++frame) {
            const Sprite r = build_sprite(SpriteKey::digger(Dir::Right, player, frame));
            const Sprite l = build_sprite(SpriteKey::digger(Dir::Left, player, frame));
            for (int y = 0; y < 16; ++y)
                for (int x = 0; x < 16; ++x)
                    ASSERT_EQ(at(l, x, y), at(r, 15 - x, y)) << x << ',' << y;
        }
}

TEST(Sprites, ADiggerSeenFromBehindShowsNoFaceNoLampAndNoSuitShade) {
    for (std::uint8_t player = 0; player < 4; ++player)
        for (std::uint8_t frame = 0; frame < 2; ++frame) {
            const Sprite back = build_sprite(SpriteKey::digger(Dir::Up, player, frame));
            const Sprite front = build_sprite(SpriteKey::digger(Dir::Down, player, frame));
            const Rgb suit_shade = *at(front, 7, 10);
            for (Rgb hidden : {hex(0x24182C), hex(0xAA5046), hex(0xFFFFEC), suit_shade})
                EXPECT_TRUE(pixels_of(back, hidden).empty());
            EXPECT_EQ(at(back, 7, 2), at(front, 5, 1));   // helmet over the lamp
            EXPECT_EQ(at(back, 5, 6), hex(0xF6C496));     // skin over the eyes
            EXPECT_EQ(at(back, 7, 8), hex(0xF6C496));     // and the mouth
            EXPECT_EQ(at(back, 7, 10), at(front, 4, 9));  // plain suit
            EXPECT_EQ(differences(back, front), (std::set<Point>{{7, 2},
                                                                 {8, 2},
                                                                 {7, 3},
                                                                 {8, 3},
                                                                 {5, 6},
                                                                 {10, 6},
                                                                 {7, 8},
                                                                 {8, 8},
                                                                 {7, 10},
                                                                 {8, 10}}));
        }
}

TEST(Sprites, AWalkingDiggerMovesOnlyItsLegs) {
    for (Dir facing : facings)
        for (std::uint8_t player = 0; player < 4; ++player) {
            const Sprite standing = build_sprite(SpriteKey::digger(facing, player, 0));
            const Sprite walking = build_sprite(SpriteKey::digger(facing, player, 1));
            const std::set<Point> changed = differences(standing, walking);
            EXPECT_FALSE(changed.empty());
            for (const Point& p : changed) EXPECT_GE(p.second, 13) << p.first << ',' << p.second;
        }
    // The side legs stride: a boot at (3, 14) and (12, 15) walking.
    const Sprite walking = build_sprite(SpriteKey::digger(Dir::Right, 0, 1));
    EXPECT_EQ(at(walking, 3, 14), hex(0x463246));
    EXPECT_EQ(at(walking, 12, 15), hex(0x463246));
    EXPECT_EQ(at(walking, 4, 13), hex(0xE86828));
}

// ---------------------------------------------------------------------------
// A sheet of the whole set, written into the build folder to be looked at:
// one row of sprites per kind, three times enlarged, transparency shown as a
// grey checkerboard.

TEST(SpriteSheet, TheWholeSetCanBeLaidOutAsOnePicture) {
    const SpriteSet set = build_sprite_set();
    const std::vector<std::vector<SpriteKey>> rows = sheet_rows();
    constexpr std::size_t zoom = 3, cell = 16 * zoom + 4, columns = 9;
    const std::size_t width = columns * cell, height = rows.size() * cell;
    std::vector<std::uint8_t> image(width * height * 3, 40);
    for (std::size_t row = 0; row < rows.size(); ++row)
        for (std::size_t column = 0; column < rows[row].size(); ++column) {
            const SpriteKey key = rows[row][column];
            const Sprite& sprite = lookup_sprite(set, key);
            for (std::size_t y = 0; y < 16 * zoom; ++y)
                for (std::size_t x = 0; x < 16 * zoom; ++x) {
                    const std::uint8_t check = ((x / 6 + y / 6) % 2) ? 150 : 110;
                    const Rgb colour =
                        sprite.at(x / zoom, y / zoom).value_or(Rgb{check, check, check});
                    std::uint8_t* out =
                        &image[((row * cell + 2 + y) * width + column * cell + 2 + x) * 3];
                    out[0] = colour.r;
                    out[1] = colour.g;
                    out[2] = colour.b;
                }
        }
    const std::string path = std::string(ZOBRA_BUILD_DIR) + "/sprite_sheet.ppm";
    {
        std::ofstream file(path, std::ios::binary);
        file << "P6\n" << width << ' ' << height << "\n255\n";
        file.write(reinterpret_cast<const char*>(image.data()),
                   static_cast<std::streamsize>(image.size()));
        ASSERT_TRUE(file.good());
    }
    std::ifstream back(path, std::ios::binary | std::ios::ate);
    EXPECT_EQ(static_cast<std::size_t>(back.tellg()),
              std::to_string(width).size() + std::to_string(height).size() + 9 + image.size());
}

}  // namespace
}  // namespace zobra
