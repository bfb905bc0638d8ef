// The real game runs its Pro Controller driver on a thread of its own from
// start-up on, whatever HID devices the machine has.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "e2e/process.h"

namespace zobra::e2e {
namespace {

using namespace std::chrono_literals;

// The names of the process's threads, as the system shows them.
std::vector<std::string> thread_names(pid_t pid) {
    std::vector<std::string> names;
    const std::filesystem::path tasks = "/proc/" + std::to_string(pid) + "/task";
    std::error_code error;
    for (const auto& task : std::filesystem::directory_iterator(tasks, error)) {
        std::ifstream comm(task.path() / "comm");
        std::string name;
        if (std::getline(comm, name)) names.push_back(name);
    }
    return names;
}

TEST(GameProControllers, TheDriverThreadStartsWithTheGameAndListsTheControllersItSees) {
    Xvfb x;
    GameFolder folder;
    std::map<std::string, std::string> env = x.environment();
    env["ZOBRA_SAVE"] = (folder.path() / "save.json").string();
    Process game(folder.executable(), env, folder.path());

    std::optional<WindowInfo> window = find_window(x.display(), "Zobra", 30s);
    ASSERT_TRUE(window) << game.error_output();
    // The thread starts once the window and the sound are up.
    EXPECT_TRUE(eventually(
        [&] {
            const std::vector<std::string> threads = thread_names(game.pid());
            return std::find(threads.begin(), threads.end(), "procon") != threads.end();
        },
        10s));

    // The listing ends with a device line or "  none", whatever the machine has.
    std::vector<std::string> log;
    ASSERT_TRUE(eventually(
        [&] {
            log = read_lines(folder.log_file());
            const auto listing =
                std::find(log.begin(), log.end(), "devices that look like game controllers:");
            return listing != log.end() && listing + 1 != log.end() &&
                   (listing + 1)->starts_with("  ");
        },
        30s));
    const auto at = [&](const std::string& line) {
        return std::find(log.begin(), log.end(), line) - log.begin();
    };
    EXPECT_LT(at("start: loading the save and drawing the sprites"),
              at("devices that look like game controllers:"));

    request_close(x.display(), window->id);
    const Ending ending = game.wait(30s);
    EXPECT_TRUE(ending.exited);
    EXPECT_EQ(ending.status, 0);
}

}  // namespace
}  // namespace zobra::e2e
