// The game installed the way a packager installs it: `cmake --install` with
// the prefix /usr into a temporary DESTDIR, the installed files checked with
// the desktop's own validators, and the installed game started from a copy of
// the tree that the player may not write, as /usr/bin is for a player.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <regex>
#include <set>
#include <sstream>

#include "e2e/process.h"

namespace zobra::e2e {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const std::string app_id = ZOBRA_APP_ID;
const std::string bindir = ZOBRA_INSTALL_BINDIR;  // "bin", or "games" for Debian

std::vector<int> icon_sizes() {
    std::vector<int> sizes;
    std::stringstream list(ZOBRA_ICON_SIZES);
    for (std::string size; std::getline(list, size, ',');) sizes.push_back(std::stoi(size));
    return sizes;
}

// A fresh folder under /tmp, removed at the end even after the test took
// away its write permissions.
class TempFolder {
  public:
    TempFolder() {
        char pattern[] = "/tmp/zobra-install-XXXXXX";
        if (mkdtemp(pattern) == nullptr) throw std::runtime_error("no temporary folder");
        path_ = pattern;
    }
    ~TempFolder() {
        std::error_code ignored;
        fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
        for (auto it = fs::recursive_directory_iterator(path_, ignored);
             it != fs::recursive_directory_iterator(); it.increment(ignored))
            if (it->is_directory(ignored) && !it->is_symlink(ignored))
                fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
        fs::remove_all(path_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const fs::path& path() const { return path_; }

  private:
    fs::path path_;
};

// Every regular file below `root`, relative to it.
std::set<std::string> files_below(const fs::path& root) {
    std::set<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        if (entry.is_regular_file()) files.insert(fs::relative(entry.path(), root).string());
    return files;
}

// Takes every write permission away below and at `root`.
void make_read_only(const fs::path& root) {
    const fs::perms no_write =
        fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        fs::permissions(entry.path(), no_write, fs::perm_options::remove);
    fs::permissions(root, no_write, fs::perm_options::remove);
}

// How the installed game is started: as root, the test first gives up the
// power to write where the permissions forbid it, so that a read-only folder
// is read-only for the game too.
std::vector<std::string> as_player(const fs::path& program) {
    if (geteuid() != 0) return {program.string()};
    return {"setpriv", "--bounding-set=-dac_override,-dac_read_search,-fowner", "--",
            program.string()};
}

// The value of `key=` in a desktop entry, or nothing.
std::optional<std::string> desktop_value(const std::string& entry, const std::string& key) {
    std::istringstream lines(entry);
    for (std::string line; std::getline(lines, line);)
        if (line.starts_with(key + "=")) return line.substr(key.size() + 1);
    return std::nullopt;
}

// RGBA bytes of a PNG as ImageMagick decodes it, after checking its size.
std::optional<std::string> rgba_pixels(const fs::path& png, int side) {
    const Result size =
        run_to_end({"identify", "-format", "%w %h", png.string()}, {}, png.parent_path(), 60s);
    if (size.ending.status != 0 || size.out != std::to_string(side) + " " + std::to_string(side))
        return std::nullopt;
    const Result raw =
        run_to_end({"convert", png.string(), "-depth", "8", "rgba:-"}, {}, png.parent_path(), 60s);
    if (raw.ending.status != 0 || raw.out.size() != std::size_t(side) * side * 4)
        return std::nullopt;
    return raw.out;
}

// The game installed with the prefix /usr into a temporary DESTDIR.
class Installed : public ::testing::Test {
  protected:
    void SetUp() override {
        const Result r = run_to_end({ZOBRA_CMAKE, "--install", ZOBRA_BUILD_DIR, "--prefix", "/usr"},
                                    {{"DESTDIR", destdir_.path().string()}}, destdir_.path(), 300s);
        ASSERT_TRUE(r.ending.exited && r.ending.status == 0) << r.out << r.err;
    }

    fs::path root() const { return destdir_.path(); }
    fs::path usr() const { return destdir_.path() / "usr"; }
    fs::path desktop_entry() const { return usr() / "share/applications" / (app_id + ".desktop"); }
    fs::path metainfo() const { return usr() / "share/metainfo" / (app_id + ".metainfo.xml"); }
    fs::path icon(int size) const {
        const std::string side = std::to_string(size);
        return usr() / "share/icons/hicolor" / (side + "x" + side) / "apps" / (app_id + ".png");
    }

    // A copy of the installed tree that nobody may write; the game in it.
    fs::path read_only_game(const TempFolder& copy) const {
        fs::copy(root(), copy.path() / "root", fs::copy_options::recursive);
        make_read_only(copy.path() / "root");
        return copy.path() / "root/usr" / bindir / "zobra";
    }

  private:
    TempFolder destdir_;
};

TEST_F(Installed, PutsEveryFileInItsPlaceAndNothingElse) {
    std::set<std::string> expected = {
        "usr/" + bindir + "/zobra",
        "usr/" + bindir + "/zobra-relay",
        "usr/share/man/man6/zobra-relay.6",
        "usr/lib/systemd/system/zobra-relay.service",
        "usr/share/applications/" + app_id + ".desktop",
        "usr/share/metainfo/" + app_id + ".metainfo.xml",
        "usr/share/man/man6/zobra.6",
        "usr/lib/udev/rules.d/70-zobra-procon.rules",
        "usr/share/doc/zobra/copyright",
        "usr/share/doc/zobra/changelog.gz",
    };
    for (int size : icon_sizes()) expected.insert(fs::relative(icon(size), root()).string());
    EXPECT_EQ(files_below(root()), expected);

    const fs::perms exe = fs::status(usr() / bindir / "zobra").permissions();
    EXPECT_NE(exe & fs::perms::others_exec, fs::perms::none);
    EXPECT_EQ(icon_sizes(), (std::vector<int>{16, 32, 48, 64, 128, 256}));
}

TEST_F(Installed, DesktopEntryPassesTheValidatorAndNamesTheInstalledProgramAndIcon) {
    const Result r =
        run_to_end({"desktop-file-validate", desktop_entry().string()}, {}, root(), 60s);
    EXPECT_EQ(r.ending.status, 0) << r.out << r.err;
    EXPECT_EQ(r.out + r.err, "") << "the validator has remarks";

    const std::string entry = read_file(desktop_entry());
    const std::optional<std::string> exec = desktop_value(entry, "Exec");
    ASSERT_TRUE(exec);
    EXPECT_TRUE(fs::exists(usr() / bindir / *exec)) << *exec;
    EXPECT_EQ(desktop_value(entry, "Icon"), app_id);
    EXPECT_EQ(desktop_value(entry, "Terminal"), "false");
    EXPECT_EQ(desktop_value(entry, "Categories"), "Game;ArcadeGame;");
    for (const char* key : {"Name", "Comment", "Comment[de]", "Keywords", "Keywords[de]"})
        EXPECT_TRUE(desktop_value(entry, key)) << key;
}

TEST_F(Installed, MetainfoPassesTheValidatorAndNamesTheMenuEntryAndPublishedPictures) {
    const Result r =
        run_to_end({"appstreamcli", "validate", "--no-net", "--no-color", metainfo().string()}, {},
                   root(), 120s);
    EXPECT_EQ(r.ending.status, 0) << r.out << r.err;
    EXPECT_EQ(r.out.find("W: "), std::string::npos) << r.out;

    const std::string xml = read_file(metainfo());
    EXPECT_NE(xml.find("<id>" + app_id + "</id>"), std::string::npos);
    EXPECT_NE(xml.find("<launchable type=\"desktop-id\">" + app_id + ".desktop</launchable>"),
              std::string::npos);

    // Every screenshot a software centre shows is one the repository keeps
    // for publishing, made by the game's screenshot mode.
    const std::regex image(R"(<image[^>]*>[^<]*/([^/<]+\.png)</image>)");
    int pictures = 0;
    for (auto it = std::sregex_iterator(xml.begin(), xml.end(), image);
         it != std::sregex_iterator(); ++it, ++pictures)
        EXPECT_TRUE(fs::exists(fs::path(ZOBRA_SOURCE_DIR) / "docs/screenshots" / (*it)[1].str()))
            << (*it)[1];
    EXPECT_GE(pictures, 2);
}

// The page as man shows it, after groff and man have found nothing to warn about.
std::string formatted_page(const fs::path& page, const fs::path& root) {
    const Result groff =
        run_to_end({"groff", "-man", "-z", "-ww", "-Tutf8", page.string()}, {}, root, 60s);
    EXPECT_EQ(groff.ending.status, 0);
    EXPECT_EQ(groff.err, "");
    const Result man = run_to_end({"man", "--warnings", "-l", page.string()},
                                  {{"MANWIDTH", "80"}, {"LC_ALL", "C.UTF-8"}}, root, 60s);
    EXPECT_EQ(man.ending.status, 0) << man.err;
    EXPECT_EQ(man.err, "");
    return man.out;
}

TEST_F(Installed, ManualPageFormatsWithoutWarningsAndTellsWhereTheFilesGo) {
    const std::string page = formatted_page(usr() / "share/man/man6/zobra.6", root());
    for (const char* words :
         {"NAME", "CONTROLS", "ENVIRONMENT", "FILES", "EXIT STATUS", "ZOBRA_SHOTS", "ZOBRA_SAVE",
          "XDG_STATE_HOME", "zobra-controller.txt", "zobra-crash.txt", "~/.local/state/zobra/"})
        EXPECT_NE(page.find(words), std::string::npos) << words;
}

// The relay's page names every option the program takes, and its unit
// starts the installed program as a sandboxed throwaway user.
TEST_F(Installed, RelayHasItsManualPageAndAServiceUnitThatStartsTheInstalledRelay) {
    const std::string page = formatted_page(usr() / "share/man/man6/zobra-relay.6", root());
    const Result help =
        run_to_end({(usr() / bindir / "zobra-relay").string(), "--help"}, {}, root(), 60s);
    ASSERT_EQ(help.ending.status, 0);
    const std::regex option("--[a-z-]+");
    for (auto it = std::sregex_iterator(help.out.begin(), help.out.end(), option);
         it != std::sregex_iterator(); ++it)
        EXPECT_NE(page.find(it->str()), std::string::npos) << it->str();

    const std::string unit = read_file(usr() / "lib/systemd/system/zobra-relay.service");
    std::smatch exec;
    ASSERT_TRUE(std::regex_search(unit, exec, std::regex("\\nExecStart=(/\\S+) ")));
    EXPECT_EQ(fs::path(exec[1].str()).filename(), "zobra-relay");
    for (const char* line : {"DynamicUser=yes", "ProtectSystem=strict", "NoNewPrivileges=yes",
                             "WantedBy=multi-user.target"})
        EXPECT_NE(unit.find(std::string("\n") + line + "\n"), std::string::npos) << line;
}

TEST_F(Installed, IconsShowTheSameTileAtEverySizeWithTransparentCorners) {
    const std::optional<std::string> small = rgba_pixels(icon(16), 16);
    ASSERT_TRUE(small);
    for (int size : icon_sizes()) {
        EXPECT_TRUE(
            run_to_end({"pngcheck", "-q", icon(size).string()}, {}, root(), 60s).ending.status == 0)
            << size;
        const std::optional<std::string> big = rgba_pixels(icon(size), size);
        ASSERT_TRUE(big) << size;
        // Each pixel of the tile becomes a square block of the larger icon.
        const int scale = size / 16;
        std::size_t wrong = 0;
        for (int y = 0; y < size; ++y)
            for (int x = 0; x < size; ++x)
                if (big->compare(std::size_t(y * size + x) * 4, 4, *small,
                                 std::size_t((y / scale) * 16 + x / scale) * 4, 4) != 0)
                    ++wrong;
        EXPECT_EQ(wrong, 0u) << size;
    }
    // Rounded corners, an opaque middle, and a digger on the ground: more
    // than the ground's few colours.
    const auto alpha = [&](int x, int y) { return std::uint8_t((*small)[(y * 16 + x) * 4 + 3]); };
    for (const auto& [x, y] : {std::pair{0, 0}, {15, 0}, {0, 15}, {15, 15}})
        EXPECT_EQ(alpha(x, y), 0) << x << "," << y;
    std::set<std::string> colours;
    for (int y = 1; y < 15; ++y)
        for (int x = 1; x < 15; ++x) {
            EXPECT_EQ(alpha(x, y), 255) << x << "," << y;
            colours.insert(small->substr(std::size_t(y * 16 + x) * 4, 3));
        }
    EXPECT_GE(colours.size(), 8u);
}

TEST_F(Installed, StartedFromAFolderNobodyMayWriteTheGameLogsToTheStateFolder) {
    TempFolder copy;
    const fs::path game = read_only_game(copy);
    const fs::path state = copy.path() / "state";
    const fs::path home = copy.path() / "home";
    fs::create_directory(home);
    const Result r = run_to_end(as_player(game),
                                {{"ZOBRA_SHOTS", (copy.path() / "shots").string()},
                                 {"ZOBRA_SAVE", (copy.path() / "save.json").string()},
                                 {"XDG_STATE_HOME", state.string()},
                                 {"HOME", home.string()},
                                 {"SDL_AUDIODRIVER", "dummy"}},
                                copy.path(), 300s);
    ASSERT_TRUE(r.ending.exited) << "signal " << r.ending.signal << "\n" << r.err;
    EXPECT_EQ(r.ending.status, 0) << r.err;
    EXPECT_TRUE(fs::exists(copy.path() / "shots/17-naming.png"));

    // The same log as beside a build folder's game, only elsewhere.
    EXPECT_EQ(read_lines(state / "zobra/zobra-controller.txt"),
              (std::vector<std::string>{"Zobra build 5", "start: started"}));
    EXPECT_EQ(fs::status(state / "zobra").permissions() & fs::perms::all, fs::perms::owner_all);
    EXPECT_EQ(files_below(game.parent_path()), (std::set<std::string>{"zobra", "zobra-relay"}));
    EXPECT_TRUE(fs::is_empty(home)) << "XDG_STATE_HOME is set, so HOME stays untouched";
}

TEST_F(Installed, StartedFromAFolderNobodyMayWriteTheCrashReportGoesToTheHomeStateFolder) {
    TempFolder copy;
    const fs::path game = read_only_game(copy);
    const fs::path home = copy.path() / "home";
    fs::create_directory(home);
    // No display: the game stops at once through its crash report.
    const Result r = run_to_end(
        as_player(game), {{"HOME", home.string()}, {"SDL_AUDIODRIVER", "dummy"}}, copy.path(), 60s);
    EXPECT_FALSE(r.ending.exited) << "status " << r.ending.status;
    EXPECT_EQ(r.ending.signal, SIGABRT);

    const fs::path folder = home / ".local/state/zobra";
    const std::string report = read_file(folder / "zobra-crash.txt");
    EXPECT_TRUE(report.starts_with("Zobra 0.1.0 konnte nicht weiterlaufen.\n\npanicked at src/"))
        << report;
    EXPECT_NE(r.err.find(report + "\n\nGespeichert in " + (folder / "zobra-crash.txt").string()),
              std::string::npos)
        << r.err;
    const std::vector<std::string> log = read_lines(folder / "zobra-controller.txt");
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(log[0], "Zobra build 5");
    EXPECT_EQ(log[1], "start: started");
    EXPECT_EQ(files_below(game.parent_path()), (std::set<std::string>{"zobra", "zobra-relay"}));
}

}  // namespace
}  // namespace zobra::e2e
