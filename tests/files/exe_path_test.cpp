// Where the log and the crash report go: beside a writable executable, else
// in the player's state folder, following the XDG rules for its location.

#include "files/exe_path.h"

#include <gtest/gtest.h>

namespace zobra {
namespace {

namespace fs = std::filesystem;

struct Case {
    const char* what;
    DiagnosticsPlace place;
    std::optional<fs::path> folder;
};

TEST(DiagnosticsFolder, FollowsTheExecutableThenXdgStateHomeThenLocalAppDataThenHome) {
    const std::optional<fs::path> build = fs::path("/home/ada/zobra/build");
    const std::optional<std::string> none;
    const Case cases[] = {
        {"a build folder keeps its files beside the game",
         {build, true, "/home/ada/.state", "/home/ada", none},
         build},
        {"an installed game uses XDG_STATE_HOME",
         {fs::path("/usr/bin"), false, "/home/ada/.state", "/home/ada", none},
         fs::path("/home/ada/.state/zobra")},
        {"without XDG_STATE_HOME the state folder is under HOME",
         {fs::path("/usr/bin"), false, none, "/home/ada", none},
         fs::path("/home/ada/.local/state/zobra")},
        {"an empty XDG_STATE_HOME counts as unset",
         {fs::path("/usr/bin"), false, "", "/home/ada", none},
         fs::path("/home/ada/.local/state/zobra")},
        {"a relative XDG_STATE_HOME is ignored",
         {fs::path("/usr/bin"), false, "state", "/home/ada", none},
         fs::path("/home/ada/.local/state/zobra")},
        {"an executable that cannot be found counts as not writable",
         {std::nullopt, false, "/var/tmp/st", "/home/ada", none},
         fs::path("/var/tmp/st/zobra")},
        {"no usable folder at all leaves the files unwritten",
         {fs::path("/usr/bin"), false, "relative", "also-relative", none},
         std::nullopt},
        {"an installed game on Windows uses LOCALAPPDATA before HOME",
         {fs::path("/usr/bin"), false, none, "/home/ada", "/home/ada/AppData/Local"},
         fs::path("/home/ada/AppData/Local/zobra")},
        {"XDG_STATE_HOME comes before LOCALAPPDATA",
         {fs::path("/usr/bin"), false, "/home/ada/.state", none, "/home/ada/AppData/Local"},
         fs::path("/home/ada/.state/zobra")},
        {"nor does a missing HOME", {fs::path("/usr/bin"), false, none, none, none}, std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(choose_diagnostics_folder(c.place), c.folder) << c.what;
}

TEST(DiagnosticsFolder, TheTestsOwnWritableFolderIsUsedAsIs) {
    // The test program lies in the build folder, which may be written: its
    // files go beside it, whatever the environment says.
    const std::optional<fs::path> here = executable_folder();
    ASSERT_TRUE(here);
    EXPECT_EQ(diagnostics_file("zobra-controller.txt"), *here / "zobra-controller.txt");
}

}  // namespace
}  // namespace zobra
