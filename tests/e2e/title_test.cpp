// The real game on its title screen: keys pressed in its window change and
// save the progress, and Esc ends it.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "e2e/process.h"

namespace zobra::e2e {
namespace {

using namespace std::chrono_literals;

const std::string default_save =
    R"({"solved":0,"best":[],"music_off":false,"mode":"Solo","difficulty":"Normal",)"
    R"("slot":0,"name":"","others":[],"all_open":false})";

TEST(GameTitle, MusicKeySavesAtOnceAndEscLeavesByTheTitle) {
    Xvfb x;
    GameFolder folder;
    // A save place whose directory does not exist yet.
    const std::filesystem::path save = folder.path() / "saves" / "save.json";
    std::map<std::string, std::string> env = x.environment();
    env["ZOBRA_SAVE"] = save.string();
    Process game(folder.executable(), env, folder.path());

    std::optional<WindowInfo> window = find_window(x.display(), "Zobra", 30s);
    ASSERT_TRUE(window) << game.error_output();
    ASSERT_TRUE(eventually(
        [&] { return logged(folder, "start: first frame on its way to the screen"); }, 30s));
    EXPECT_FALSE(std::filesystem::exists(save));  // starting alone writes nothing

    press_keys(x.display(), window->id, {"m"});
    ASSERT_TRUE(eventually(
        [&] { return read_file(save).find(R"("music_off":true)") != std::string::npos; }, 30s))
        << read_file(save) << game.error_output();

    press_keys(x.display(), window->id, {"m"});
    ASSERT_TRUE(eventually([&] { return read_file(save) == default_save; }, 30s))
        << read_file(save);
    EXPECT_EQ(read_file(save).size(), 124u);
    EXPECT_FALSE(std::filesystem::exists(folder.path() / "saves" / "save.json.tmp"));

    press_keys(x.display(), window->id, {"Escape"});
    const Ending ending = game.wait(30s);
    EXPECT_TRUE(ending.exited);
    EXPECT_EQ(ending.status, 0);
    EXPECT_EQ(game.error_output(), "");

    const std::vector<std::string> entries = start_entries(folder.log_file());
    ASSERT_GE(entries.size(), 2u);
    EXPECT_EQ(entries[entries.size() - 2], "start: leaving by the title");
    EXPECT_EQ(entries.back(), "start: the event loop has ended");

    // The gamepad listing comes between loading the save and setting up.
    const std::vector<std::string> log = read_lines(folder.log_file());
    const auto at = [&](const std::string& line) {
        return std::find(log.begin(), log.end(), line) - log.begin();
    };
    EXPECT_LT(at("start: loading the save and drawing the sprites"),
              at("gamepads known to the gamepad library at start:"));
    EXPECT_LT(at("gamepads known to the gamepad library at start:"),
              at("start: game set up, reaching for the window system"));
    EXPECT_LT(at("start: game set up, reaching for the window system"),
              static_cast<std::ptrdiff_t>(log.size()));
}

// Whether the steel strip along the bottom of the title (canvas rows 192 …
// 199, three window rows each at 960 × 600) holds the warning red.
bool bottom_strip_warns(const Picture& picture) {
    for (int y = 192 * 3; y < picture.height; ++y)
        for (int x = 0; x < picture.width; ++x)
            if (picture.at(x, y) == 0xFF6060) return true;
    return false;
}

TEST(GameTitle, AFailedSaveIsShownOnTheTitleUntilASaveSucceeds) {
    Xvfb x;
    GameFolder folder;
    // The save's folder cannot be made while a file stands in its place.
    const std::filesystem::path blocker = folder.path() / "saves";
    std::ofstream(blocker) << "in the way";
    const std::filesystem::path save = blocker / "save.json";
    std::map<std::string, std::string> env = x.environment();
    env["ZOBRA_SAVE"] = save.string();
    Process game(folder.executable(), env, folder.path());
    std::optional<WindowInfo> window = find_window(x.display(), "Zobra", 30s);
    ASSERT_TRUE(window) << game.error_output();
    ASSERT_TRUE(eventually([&] { return screenshot(x.display(), window->id).width == 960; }, 30s));
    EXPECT_FALSE(bottom_strip_warns(screenshot(x.display(), window->id)));

    press_keys(x.display(), window->id, {"m"});
    ASSERT_TRUE(eventually(
        [&] { return game.error_output().find("could not save: ") != std::string::npos; }, 10s));
    EXPECT_TRUE(
        eventually([&] { return bottom_strip_warns(screenshot(x.display(), window->id)); }, 10s));

    std::filesystem::remove(blocker);
    press_keys(x.display(), window->id, {"m"});
    ASSERT_TRUE(eventually([&] { return read_file(save) == default_save; }, 10s));
    EXPECT_TRUE(
        eventually([&] { return !bottom_strip_warns(screenshot(x.display(), window->id)); }, 10s));

    press_keys(x.display(), window->id, {"Escape"});
    EXPECT_TRUE(game.wait(30s).exited);
}

TEST(GameTitle, ASaveThatDoesNotParseIsReportedAndKeptUntilTheGameSaves) {
    Xvfb x;
    GameFolder folder;
    const std::filesystem::path save = folder.path() / "save.json";
    {
        std::ofstream file(save, std::ios::binary);
        file << R"({"solved":3})";
    }
    std::map<std::string, std::string> env = x.environment();
    env["ZOBRA_SAVE"] = save.string();
    Process game(folder.executable(), env, folder.path());
    std::optional<WindowInfo> window = find_window(x.display(), "Zobra", 30s);
    ASSERT_TRUE(window) << game.error_output();
    EXPECT_TRUE(
        eventually([&] { return game.error_output().find("save could not be read (") == 0; }, 30s))
        << game.error_output();
    EXPECT_TRUE(game.error_output().ends_with("): starting over\n")) << game.error_output();
    EXPECT_EQ(read_file(save), R"({"solved":3})");

    // F9 opens all levels: the fresh record is written over the broken one.
    press_keys(x.display(), window->id, {"F9"});
    ASSERT_TRUE(eventually(
        [&] { return read_file(save).find(R"("all_open":true)") != std::string::npos; }, 30s))
        << read_file(save);
    EXPECT_EQ(read_file(save).find(R"({"solved":0,)"), 0u);
    // The broken bytes are kept beside the new save, and the game says where.
    const std::filesystem::path broken = folder.path() / "save.broken.json";
    EXPECT_EQ(read_file(broken), R"({"solved":3})");
    const std::string kept =
        "kept the save that could not be read: moved " + save.string() + " to " + broken.string();
    EXPECT_NE(game.error_output().find("\n" + kept + "\n"), std::string::npos)
        << game.error_output();
    const std::vector<std::string> log = read_lines(folder.log_file());
    EXPECT_NE(std::find(log.begin(), log.end(), kept), log.end());

    press_keys(x.display(), window->id, {"Escape"});
    const Ending ending = game.wait(30s);
    EXPECT_TRUE(ending.exited);
    EXPECT_EQ(ending.status, 0);
}

}  // namespace
}  // namespace zobra::e2e
