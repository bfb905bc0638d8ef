// Fullscreen in the real game under a window manager: F11 and Alt+Enter
// switch it on and off, the picture keeps its proportions with black bars,
// and the keys never reach the game.

#include <gtest/gtest.h>

#include <thread>

#include "e2e/process.h"

namespace zobra::e2e {
namespace {

using namespace std::chrono_literals;

constexpr std::uint32_t hud_background = 0x1A1430;

bool window_manager_runs(const std::string& display) {
    const Result root = run_to_end({"xprop", "-root", "_NET_SUPPORTING_WM_CHECK"},
                                   {{"DISPLAY", display}}, "/tmp", 10s);
    return root.out.find("window id") != std::string::npos;
}

bool rows_black(const Picture& picture, int from, int to) {
    for (int y = from; y < to; ++y)
        for (int x = 0; x < picture.width; ++x)
            if (picture.at(x, y) != 0) return false;
    return true;
}

TEST(GameWindow, F11AndAltEnterSwitchFullscreenWithBarsAndNeverReachTheGame) {
    Xvfb x;  // a 1280 × 1024 screen
    GameFolder folder;
    // The window manager says when it is ready by running its start-up
    // command; a window mapped while it is still starting may never be
    // managed, and SDL waits for its window to be mapped.
    const std::filesystem::path ready = folder.path() / "window-manager-ready";
    Process manager(std::vector<std::string>{"openbox", "--startup", "touch " + ready.string()},
                    {{"DISPLAY", x.display()}}, folder.path());
    ASSERT_TRUE(eventually(
        [&] { return std::filesystem::exists(ready) && window_manager_runs(x.display()); }, 30s));

    std::map<std::string, std::string> env = x.environment();
    env["ZOBRA_SAVE"] = (folder.path() / "save.json").string();
    Process game(folder.executable(), env, folder.path());
    std::optional<WindowInfo> window = find_window(x.display(), "Zobra", 30s);
    ASSERT_TRUE(window) << game.error_output() << read_file(folder.log_file());
    ASSERT_TRUE(eventually([&] { return screenshot(x.display(), window->id).width == 960; }, 30s));

    // Fullscreen: the canvas four times enlarged, 1280 × 800, bars above and below.
    press_keys(x.display(), window->id, {"F11"});
    // A screenshot may catch the window resized but not yet drawn: wait for
    // the first one that shows the finished frame.
    Picture full;
    EXPECT_TRUE(eventually(
        [&] {
            full = screenshot(x.display(), window->id);
            return full.width == 1280 && full.height == 1024 && full.at(0, 112) != 0 &&
                   full.at(1279, 911) != 0 && rows_black(full, 0, 112) &&
                   rows_black(full, 912, 1024);
        },
        10s))
        << full.width << " x " << full.height;

    // Alt+Enter comes back, and the title is still up: Enter with Alt held
    // started no level.
    press_keys(x.display(), window->id, {"alt+Return"});
    Picture windowed;
    ASSERT_TRUE(eventually(
        [&] {
            windowed = screenshot(x.display(), window->id);
            return windowed.width == 960 && windowed.height == 600;
        },
        10s));
    EXPECT_NE(windowed.at(900, 63), hud_background);
    press_keys(x.display(), window->id, {"alt+Return"});
    ASSERT_TRUE(eventually([&] { return screenshot(x.display(), window->id).width == 1280; }, 10s));
    press_keys(x.display(), window->id, {"F11"});
    ASSERT_TRUE(eventually([&] { return screenshot(x.display(), window->id).width == 960; }, 10s));
    EXPECT_NE(screenshot(x.display(), window->id).at(900, 63), hud_background);

    // Enter alone still starts the level.
    press_keys(x.display(), window->id, {"Return"});
    EXPECT_TRUE(eventually(
        [&] { return screenshot(x.display(), window->id).at(900, 63) == hud_background; }, 10s));

    // Back to the title, then leave (two presses in one frame would count once).
    press_keys(x.display(), window->id, {"Escape"});
    EXPECT_TRUE(eventually(
        [&] { return screenshot(x.display(), window->id).at(900, 63) != hud_background; }, 10s));
    press_keys(x.display(), window->id, {"Escape"});
    EXPECT_TRUE(game.wait(30s).exited);
    EXPECT_EQ(game.error_output(), "");
}

TEST(GameWindow, FullscreenRefusedForWantOfAWindowManagerKeepsThePictureWhole) {
    // No window manager: the request changes nothing on the server, though
    // SDL reports the screen's size from then on.
    Xvfb x;
    GameFolder folder;
    std::map<std::string, std::string> env = x.environment();
    env["ZOBRA_SAVE"] = (folder.path() / "save.json").string();
    Process game(folder.executable(), env, folder.path());
    std::optional<WindowInfo> window = find_window(x.display(), "Zobra", 30s);
    ASSERT_TRUE(window) << game.error_output();
    ASSERT_TRUE(eventually(
        [&] { return logged(folder, "start: first frame on its way to the screen"); }, 30s));

    // The title's gold "Z" at three window pixels a canvas pixel, as before
    // the request, and not the top bar of a picture sized for the screen.
    for (const char* key : {"F11", "alt+Return"}) {
        press_keys(x.display(), window->id, {key});
        std::this_thread::sleep_for(500ms);
        const Picture picture = screenshot(x.display(), window->id);
        ASSERT_EQ(picture.width, 960) << key;
        EXPECT_EQ(picture.at(3 * 102 + 1, 61), 0xFACC30u) << key;
    }
    press_keys(x.display(), window->id, {"Escape"});
    EXPECT_TRUE(game.wait(30s).exited);
}

}  // namespace
}  // namespace zobra::e2e
