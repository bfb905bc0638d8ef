#include "files/log.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "files/crash_report.h"
#include "files/os.h"

namespace zobra {
namespace {

namespace fs = std::filesystem;

struct TempDir {
    fs::path path;
    TempDir() {
        static int made = 0;
        path = fs::temp_directory_path() /
               ("zobra-log-" + std::to_string(os::process_id()) + "-" + std::to_string(++made));
        fs::remove_all(path);
        fs::create_directories(path);
    }
    ~TempDir() { fs::remove_all(path); }
};

std::vector<std::string> lines_of(const fs::path& file) {
    std::vector<std::string> lines;
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

TEST(DiagnosticLog, StartsWithTheHeaderAndReplacesThePreviousRun) {
    TempDir dir;
    const fs::path file = dir.path / "zobra-controller.txt";
    {
        DiagnosticLog first([&] { return std::optional(file); });
        first.line("start: started");
        first.line("from the first run");
    }
    DiagnosticLog second([&] { return std::optional(file); });
    second.line("start: started");
    EXPECT_EQ(lines_of(file), (std::vector<std::string>{"Zobra build 5", "start: started"}));
}

TEST(DiagnosticLog, KeepsTheFirst600EntriesAndDropsTheRest) {
    TempDir dir;
    const fs::path file = dir.path / "log.txt";
    DiagnosticLog log([&] { return std::optional(file); });
    for (int i = 1; i <= 650; ++i) log.line("entry " + std::to_string(i));
    std::vector<std::string> lines = lines_of(file);
    ASSERT_EQ(lines.size(), 601u);
    EXPECT_EQ(lines[1], "entry 1");
    EXPECT_EQ(lines[600], "entry 600");
}

TEST(DiagnosticLog, EntriesFromManyThreadsNeverInterleave) {
    TempDir dir;
    const fs::path file = dir.path / "log.txt";
    DiagnosticLog log([&] { return std::optional(file); });
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t)
        writers.emplace_back([&log, t] {
            for (int i = 0; i < 100; ++i) log.line(std::string(200, static_cast<char>('a' + t)));
        });
    for (std::thread& w : writers) w.join();
    std::vector<std::string> lines = lines_of(file);
    ASSERT_EQ(lines.size(), 401u);
    for (std::size_t i = 1; i < lines.size(); ++i) {
        ASSERT_EQ(lines[i].size(), 200u);
        EXPECT_EQ(lines[i].find_first_not_of(lines[i][0]), std::string::npos);
    }
}

TEST(DiagnosticLog, IsSilentlyUnavailableWhenTheFileCannotBeCreated) {
    TempDir dir;
    int asked = 0;
    DiagnosticLog no_path([&] {
        ++asked;
        return std::optional<fs::path>();
    });
    no_path.line("lost");
    no_path.line("lost too");
    EXPECT_EQ(asked, 1);  // no second attempt

    const fs::path blocked = dir.path / "missing-folder" / "log.txt";
    DiagnosticLog no_folder([&] { return std::optional(blocked); });
    no_folder.line("lost");
    EXPECT_FALSE(fs::exists(blocked));
}

TEST(DiagnosticLog, TheCrashEntryGivesUpOnALockThatIsNotReleased) {
    // A thread that crashed while writing an entry never releases the lock:
    // here the first entry is held up while it asks where the file goes.
    TempDir dir;
    const fs::path file = dir.path / "zobra-controller.txt";
    std::atomic<bool> asked{false};
    std::atomic<bool> release{false};
    DiagnosticLog log([&] {
        asked = true;
        while (!release) std::this_thread::yield();
        return std::optional(file);
    });
    log.line_from_crash({"lost: ", "the log is not open yet"});
    std::thread holder([&] { log.line("start: started"); });
    while (!asked) std::this_thread::yield();
    const auto before = std::chrono::steady_clock::now();
    log.line_from_crash({"lost: ", "the lock stays taken"});
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(5));
    release = true;
    holder.join();

    log.line_from_crash({"start: stopped: ", "panicked at x:1:2:", "\nwhy"});
    EXPECT_EQ(lines_of(file),
              (std::vector<std::string>{"Zobra build 5", "start: started",
                                        "start: stopped: panicked at x:1:2:", "why"}));
}

// The system the tests were built for, as the report names it.
#ifdef _WIN32
constexpr const char* system_line = "System: windows x86_64";
#else
constexpr const char* system_line = "System: linux x86_64";
#endif

TEST(CrashReport, TextNamesTheVersionTheErrorAndTheSystem) {
    const std::string text =
        crash_report_text("panicked at src/sound/music.cpp:91:61:\nlead notes are note names");
    EXPECT_EQ(text, std::string("Zobra 0.1.0 konnte nicht weiterlaufen.\n\n"
                                "panicked at src/sound/music.cpp:91:61:\nlead notes are note "
                                "names\n\n") +
                        system_line);
    EXPECT_EQ(crash_message(text, std::nullopt), text);
    EXPECT_EQ(crash_message(text, fs::path("/games/zobra-crash.txt")),
              text + "\n\nGespeichert in /games/zobra-crash.txt");
}

TEST(CrashReport, ASecondReportReplacesTheFirst) {
    TempDir dir;
    const fs::path file = dir.path / "zobra-crash.txt";
    ASSERT_TRUE(write_crash_report(file, "a long first report"));
    ASSERT_TRUE(write_crash_report(file, "second"));
    std::ifstream in(file);
    std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(content, "second");
    EXPECT_FALSE(write_crash_report(dir.path / "no-such-folder" / "x.txt", "lost"));
}

}  // namespace
}  // namespace zobra
