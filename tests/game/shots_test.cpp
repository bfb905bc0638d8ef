#include "game/shots.h"

#include <gtest/gtest.h>

#include <sstream>

#include "art/font.h"
#include "files/os.h"
#include "files/png.h"
#include "game/scaler.h"
#include "game/view.h"
#include "support/golden.h"
#include "support/png_reader.h"

namespace zobra {
namespace {

namespace fs = std::filesystem;

constexpr Rgb warning{0xFF, 0x60, 0x60};
constexpr Rgb text_colour{0xF0, 0xEC, 0xFA};

class Shots : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("zobra-shots-" + std::to_string(os::process_id()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    fs::path dir_;
};

// Plays the script up to and including scene `last` on a fresh session.
Session session_after(std::size_t last) {
    Session session{Progress{}};
    for (std::size_t k = 0; k <= last; ++k) {
        shot_scenes[k].setup(session);
        place_camera(session);
    }
    return session;
}

std::vector<std::uint32_t> screen_picture(const Session& session, const SpriteSet& sprites) {
    Canvas canvas;
    draw_view(canvas, session, sprites);
    std::vector<std::uint32_t> picture(std::size_t{shot_width} * shot_height);
    present_scaled(canvas.pixels, picture, shot_width, shot_height);
    return picture;
}

bool ink_at(const std::vector<std::uint32_t>& picture, std::int32_t y, std::string_view text,
            Rgb colour, std::int32_t scale) {
    // The text as drawn centred on the canvas, looked up three times larger.
    constexpr Rgb probe{1, 2, 3};
    Canvas mask;
    draw_text(mask, 160 - text_width(text) * scale / 2, y, text, probe, scale);
    const std::uint32_t want =
        std::uint32_t{colour.r} << 16 | std::uint32_t{colour.g} << 8 | colour.b;
    for (std::size_t py = 0; py < 200; ++py)
        for (std::size_t px = 0; px < 320; ++px)
            if (mask.pixel(px, py) == probe &&
                picture[(3 * py + 1) * shot_width + 3 * px + 1] != want)
                return false;
    return true;
}

TEST_F(Shots, TheScriptHasEighteenScenesInOrder) {
    const std::vector<std::string_view> stems = {
        "00-title",      "01-start",      "02-blast",      "03-later",      "04-won",
        "05-time-up",    "06-wisps",      "07-earth",      "08-middle",     "09-large",
        "10-paused",     "11-pair-title", "12-pair-start", "13-duel-title", "14-duel-start",
        "15-duel-fight", "16-duel-round", "17-naming"};
    ASSERT_EQ(shot_scenes.size(), stems.size());
    for (std::size_t k = 0; k < stems.size(); ++k) EXPECT_EQ(shot_scenes[k].stem, stems[k]);
}

TEST_F(Shots, EveryFileDecodesToExactlyWhatTheScreenShowed) {
    std::ostringstream printed;
    ASSERT_EQ(run_shots(dir_, printed), std::nullopt);

    std::string expected_printed;
    const SpriteSet sprites = build_sprite_set();
    Session session{Progress{}};
    for (const ShotScene& scene : shot_scenes) {
        scene.setup(session);
        place_camera(session);
        const fs::path path = dir_ / (std::string(scene.stem) + ".png");
        expected_printed += path.string() + "\n";
        const auto decoded = testing::decode_with_imagemagick(path, shot_width, shot_height);
        ASSERT_TRUE(decoded.has_value()) << path;
        EXPECT_TRUE(*decoded == screen_picture(session, sprites)) << scene.stem;
    }
    EXPECT_EQ(printed.str(), expected_printed);

    const Sprite floor = build_sprite(SpriteKey::floor());
    for (const SheetEntry& entry : sprite_sheet()) {
        const fs::path path = dir_ / "sprites" / (std::string(entry.stem) + ".png");
        const auto decoded = testing::decode_with_imagemagick(path, sheet_side, sheet_side);
        ASSERT_TRUE(decoded.has_value()) << path;
        EXPECT_TRUE(*decoded == sheet_picture(build_sprite(entry.key), floor)) << entry.stem;
    }
}

// What the golden file keeps of one written picture: the file's SHA-256 and,
// to say where a change lies, a short hash of every band of three picture
// rows (one canvas row in the scenes, one sprite row in the sheet).
constexpr std::size_t band_rows = 3;
constexpr std::size_t band_hash_digits = 4;

std::string golden_value(const std::vector<std::uint8_t>& file) {
    std::string value = testing::sha256_hex(file) + " ";
    const auto chunks = testing::png_chunks(file);
    std::vector<std::uint8_t> zlib;
    std::uint32_t width = 0;
    for (const auto& chunk : chunks) {
        if (chunk.type == "IHDR") width = testing::read_u32_be(chunk.data, 0);
        if (chunk.type == "IDAT") zlib.insert(zlib.end(), chunk.data.begin(), chunk.data.end());
    }
    const std::vector<std::uint8_t> raw = testing::stored_stream(zlib).data;
    const std::size_t band = band_rows * (3 * std::size_t{width} + 1);
    char digits[9];
    for (std::size_t at = 0; at < raw.size(); at += band) {
        const std::size_t length = std::min(band, raw.size() - at);
        std::snprintf(digits, sizeof digits, "%08x", testing::fnv1a({raw.data() + at, length}));
        value.append(digits + 8 - band_hash_digits);
    }
    return value;
}

std::string explain_picture(std::string_view, std::string_view stored, std::string_view now) {
    const std::size_t sha = 65;
    const long band =
        testing::first_different_group(stored.substr(std::min(sha, stored.size())),
                                       now.substr(std::min(sha, now.size())), band_hash_digits);
    if (band < 0) return "the file's bytes changed, not its pixels";
    const auto row = static_cast<std::size_t>(band);
    return "pixels changed, first in picture rows " + std::to_string(row * band_rows) + " to " +
           std::to_string(row * band_rows + band_rows - 1) + " (canvas or sprite row " +
           std::to_string(row) + ")";
}

class ShotsGolden : public Shots {};

TEST_F(ShotsGolden, EveryFileIsByteForByteTheStoredOne) {
    std::ostringstream printed;
    ASSERT_EQ(run_shots(dir_, printed), std::nullopt);
    std::map<std::string, std::string> now;
    for (const auto& entry : fs::recursive_directory_iterator(dir_))
        if (entry.is_regular_file())
            now[fs::relative(entry.path(), dir_).generic_string()] =
                golden_value(testing::read_file(entry.path()));
    EXPECT_EQ(now.size(), 36u);
    const std::string differences = testing::check_golden("shots.txt", now, explain_picture);
    EXPECT_TRUE(differences.empty()) << differences << "(the new pictures: make shots)";
}

TEST_F(Shots, ASheetPictureIsTheSpriteThreeTimesLargerOverTheFloor) {
    const Sprite floor = build_sprite(SpriteKey::floor());
    const Sprite mite = build_sprite(SpriteKey::mite(0));
    const std::vector<std::uint32_t> picture = sheet_picture(mite, floor);
    ASSERT_EQ(picture.size(), 48u * 48u);
    auto word = [](Rgb c) { return std::uint32_t{c.r} << 16 | std::uint32_t{c.g} << 8 | c.b; };
    for (std::uint32_t y = 0; y < 48; ++y)
        for (std::uint32_t x = 0; x < 48; ++x) {
            const auto& own = mite.at(x / 3, y / 3);
            const Rgb expected = own ? *own : *floor.at(x / 3, y / 3);
            ASSERT_EQ(picture[y * 48 + x], word(expected)) << x << ", " << y;
        }
    // The mite's corner is transparent, so the floor shows there.
    EXPECT_FALSE(mite.at(0, 0).has_value());
    EXPECT_EQ(picture[0], word(*floor.at(0, 0)));
}

TEST_F(Shots, TheSheetExportsTheNamedSprites) {
    const auto& sheet = sprite_sheet();
    EXPECT_EQ(sheet[0].stem, "digger");
    EXPECT_EQ(sheet[0].key, SpriteKey::digger(Dir::Down, 0, 0));
    EXPECT_EQ(sheet[3].key, SpriteKey::digger(Dir::Down, 3, 0));
    EXPECT_EQ(sheet[8].stem, "blast");
    EXPECT_EQ(sheet[8].key, SpriteKey::blast(1));
    EXPECT_EQ(sheet[14].stem, "hatch-open");
    EXPECT_EQ(sheet[14].key, SpriteKey::hatch_open(2));
    EXPECT_EQ(sheet[16].stem, "wisp");
    EXPECT_EQ(sheet[16].key, SpriteKey::wisp(2));
}

TEST_F(Shots, TimeUpEndsTheLevelWithTheClockAtZero) {
    const Session session = session_after(5);
    EXPECT_EQ(session.screen, Screen::Lost);
    EXPECT_EQ(session.level_index, 2u);
    EXPECT_EQ(session.match.arena.time_left, 0u);
    EXPECT_EQ(session.match.arena.outcome, Outcome::Lost);
    EXPECT_TRUE(session.match.time_up);
    const auto picture = screen_picture(session, build_sprite_set());
    EXPECT_TRUE(ink_at(picture, 97, "ZEIT ABGELAUFEN!", warning, 2));
}

TEST_F(Shots, TheDuelRoundIsOverWithItsPanelShowing) {
    const Session session = session_after(16);
    EXPECT_EQ(session.screen, Screen::DuelRoundOver);
    EXPECT_TRUE(session.match.arena.duel);
    EXPECT_EQ(session.match.arena.outcome, Outcome::Finished);
    EXPECT_GE(session.end_timer, 0.7f);
    EXPECT_TRUE(session.match.arena.diggers[0].bot);
    const auto picture = screen_picture(session, build_sprite_set());
    // One round cannot decide the match: the panel names the round's winner
    // in their colour, or a draw.
    constexpr std::array<Rgb, 4> player_colours = {Rgb{0xF0, 0x82, 0x3C}, Rgb{0x60, 0xA0, 0xFF},
                                                   Rgb{0x60, 0xCE, 0x6E}, Rgb{0xBE, 0x7C, 0xF0}};
    if (session.match.arena.has_winner) {
        const std::size_t w = session.match.arena.winner;
        EXPECT_TRUE(ink_at(picture, 91, "RUNDE AN COMPUTER " + std::to_string(w + 1),
                           player_colours.at(w), 2));
    } else {
        EXPECT_TRUE(ink_at(picture, 91, "UNENTSCHIEDEN", text_colour, 2));
    }
}

TEST_F(Shots, TheLastSceneIsTheNamingScreenOfTheSoloTitle) {
    const Session session = session_after(17);
    EXPECT_EQ(session.screen, Screen::Naming);
    EXPECT_EQ(session.progress.mode, Mode::Solo);
    EXPECT_EQ(session.naming_text, "ZUSEL");
    // The player record stays the default one: nothing is saved or won.
    EXPECT_EQ(session.progress.name, "");
}

TEST_F(Shots, AFolderThatCannotBeCreatedIsReportedAndNothingIsWritten) {
    fs::create_directories(dir_);
    testing::write_file(dir_ / "blocker", {1, 2, 3});
    std::ostringstream printed;
    const auto error = run_shots(dir_ / "blocker" / "shots", printed);
    ASSERT_TRUE(error.has_value());
    EXPECT_NE(error->find("blocker"), std::string::npos) << *error;
    EXPECT_EQ(printed.str(), "");
    EXPECT_EQ(testing::read_file(dir_ / "blocker"), (std::vector<std::uint8_t>{1, 2, 3}));
}

TEST_F(Shots, AFileThatCannotBeWrittenStopsTheScriptAndEarlierFilesStay) {
    // A folder in the place of the third picture.
    fs::create_directories(dir_ / "02-blast.png");
    std::ostringstream printed;
    const auto error = run_shots(dir_, printed);
    ASSERT_TRUE(error.has_value());
    EXPECT_NE(error->find("02-blast.png"), std::string::npos) << *error;
    EXPECT_EQ(printed.str(),
              (dir_ / "00-title.png").string() + "\n" + (dir_ / "01-start.png").string() + "\n");
    EXPECT_EQ(fs::file_size(dir_ / "00-title.png"), 1'728'798u);
    EXPECT_FALSE(fs::exists(dir_ / "03-later.png"));
    EXPECT_FALSE(fs::exists(dir_ / "sprites"));
}

}  // namespace
}  // namespace zobra
