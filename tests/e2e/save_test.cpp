// The real game and its save file: two copies on one save, and a save path
// that names something other than a file.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>

#include "e2e/process.h"

namespace zobra::e2e {
namespace {

using namespace std::chrono_literals;

// Waits until the game in `folder` shows its first frame; gives its window.
std::optional<WindowInfo> started(const Xvfb& x, const GameFolder& folder) {
    std::optional<WindowInfo> window = find_window(x.display(), "Zobra", 30s);
    if (!window ||
        !eventually([&] { return logged(folder, "start: first frame on its way to the screen"); },
                    30s))
        return std::nullopt;
    return window;
}

void leave(const Xvfb& x, const WindowInfo& window, Process& game) {
    press_keys(x.display(), window.id, {"Escape"});
    const Ending ending = game.wait(30s);
    EXPECT_TRUE(ending.exited);
    EXPECT_EQ(ending.status, 0);
}

TEST(GameSave, TwoCopiesOnOneSaveLeaveTheSavingToTheFirst) {
    // Each copy has its own display and its own folder (the log goes beside
    // the executable); the save is shared.
    Xvfb first_x;
    Xvfb second_x;
    GameFolder first_folder;
    GameFolder second_folder;
    const std::filesystem::path save = first_folder.path() / "save.json";
    const std::string stored =
        R"({"solved":2,"best":[50,60],"music_off":false,"mode":"Solo","difficulty":"Normal",)"
        R"("slot":0,"name":"ANNA","others":[],"all_open":false})";
    std::ofstream(save, std::ios::binary) << stored;

    std::map<std::string, std::string> env = first_x.environment();
    env["ZOBRA_SAVE"] = save.string();
    Process first(first_folder.executable(), env, first_folder.path());
    const std::optional<WindowInfo> first_window = started(first_x, first_folder);
    ASSERT_TRUE(first_window) << first.error_output();

    env = second_x.environment();
    env["ZOBRA_SAVE"] = save.string();
    Process second(second_folder.executable(), env, second_folder.path());
    const std::optional<WindowInfo> second_window = started(second_x, second_folder);
    ASSERT_TRUE(second_window) << second.error_output();
    const std::string held = "another copy of the game holds the save " + save.string() +
                             ": this copy plays on without saving";
    EXPECT_TRUE(eventually([&] { return logged(second_folder, held); }, 10s));

    // The second copy plays (M turns its music off, Esc after it leaves) but
    // writes nothing, and says no more than it did at the start.
    press_keys(second_x.display(), second_window->id, {"m"});
    leave(second_x, *second_window, second);
    EXPECT_EQ(second.error_output(), held + "\n");
    EXPECT_EQ(read_file(save), stored);

    // The first copy saves as ever.
    press_keys(first_x.display(), first_window->id, {"m"});
    ASSERT_TRUE(eventually(
        [&] { return read_file(save).find(R"("music_off":true)") != std::string::npos; }, 10s))
        << read_file(save) << first.error_output();
    EXPECT_EQ(read_file(save).find(R"({"solved":2,"best":[50,60],)"), 0u) << read_file(save);
    leave(first_x, *first_window, first);
    EXPECT_EQ(first.error_output(), "");
    EXPECT_FALSE(logged(first_folder, held));
}

TEST(GameSave, ASavePathNamingAPipeNeitherStopsTheStartNorGetsReplaced) {
    Xvfb x;
    GameFolder folder;
    const std::filesystem::path pipe = folder.path() / "save.json";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    std::map<std::string, std::string> env = x.environment();
    env["ZOBRA_SAVE"] = pipe.string();
    Process game(folder.executable(), env, folder.path());
    const std::optional<WindowInfo> window = started(x, folder);
    ASSERT_TRUE(window) << game.error_output();
    const std::string unreadable = "save could not be read (not a regular file): starting over\n";
    EXPECT_EQ(game.error_output(), unreadable);

    press_keys(x.display(), window->id, {"m"});
    const std::string refused = "could not save: " + pipe.string() + ": not a regular file\n";
    EXPECT_TRUE(eventually([&] { return game.error_output() == unreadable + refused; }, 10s))
        << game.error_output();
    leave(x, *window, game);
    EXPECT_TRUE(std::filesystem::is_fifo(pipe));
    EXPECT_FALSE(std::filesystem::exists(folder.path() / "save.json.tmp"));
}

}  // namespace
}  // namespace zobra::e2e
