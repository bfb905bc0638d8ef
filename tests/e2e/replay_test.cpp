// Replays of the real game: a level played with keys in a window is kept in
// the replays folder beside the save, and plays back headless and in the
// window to the same end; so does a whole duel. A crash leaves its match in
// the crash report, which plays back to the crash. A replay of other rules,
// and files that are no replay, are refused with one line and no crash.
//
// The window's pictures are read where the game writes its lines: the font
// draws the expected text into a canvas, and every pixel of its letters and
// shadow must show in the window (the canvas scaled three times).

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/types.h>

#include <algorithm>
#include <fstream>
#include <optional>
#include <regex>
#include <string>
#include <string_view>
#include <vector>

#include "art/canvas.h"
#include "art/font.h"
#include "e2e/process.h"

namespace zobra::e2e {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr Rgb text_colour{0xF0, 0xEC, 0xFA};
constexpr Rgb gold{0xFA, 0xCC, 0x30};
constexpr Rgb muted{0x96, 0x8C, 0xB4};
constexpr Rgb orange{0xF0, 0x82, 0x3C};  // player 1
constexpr Rgb unused{0x01, 0x02, 0x03};  // no colour the font draws

constexpr std::int32_t status_row = 13;     // the heads-up display's second row
constexpr std::int32_t playback_row = 190;  // the line along the bottom of a replay
constexpr std::int32_t hud_rows = 24;
constexpr std::string_view all_agree = "WIEDERHOLUNG ZU ENDE: ALLES STIMMT";

std::uint32_t canvas_pixel(const Picture& picture, int x, int y) {
    return picture.at(3 * x + 1, 3 * y + 1);
}

// Whether the window shows `text` as the game draws it at row y: centred
// over its shadow, or from column `left`.
bool shows_text(const Picture& picture, std::int32_t y, std::string_view text, Rgb colour,
                std::optional<std::int32_t> left = std::nullopt) {
    if (picture.width != 960 || picture.height != 600) return false;
    Canvas expected;
    expected.fill_rect(0, 0, static_cast<std::int32_t>(canvas_width),
                       static_cast<std::int32_t>(canvas_height), unused);
    if (left)
        draw_text(expected, *left, y, text, colour, 1);
    else
        draw_text_centred(expected, y, text, colour, 1);
    for (std::int32_t row = std::max(0, y - 1); row < std::min(200, y + 9); ++row)
        for (std::int32_t x = 0; x < 320; ++x) {
            const Rgb want =
                expected.pixel(static_cast<std::size_t>(x), static_cast<std::size_t>(row));
            if (want == unused) continue;
            const std::uint32_t rgb =
                std::uint32_t{want.r} << 16 | std::uint32_t{want.g} << 8 | want.b;
            if (canvas_pixel(picture, x, row) != rgb) return false;
        }
    return true;
}

// The top bar of the title's "Z", four canvas rows of gold from (102, 20).
bool shows_title(const Picture& picture) {
    if (picture.width != 960 || picture.height != 600) return false;
    for (int x = 102; x < 122; ++x)
        if (canvas_pixel(picture, x, 20) != 0xFACC30 || canvas_pixel(picture, x, 23) != 0xFACC30)
            return false;
    return true;
}

// Player 1's group on the heads-up display: alive (orange) or dead (grey).
bool shows_status(const Picture& picture, std::string_view status, bool alive) {
    return shows_text(picture, status_row, status, alive ? orange : muted, 4);
}

// The panel line a lost level, a decided round and a won duel end with.
bool shows_panel_line(const Picture& picture, std::int32_t y, std::string_view line) {
    return shows_text(picture, y, line, text_colour);
}
bool shows_lost(const Picture& picture) {
    return shows_panel_line(picture, 119, "LEERTASTE ODER TIPPEN: NOCHMAL");
}
bool shows_round_over(const Picture& picture) {
    return shows_panel_line(picture, 125, "LEERTASTE ODER TIPPEN: WEITER");
}
bool shows_duel_won(const Picture& picture) {
    return shows_panel_line(picture, 125, "LEERTASTE ODER TIPPEN: ZUM TITEL");
}

// The heads-up display's canvas pixels: the level, the score, the diggers'
// groups, the creatures left and the clock.
std::vector<std::uint32_t> hud_of(const Picture& picture) {
    std::vector<std::uint32_t> hud;
    for (int y = 0; y < hud_rows; ++y)
        for (int x = 0; x < 320; ++x) hud.push_back(canvas_pixel(picture, x, y));
    return hud;
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t from = 0;
    while (from < text.size()) {
        const std::size_t end = text.find('\n', from);
        lines.push_back(text.substr(from, end == std::string::npos ? end : end - from));
        if (end == std::string::npos) break;
        from = end + 1;
    }
    return lines;
}

std::vector<std::uint8_t> read_bytes(const fs::path& file) {
    const std::string text = read_file(file);
    return {text.begin(), text.end()};
}

void write_bytes(const fs::path& file, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

// The replay files in a folder, sorted by name (the order they were played).
std::vector<fs::path> replay_files(const fs::path& folder) {
    std::vector<fs::path> files;
    std::error_code code;
    for (const auto& entry : fs::directory_iterator(folder, code))
        if (entry.path().extension() == ".zrp") files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

// The game's environment under a server: its own save in its folder.
std::map<std::string, std::string> game_environment(const Xvfb& x, const GameFolder& folder) {
    std::map<std::string, std::string> env = x.environment();
    env["ZOBRA_SAVE"] = (folder.path() / "save.json").string();
    return env;
}

// ZOBRA_REPLAY_CHECK on a file, headless.
Result check_replay(const GameFolder& folder, const fs::path& file) {
    return run_to_end({folder.executable().string()}, {{"ZOBRA_REPLAY_CHECK", file.string()}},
                      folder.path(), 60s);
}

// The end hash a check printed on its first line, or nothing.
std::optional<std::string> end_hash(const Result& result) {
    static const std::regex line("end hash ([0-9a-f]{16})");
    const std::vector<std::string> lines = lines_of(result.out);
    std::smatch m;
    if (lines.empty() || !std::regex_match(lines[0], m, line)) return std::nullopt;
    return m[1].str();
}

// Sends F down (and keeps it there) to the focused window.
void hold_fast(const std::string& display, unsigned long window) {
    xdotool(display, {"windowfocus", "--sync", std::to_string(window), "keydown", "f"});
}

// Kills what is left of a process group when the test ends: the error box
// a crashed game leaves waiting for the player.
struct GroupKiller {
    pid_t group;
    ~GroupKiller() { kill(-group, SIGKILL); }
};

// ---------------------------------------------------------------------------
// Level 1 recorded once for the tests that need a replay of the real game.

struct RecordedLevel {
    std::string name;                 // its file name in the replays folder
    std::vector<std::uint8_t> bytes;  // the lost run
    std::vector<std::uint32_t> hud;   // the heads-up display on its end screen
};

// Level 1 from the title: a step, a charge, the digger in its own blast, the
// lost panel confirmed, then Escape twice (leaving the level it starts
// again, then the title).
void record_level(RecordedLevel& recorded) {
    Xvfb x;
    GameFolder folder;
    Process game(folder.executable(), game_environment(x, folder), folder.path());
    const std::optional<WindowInfo> window = find_window(x.display(), "Zobra", 30s);
    ASSERT_TRUE(window) << game.error_output();
    Grabber grabber(x.display(), window->id);
    ASSERT_TRUE(eventually([&] { return shows_title(grabber.grab()); }, 30s))
        << "the title screen never showed";

    press_keys(x.display(), window->id, {"Return"});
    ASSERT_TRUE(eventually([&] { return shows_status(grabber.grab(), "L1 W2", true); }, 30s))
        << "level 1 never started";
    press_keys(x.display(), window->id, {"Right", "space"});
    Picture lost;
    ASSERT_TRUE(eventually(
        [&] {
            lost = grabber.grab();
            return shows_lost(lost) && shows_status(lost, "L1 W2", false);
        },
        30s))
        << "the digger never died in its blast";
    // The fire has burnt out before the panel shows: nothing on the heads-up
    // display changes until the confirm ends the match.
    recorded.hud = hud_of(lost);

    const fs::path replays = folder.path() / "replays";
    press_keys(x.display(), window->id, {"space"});
    ASSERT_TRUE(eventually([&] { return !replay_files(replays).empty(); }, 30s))
        << "no replay was kept after the confirm";
    const fs::path file = replay_files(replays).front();
    recorded.name = file.filename().string();
    recorded.bytes = read_bytes(file);

    press_keys(x.display(), window->id, {"Escape"});
    ASSERT_TRUE(eventually([&] { return shows_title(grabber.grab()); }, 30s))
        << "Escape did not lead back to the title";
    press_keys(x.display(), window->id, {"Escape"});
    const Ending ending = game.wait(30s);
    EXPECT_TRUE(ending.exited && ending.status == 0) << game.error_output();
    // The level started again by the confirm and left by Escape is kept too.
    EXPECT_EQ(replay_files(replays).size(), 2u);
}

const RecordedLevel* recorded_level() {
    static std::optional<RecordedLevel> level;
    static bool tried = false;
    if (!tried) {
        tried = true;
        RecordedLevel recorded;
        record_level(recorded);
        if (!::testing::Test::HasFatalFailure()) level = std::move(recorded);
    }
    return level ? &*level : nullptr;
}

// ---------------------------------------------------------------------------

TEST(Replays, ALevelPlayedWithKeysPlaysBackHeadlessAndInTheWindowToItsEnd) {
    const RecordedLevel* level = recorded_level();
    ASSERT_NE(level, nullptr) << "level 1 could not be recorded";
    EXPECT_TRUE(std::regex_match(level->name, std::regex(R"(\d{8}-\d{6}-level01-solo\.zrp)")))
        << level->name;

    GameFolder folder;
    const fs::path file = folder.path() / level->name;
    write_bytes(file, level->bytes);
    const Result checked = check_replay(folder, file);
    EXPECT_TRUE(checked.ending.exited && checked.ending.status == 0) << checked.err;
    EXPECT_EQ(checked.err, "");
    const std::optional<std::string> hash = end_hash(checked);
    ASSERT_TRUE(hash) << checked.out;
    EXPECT_EQ(lines_of(checked.out).size(), 1u) << checked.out;

    // In the window it plays to the lost panel, says all agreed, and shows
    // the heads-up display the recorded match ended with.
    Xvfb x;
    std::map<std::string, std::string> env = game_environment(x, folder);
    env["ZOBRA_REPLAY"] = file.string();
    Process game(folder.executable(), env, folder.path());
    const std::optional<WindowInfo> window = find_window(x.display(), "Zobra", 30s);
    ASSERT_TRUE(window) << game.error_output();
    Grabber grabber(x.display(), window->id);
    Picture end;
    ASSERT_TRUE(eventually(
        [&] {
            end = grabber.grab();
            return shows_text(end, playback_row, all_agree, gold) && shows_lost(end);
        },
        60s))
        << "the replay never reached its end with every check agreeing";
    EXPECT_TRUE(hud_of(end) == level->hud) << "the heads-up display differs from the recording's";
    EXPECT_FALSE(shows_text(end, playback_row, "WIEDERHOLUNG   F: SCHNELL", gold));

    press_keys(x.display(), window->id, {"Escape"});
    const Ending ending = game.wait(30s);
    EXPECT_TRUE(ending.exited && ending.status == 0) << game.error_output();
    EXPECT_FALSE(fs::exists(folder.path() / "replays")) << "showing a replay kept a replay";
    EXPECT_FALSE(fs::exists(folder.path() / "save.json")) << "showing a replay saved";
}

TEST(Replays, AWholeDuelPlaysBackToTheSameEndHashHeadlessAndFastInTheWindow) {
    Xvfb x;
    GameFolder folder;
    const fs::path replays = folder.path() / "replays";
    fs::path file;
    {
        Process game(folder.executable(), game_environment(x, folder), folder.path());
        const std::optional<WindowInfo> window = find_window(x.display(), "Zobra", 30s);
        ASSERT_TRUE(window) << game.error_output();
        Grabber grabber(x.display(), window->id);
        ASSERT_TRUE(eventually([&] { return shows_title(grabber.grab()); }, 30s));
        // Solo, pair, then the duel of one person against the computer, on
        // the third arena, where the computer's diggers settle a match in
        // the fewest rounds.
        press_keys(x.display(), window->id, {"Up", "Up", "Right", "Right", "Return"});
        ASSERT_TRUE(
            eventually([&] { return shows_status(grabber.grab(), "SP 1: 0/3", true); }, 30s))
            << "the duel never started";

        // Each round the person lights a charge and stays on it; F hurries
        // the computer's fight, and Space confirms each round's end.
        hold_fast(x.display(), window->id);
        const auto deadline = std::chrono::steady_clock::now() + 240s;
        while (replay_files(replays).empty()) {
            ASSERT_TRUE(std::chrono::steady_clock::now() < deadline) << "the duel never ended";
            const Picture picture = grabber.grab();
            if (shows_round_over(picture) || shows_duel_won(picture)) {
                press_keys(x.display(), window->id, {"space"});
                eventually(
                    [&] {
                        const Picture p = grabber.grab();
                        return !shows_round_over(p) && !shows_duel_won(p);
                    },
                    10s);
            } else if (shows_status(picture, "SP 1", true)) {
                press_keys(x.display(), window->id, {"space"});
                eventually(
                    [&] {
                        const Picture p = grabber.grab();
                        return !shows_status(p, "SP 1", true) || shows_round_over(p);
                    },
                    10s);
            } else {
                std::this_thread::sleep_for(20ms);
            }
        }
        xdotool(x.display(), {"keyup", "f"});
        ASSERT_TRUE(eventually([&] { return shows_title(grabber.grab()); }, 30s))
            << "the won duel did not lead back to the title";
        press_keys(x.display(), window->id, {"Escape"});
        const Ending ending = game.wait(30s);
        EXPECT_TRUE(ending.exited && ending.status == 0) << game.error_output();
        ASSERT_EQ(replay_files(replays).size(), 1u);
        file = replay_files(replays).front();
        EXPECT_TRUE(std::regex_match(file.filename().string(),
                                     std::regex(R"(\d{8}-\d{6}-duel3-duelsolo\.zrp)")))
            << file;
    }

    const Result first = check_replay(folder, file);
    const Result second = check_replay(folder, file);
    for (const Result* r : {&first, &second}) {
        EXPECT_TRUE(r->ending.exited && r->ending.status == 0) << r->out << r->err;
        EXPECT_EQ(r->err, "");
    }
    ASSERT_TRUE(end_hash(first)) << first.out;
    EXPECT_EQ(end_hash(first), end_hash(second));

    std::map<std::string, std::string> env = game_environment(x, folder);
    env["ZOBRA_REPLAY"] = file.string();
    Process game(folder.executable(), env, folder.path());
    const std::optional<WindowInfo> window = find_window(x.display(), "Zobra", 30s);
    ASSERT_TRUE(window) << game.error_output();
    Grabber grabber(x.display(), window->id);
    hold_fast(x.display(), window->id);
    EXPECT_TRUE(eventually(
        [&] {
            const Picture p = grabber.grab();
            return shows_text(p, playback_row, all_agree, gold) && shows_duel_won(p);
        },
        120s))
        << "the duel's replay never reached its end with every check agreeing";
    xdotool(x.display(), {"keyup", "f"});
    press_keys(x.display(), window->id, {"Escape"});
    const Ending ending = game.wait(30s);
    EXPECT_TRUE(ending.exited && ending.status == 0) << game.error_output();
    EXPECT_EQ(replay_files(replays).size(), 1u) << "showing a replay kept a replay";
}

TEST(Replays, AReplayOfOtherRulesIsRefusedWithOneLineHeadlessAndWithoutAWindow) {
    const RecordedLevel* level = recorded_level();
    ASSERT_NE(level, nullptr) << "level 1 could not be recorded";
    // The rules hash follows the magic, the format version and the game's
    // version (a length byte and its letters).
    std::vector<std::uint8_t> bytes = level->bytes;
    ASSERT_GT(bytes.size(), 11u);
    const std::size_t rules_at = 11u + bytes[10];
    ASSERT_LT(rules_at + 8, bytes.size());
    bytes[rules_at + 3] ^= 0x10;
    GameFolder folder;
    const fs::path file = folder.path() / "other-rules.zrp";
    write_bytes(file, bytes);

    const Result checked = check_replay(folder, file);
    EXPECT_TRUE(checked.ending.exited && checked.ending.status == 2) << checked.err;
    EXPECT_EQ(checked.out, "");
    const std::vector<std::string> lines = lines_of(checked.err);
    ASSERT_EQ(lines.size(), 1u) << checked.err;
    EXPECT_NE(lines[0].find("other rules"), std::string::npos) << lines[0];
    EXPECT_EQ(lines[0].rfind("replay " + file.string() + " ", 0), 0u) << lines[0];

    Xvfb x;
    std::map<std::string, std::string> env = game_environment(x, folder);
    env["ZOBRA_REPLAY"] = file.string();
    const Result shown = run_to_end({folder.executable().string()}, env, folder.path(), 60s);
    EXPECT_TRUE(shown.ending.exited && shown.ending.status != 0) << shown.err;
    EXPECT_EQ(shown.err, checked.err);
    for (const std::string& entry : start_entries(folder.log_file()))
        EXPECT_EQ(entry.find("window"), std::string::npos) << entry;
    EXPECT_FALSE(find_window(x.display(), "Zobra", 0ms));
    EXPECT_FALSE(fs::exists(folder.crash_file()));
}

TEST(Replays, ACrashDuringPlayLeavesAReportThatPlaysBackToTheCrash) {
    Xvfb x;
    GameFolder folder;
    std::map<std::string, std::string> env = game_environment(x, folder);
    env["ZOBRA_TEST_CRASH_TICK"] = "40";
    {
        Process game(folder.executable(), env, folder.path());
        GroupKiller error_box{game.pid()};
        const std::optional<WindowInfo> window = find_window(x.display(), "Zobra", 30s);
        ASSERT_TRUE(window) << game.error_output();
        Grabber grabber(x.display(), window->id);
        ASSERT_TRUE(eventually([&] { return shows_title(grabber.grab()); }, 30s));
        press_keys(x.display(), window->id, {"Return"});
        ASSERT_TRUE(eventually([&] { return shows_status(grabber.grab(), "L1 W2", true); }, 30s));
        // Walking right (the digger may or may not get that far) until the
        // game stops.
        xdotool(x.display(),
                {"windowfocus", "--sync", std::to_string(window->id), "keydown", "Right"});
        const Ending ending = game.wait(60s);
        xdotool(x.display(), {"keyup", "Right"});
        EXPECT_FALSE(ending.timed_out);
        EXPECT_EQ(ending.signal, SIGABRT);
    }
    const std::string report = read_file(folder.crash_file());
    EXPECT_NE(report.find("-----BEGIN ZOBRA REPLAY-----"), std::string::npos) << report;
    EXPECT_NE(report.find("-----END ZOBRA REPLAY-----"), std::string::npos) << report;

    const Result checked = check_replay(folder, folder.crash_file());
    EXPECT_TRUE(checked.ending.exited && checked.ending.status == 0) << checked.err;
    EXPECT_EQ(checked.err, "");
    const std::vector<std::string> lines = lines_of(checked.out);
    ASSERT_EQ(lines.size(), 2u) << checked.out;
    EXPECT_TRUE(end_hash(checked)) << checked.out;
    std::smatch m;
    ASSERT_TRUE(std::regex_match(lines[1], m, std::regex(R"(the game stopped at tick (\d+))")))
        << lines[1];
    const std::string tick = m[1].str();
    EXPECT_GE(std::stoul(tick), 40u);

    // In the window it plays to the tick the game stopped at, and says so.
    env.erase("ZOBRA_TEST_CRASH_TICK");
    env["ZOBRA_REPLAY"] = folder.crash_file().string();
    Process game(folder.executable(), env, folder.path());
    const std::optional<WindowInfo> window = find_window(x.display(), "Zobra", 30s);
    ASSERT_TRUE(window) << game.error_output();
    Grabber grabber(x.display(), window->id);
    EXPECT_TRUE(eventually(
        [&] {
            return shows_text(grabber.grab(), playback_row,
                              "WIEDERHOLUNG BIS ZUM ABSTURZ: TICK " + tick, gold);
        },
        60s))
        << "the crash's replay never reached tick " << tick;
    press_keys(x.display(), window->id, {"Escape"});
    const Ending ending = game.wait(30s);
    EXPECT_TRUE(ending.exited && ending.status == 0) << game.error_output();
    EXPECT_EQ(read_file(folder.crash_file()), report) << "showing the replay crashed";
}

// A broken file is refused with one line naming it and what is wrong,
// exit status 2, and no crash.
TEST(Replays, BrokenFilesAreEachRefusedWithOneClearLine) {
    const RecordedLevel* level = recorded_level();
    ASSERT_NE(level, nullptr) << "level 1 could not be recorded";
    const std::vector<std::uint8_t>& good = level->bytes;
    ASSERT_GT(good.size(), 60u);
    GameFolder folder;

    struct Case {
        std::string name;
        std::vector<std::uint8_t> bytes;
        std::string says;
    };
    // What each broken byte says is the reader's own table (core's replay
    // tests); here the game as a program: a real file cut short, a text
    // without a replay in it, and a file far too large.
    const std::string text = "zobra crash report\nfatal signal SIGSEGV\nno replay here\n";
    const std::vector<Case> cases = {
        {"cut",
         {good.begin(), good.begin() + static_cast<std::ptrdiff_t>(good.size() / 2)},
         "is cut short"},
        {"text", {text.begin(), text.end()}, "is not a replay"},
    };
    std::vector<std::pair<fs::path, std::string>> files;
    for (const Case& c : cases) {
        const fs::path file = folder.path() / (c.name + ".zrp");
        write_bytes(file, c.bytes);
        files.emplace_back(file, c.says);
    }
    // Far over 16 MiB, but a sparse file that takes no room.
    const fs::path huge = folder.path() / "huge.zrp";
    write_bytes(huge, good);
    fs::resize_file(huge, std::uintmax_t{17} << 20);
    files.emplace_back(huge, "is larger than any replay (over 16 MiB)");

    for (const auto& [file, says] : files) {
        SCOPED_TRACE(file.filename().string());
        const Result r = check_replay(folder, file);
        EXPECT_TRUE(r.ending.exited && r.ending.status == 2) << r.out << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "replay " + file.string() + " " + says + "\n");
        EXPECT_FALSE(fs::exists(folder.crash_file())) << read_file(folder.crash_file());
    }
}

}  // namespace
}  // namespace zobra::e2e
