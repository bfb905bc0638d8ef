// The real game stopping on a fatal signal in its window: it ends at once,
// and its error box, a process of its own, holds nothing of the game.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include "e2e/process.h"

namespace zobra::e2e {
namespace {

using namespace std::chrono_literals;

TEST(GameCrash, EndsAtOnceAndItsErrorBoxLeavesTheSaveToTheNextStart) {
    Xvfb x;
    GameFolder folder;
    const std::filesystem::path save = folder.path() / "save.json";
    std::map<std::string, std::string> env = x.environment();
    env["ZOBRA_SAVE"] = save.string();
    Process game(folder.executable(), env, folder.path());
    ASSERT_TRUE(find_window(x.display(), "Zobra", 30s)) << game.error_output();
    ASSERT_TRUE(eventually(
        [&] { return logged(folder, "start: first frame on its way to the screen"); }, 30s));

    ASSERT_EQ(kill(game.pid(), SIGSEGV), 0);
    const Ending ending = game.wait(10s);
    EXPECT_FALSE(ending.timed_out);
    EXPECT_EQ(ending.signal, SIGABRT);
    EXPECT_NE(read_file(folder.crash_file()).find("fatal signal SIGSEGV"), std::string::npos);

    // The box outlives the game (it waits for the player), in a window of
    // its own that is smaller than the game's; meanwhile the save is free.
    EXPECT_TRUE(eventually(
        [&] {
            const std::optional<WindowInfo> box = find_window(x.display(), "Zobra", 1s);
            return box && box->width < 960;
        },
        20s));
    const int lock = open((save.string() + ".lock").c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(lock, 0);
    EXPECT_EQ(flock(lock, LOCK_EX | LOCK_NB), 0);
    close(lock);

    // The box stays in the game's process group: close it with the group.
    kill(-game.pid(), SIGKILL);
}

}  // namespace
}  // namespace zobra::e2e
