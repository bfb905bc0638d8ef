// The real game started the way a player starts it: without a display, with
// a crash report that cannot be written, and in a window under Xvfb.

#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <fstream>

#include "e2e/process.h"

namespace zobra::e2e {
namespace {

using namespace std::chrono_literals;

// The environment of a machine without any window system.
std::map<std::string, std::string> no_display() { return {{"SDL_AUDIODRIVER", "dummy"}}; }

bool starts_with(const std::string& text, const std::string& prefix) {
    return text.rfind(prefix, 0) == 0;
}

// Where the crash entry begins. The Pro Controller thread may still add its
// own lines after it, so it need not be the last entry.
std::size_t crash_entry(const std::vector<std::string>& log) {
    for (std::size_t i = 0; i < log.size(); ++i)
        if (starts_with(log[i], "start: stopped: panicked at ")) return i;
    return log.size();
}

TEST(GameStart, WithoutADisplayStopsThroughTheCrashReport) {
    GameFolder folder;
    Result r = run_to_end({folder.executable().string()}, no_display(), folder.path(), 60s);
    EXPECT_FALSE(r.ending.exited) << "status " << r.ending.status;
    EXPECT_EQ(r.ending.signal, SIGABRT);

    const std::string report = read_file(folder.crash_file());
    EXPECT_TRUE(starts_with(report, "Zobra 0.1.0 konnte nicht weiterlaufen.\n\npanicked at src/"))
        << report;
    EXPECT_NE(report.find(":\nthe window system can be reached: "), std::string::npos) << report;
    EXPECT_TRUE(report.ends_with("\n\nSystem: linux x86_64")) << report;

    // The error box cannot be shown, so its text goes to the error stream.
    EXPECT_NE(r.err.find(report + "\n\nGespeichert in " + folder.crash_file().string()),
              std::string::npos)
        << r.err;

    std::vector<std::string> log = read_lines(folder.log_file());
    ASSERT_GE(log.size(), 4u);
    EXPECT_EQ(log[0], "Zobra build 5");
    EXPECT_EQ(log[1], "start: started");
    const std::size_t crash = crash_entry(log);
    ASSERT_LT(crash + 1, log.size());
    EXPECT_TRUE(starts_with(log[crash], "start: stopped: panicked at src/")) << log[crash];
    EXPECT_TRUE(starts_with(log[crash + 1], "the window system can be reached: "))
        << log[crash + 1];
}

TEST(GameStart, AReportThatCannotBeWrittenLeavesOnlyTheMessageAndTheLogLine) {
    GameFolder folder;
    std::filesystem::create_directory(folder.crash_file());
    Result r = run_to_end({folder.executable().string()}, no_display(), folder.path(), 60s);
    EXPECT_FALSE(r.ending.exited);
    EXPECT_TRUE(std::filesystem::is_directory(folder.crash_file()));
    EXPECT_NE(r.err.find("Zobra 0.1.0 konnte nicht weiterlaufen."), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("Gespeichert in"), std::string::npos) << r.err;
    std::vector<std::string> log = read_lines(folder.log_file());
    EXPECT_LT(crash_entry(log), log.size());
}

TEST(GameStart, RunWithoutErrorLeavesAnOldReportAlone) {
    // The crash path is the only writer of the report: a run that stops
    // normally (here by its window being closed) must not touch it.
    Xvfb x;
    GameFolder folder;
    {
        std::ofstream old(folder.crash_file());
        old << "old report";
    }
    Process game(folder.executable(), x.environment(), folder.path());
    std::optional<WindowInfo> window = find_window(x.display(), "Zobra", 30s);
    ASSERT_TRUE(window);
    request_close(x.display(), window->id);
    Ending ending = game.wait(30s);
    EXPECT_TRUE(ending.exited);
    EXPECT_EQ(read_file(folder.crash_file()), "old report");
}

TEST(GameWindow, OpensOnTheTitleAndEndsCleanlyWhenClosed) {
    Xvfb x;
    GameFolder folder;
    Process game(folder.executable(), x.environment(), folder.path());

    std::optional<WindowInfo> window = find_window(x.display(), "Zobra", 30s);
    ASSERT_TRUE(window) << game.error_output();
    EXPECT_EQ(window->width, 960);
    EXPECT_EQ(window->height, 600);

    // Wait for the first frame, then look at what the X server shows.
    ASSERT_TRUE(eventually(
        [&] { return logged(folder, "start: first frame on its way to the screen"); }, 30s));
    Picture picture = screenshot(x.display(), window->id);
    ASSERT_EQ(picture.width, 960);
    ASSERT_EQ(picture.height, 600);
    // The first frame is the title: the top bar of its gold "Z" runs along
    // canvas row 20 from column 102, three window pixels to a canvas pixel.
    for (int cx = 102; cx < 122; ++cx) EXPECT_EQ(picture.at(3 * cx + 1, 61), 0xFACC30u) << cx;

    request_close(x.display(), window->id);
    Ending ending = game.wait(30s);
    EXPECT_TRUE(ending.exited);
    EXPECT_EQ(ending.status, 0);

    const std::vector<std::string> entries = start_entries(folder.log_file());
    const std::vector<std::string> expected_prefix = {
        "start: started",
        "start: loading the save and drawing the sprites",
        "start: game set up, reaching for the window system",
        "start: entering the event loop",
        "start: opening the window",
        "start: window open, asking for a surface to draw on",
        "start: surface ready",
    };
    ASSERT_GE(entries.size(), expected_prefix.size() + 4);
    for (std::size_t i = 0; i < expected_prefix.size(); ++i)
        EXPECT_EQ(entries[i], expected_prefix[i]);
    const std::size_t n = entries.size();
    EXPECT_TRUE(entries[7] == "start: sound running" || entries[7] == "start: no sound");
    EXPECT_EQ(entries[8], "start: first frame on its way to the screen");
    EXPECT_EQ(entries[n - 2], "start: the window was closed");
    EXPECT_EQ(entries[n - 1], "start: the event loop has ended");
    EXPECT_FALSE(std::filesystem::exists(folder.crash_file()));
}

}  // namespace
}  // namespace zobra::e2e

namespace zobra::e2e {
namespace {

using namespace std::chrono_literals;

// Waits until the window shows a picture of the given size.
Picture picture_of_size(const std::string& display, unsigned long window, int w, int h) {
    Picture picture;
    eventually(
        [&] {
            picture = screenshot(display, window);
            return picture.width == w && picture.height == h;
        },
        30s);
    return picture;
}

// Started again and again without a session bus (the window system's and the
// sound's libraries may then fork helper processes), the game reaches its
// first frame every time: no thread of its own runs yet when they fork, so
// no child inherits a lock that thread held.
TEST(GameStart, StartsEveryTimeWithoutHangingBeforeTheWindow) {
    Xvfb x;
    std::map<std::string, std::string> env = x.environment();
    env.erase("DBUS_SESSION_BUS_ADDRESS");  // the other tests give a bus that is not there
    for (int start = 0; start < 12; ++start) {
        SCOPED_TRACE("start " + std::to_string(start + 1));
        GameFolder folder;
        env["ZOBRA_SAVE"] = (folder.path() / "save.json").string();
        Process game(folder.executable(), env, folder.path());
        ASSERT_TRUE(eventually(
            [&] { return logged(folder, "start: first frame on its way to the screen"); }, 30s))
            << game.error_output();
        std::optional<WindowInfo> window = find_window(x.display(), "Zobra", 30s);
        ASSERT_TRUE(window);
        request_close(x.display(), window->id);
        const Ending ending = game.wait(30s);
        EXPECT_TRUE(ending.exited && ending.status == 0);
    }
}

TEST(GameWindow, FollowsResizesWithBarsAndCopesWithATinyWindow) {
    Xvfb x;
    GameFolder folder;
    Process game(folder.executable(), x.environment(), folder.path());
    std::optional<WindowInfo> window = find_window(x.display(), "Zobra", 30s);
    ASSERT_TRUE(window);

    // Without a window manager the window can be made smaller than its minimum.
    ASSERT_TRUE(xdotool(x.display(), {"windowsize", std::to_string(window->id), "1", "1"}));
    std::this_thread::sleep_for(300ms);
    EXPECT_TRUE(game.running());

    // 500 × 300 scales by 1.5: the 480 × 300 title (dimmed bricks, never
    // black at its edges) between black bars of 10.
    ASSERT_TRUE(xdotool(x.display(), {"windowsize", std::to_string(window->id), "500", "300"}));
    ASSERT_TRUE(eventually(
        [&] {
            Picture p = picture_of_size(x.display(), window->id, 500, 300);
            return p.width == 500 && p.at(9, 150) == 0x000000 && p.at(10, 150) != 0x000000 &&
                   p.at(489, 150) != 0x000000 && p.at(490, 150) == 0x000000;
        },
        30s));

    request_close(x.display(), window->id);
    Ending ending = game.wait(30s);
    EXPECT_TRUE(ending.exited);
    EXPECT_EQ(ending.status, 0);
    EXPECT_TRUE(game.error_output().find("could not") == std::string::npos) << game.error_output();
}

TEST(GameWindow, ShowsTheWholePictureAgainAfterBeingHiddenAndShownOrResized) {
    // Frames send only what changed, so whatever the window system lost
    // must come back through the game: a window shown again, or given a
    // new size, gets the whole picture, even where nothing moved.
    Xvfb x;
    GameFolder folder;
    Process game(folder.executable(), x.environment(), folder.path());
    std::optional<WindowInfo> window = find_window(x.display(), "Zobra", 30s);
    ASSERT_TRUE(window);
    const std::string id = std::to_string(window->id);
    // The top bar of the gold "Z" of the title (canvas row 20, columns 102
    // on) stands still; scaled by `factor` from the picture's left edge.
    auto gold_z_shows = [&](int factor, int left) {
        const Picture p = screenshot(x.display(), window->id);
        if (p.width < left + factor * 122) return false;
        for (int cx = 102; cx < 122; ++cx)
            if (p.at(left + factor * cx + 1, factor * 20 + 1) != 0xFACC30u) return false;
        return true;
    };
    ASSERT_TRUE(eventually([&] { return gold_z_shows(3, 0); }, 30s));

    for (int round = 0; round < 2; ++round) {
        ASSERT_TRUE(xdotool(x.display(), {"windowunmap", "--sync", id}));
        std::this_thread::sleep_for(200ms);
        ASSERT_TRUE(xdotool(x.display(), {"windowmap", "--sync", id}));
        EXPECT_TRUE(eventually([&] { return gold_z_shows(3, 0); }, 10s)) << "round " << round;
    }

    // Larger, then back: 1000 × 600 shows the 960 × 600 picture from column 20.
    ASSERT_TRUE(xdotool(x.display(), {"windowsize", id, "1000", "600"}));
    EXPECT_TRUE(eventually([&] { return gold_z_shows(3, 20); }, 10s));
    ASSERT_TRUE(xdotool(x.display(), {"windowsize", id, "960", "600"}));
    EXPECT_TRUE(eventually([&] { return gold_z_shows(3, 0); }, 10s));

    request_close(x.display(), window->id);
    EXPECT_TRUE(game.wait(30s).exited);
    EXPECT_EQ(game.error_output().find("could not"), std::string::npos) << game.error_output();
}

}  // namespace
}  // namespace zobra::e2e
