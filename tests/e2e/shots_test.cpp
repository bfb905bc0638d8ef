// The screenshot mode run the way the README runs it: the real executable
// with ZOBRA_SHOTS set, no display and no window.

#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <fstream>
#include <set>

#include "e2e/process.h"

namespace zobra::e2e {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const std::vector<std::string> scene_stems = {
    "00-title",      "01-start",      "02-blast",      "03-later",      "04-won",
    "05-time-up",    "06-wisps",      "07-earth",      "08-middle",     "09-large",
    "10-paused",     "11-pair-title", "12-pair-start", "13-duel-title", "14-duel-start",
    "15-duel-fight", "16-duel-round", "17-naming"};

const std::vector<std::string> sprite_stems = {
    "digger",  "digger2",    "digger3",    "digger4", "steel", "brick",
    "dirt",    "fuse",       "blast",      "charge",  "reach", "boots",
    "crystal", "hatch-shut", "hatch-open", "mite",    "wisp",  "gobbler"};

constexpr std::uintmax_t scene_bytes = 1'728'798;
constexpr std::uintmax_t sprite_bytes = 7'028;

std::map<std::string, std::string> shots_env(const GameFolder& folder, const std::string& target) {
    // No display at all, and the save file pointed into the folder so that a
    // stray write would be seen.
    return {{"ZOBRA_SHOTS", target},
            {"ZOBRA_SAVE", (folder.path() / "save.json").string()},
            {"SDL_AUDIODRIVER", "dummy"}};
}

std::vector<std::string> split_lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t from = 0;
    while (from < text.size()) {
        const std::size_t end = text.find('\n', from);
        if (end == std::string::npos) {
            lines.push_back(text.substr(from));
            break;
        }
        lines.push_back(text.substr(from, end - from));
        from = end + 1;
    }
    return lines;
}

// Every regular file below `root`, relative to it.
std::set<std::string> files_below(const fs::path& root) {
    std::set<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        if (entry.is_regular_file()) files.insert(fs::relative(entry.path(), root).string());
    return files;
}

bool pngcheck_accepts(const fs::path& file) {
    return run_to_end({"pngcheck", "-q", file.string()}, {}, file.parent_path(), 30s)
               .ending.status == 0;
}

TEST(ScreenshotMode, WritesEighteenScenesAndEighteenSpritesAndEndsNormally) {
    GameFolder folder;
    const Result r = run_to_end({folder.executable().string()}, shots_env(folder, "out/shots"),
                                folder.path(), 300s);
    ASSERT_TRUE(r.ending.exited) << "signal " << r.ending.signal << "\n" << r.err;
    EXPECT_EQ(r.ending.status, 0);
    EXPECT_EQ(r.err, "");

    // One printed path per scene, in order, and nothing else.
    std::vector<std::string> expected_lines;
    for (const auto& stem : scene_stems) expected_lines.push_back("out/shots/" + stem + ".png");
    EXPECT_EQ(split_lines(r.out), expected_lines);
    EXPECT_TRUE(r.out.ends_with("\n"));

    const fs::path shots = folder.path() / "out" / "shots";
    std::set<std::string> expected_files;
    for (const auto& stem : scene_stems) {
        expected_files.insert(stem + ".png");
        EXPECT_EQ(fs::file_size(shots / (stem + ".png")), scene_bytes) << stem;
        EXPECT_TRUE(pngcheck_accepts(shots / (stem + ".png"))) << stem;
    }
    for (const auto& stem : sprite_stems) {
        expected_files.insert("sprites/" + stem + ".png");
        EXPECT_EQ(fs::file_size(shots / "sprites" / (stem + ".png")), sprite_bytes) << stem;
        EXPECT_TRUE(pngcheck_accepts(shots / "sprites" / (stem + ".png"))) << stem;
    }
    EXPECT_EQ(files_below(shots), expected_files);

    // Nothing but the log's header and the first entry; no save file, no
    // window, no sound, no pads.
    EXPECT_EQ(read_lines(folder.log_file()),
              (std::vector<std::string>{"Zobra build 5", "start: started"}));
    EXPECT_FALSE(fs::exists(folder.path() / "save.json"));
    EXPECT_FALSE(fs::exists(folder.path() / ".local"));
    EXPECT_FALSE(fs::exists(folder.crash_file()));

    // A second run over the same folder replaces every file with the same bytes.
    std::map<std::string, std::string> first;
    for (const auto& file : expected_files) first[file] = read_file(shots / file);
    for (const auto& file : expected_files) {
        std::ofstream spoil(shots / file, std::ios::trunc);
        spoil << "old";
    }
    const Result again = run_to_end({folder.executable().string()}, shots_env(folder, "out/shots"),
                                    folder.path(), 300s);
    ASSERT_TRUE(again.ending.exited);
    EXPECT_EQ(again.ending.status, 0);
    EXPECT_EQ(again.out, r.out);
    for (const auto& file : expected_files)
        EXPECT_TRUE(read_file(shots / file) == first[file]) << file << " differs between runs";
}

TEST(ScreenshotMode, AnEmptyValueMeansTheCurrentFolder) {
    GameFolder folder;
    const Result r =
        run_to_end({folder.executable().string()}, shots_env(folder, ""), folder.path(), 300s);
    ASSERT_TRUE(r.ending.exited) << r.err;
    EXPECT_EQ(r.ending.status, 0);
    EXPECT_EQ(split_lines(r.out).front(), "00-title.png");
    EXPECT_EQ(fs::file_size(folder.path() / "17-naming.png"), scene_bytes);
    EXPECT_EQ(fs::file_size(folder.path() / "sprites" / "gobbler.png"), sprite_bytes);
}

TEST(ScreenshotMode, AFolderBelowARegularFileStopsThroughTheCrashReport) {
    GameFolder folder;
    {
        std::ofstream blocker(folder.path() / "blocker");
        blocker << "a file, not a folder";
    }
    const Result r = run_to_end({folder.executable().string()}, shots_env(folder, "blocker/shots"),
                                folder.path(), 60s);
    EXPECT_FALSE(r.ending.exited) << "status " << r.ending.status;
    EXPECT_EQ(r.ending.signal, SIGABRT);
    EXPECT_EQ(r.out, "");

    const std::string report = read_file(folder.crash_file());
    EXPECT_TRUE(report.starts_with("Zobra 0.1.0 konnte nicht weiterlaufen.\n\npanicked at src/"))
        << report;
    EXPECT_NE(report.find(":\nthe screenshots can be written: "), std::string::npos) << report;
    EXPECT_EQ(read_file(folder.path() / "blocker"), "a file, not a folder");

    const std::vector<std::string> log = read_lines(folder.log_file());
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(log[1], "start: started");
    EXPECT_TRUE(log.back().starts_with("the screenshots can be written: ")) << log.back();
}

}  // namespace
}  // namespace zobra::e2e
