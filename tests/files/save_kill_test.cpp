// A game killed while it saves: a real process writes changing records in a
// loop and is killed at random moments, hundreds of times. Whatever moment
// the kill hits, the save file holds one of the records completely, and the
// only other files ever left are the save's one temporary file and its lock.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <variant>

#include "files/save.h"

namespace zobra {
namespace {

namespace fs = std::filesystem;

// Record k: its number in "solved", and a length that changes with k, so
// that a file cut short or mixed from two records cannot pass for one.
Progress record(std::uint64_t k) {
    Progress progress;
    progress.solved = k;
    progress.slot = k % player_slots;
    progress.best.assign(k % 37, static_cast<std::uint32_t>(k * 7919));
    progress.name = std::string(k % 11, static_cast<char>('A' + k % 26));
    progress.music_off = k % 2 == 1;
    progress.mode = static_cast<Mode>(k % 4);
    if (k % 3 == 0)
        progress.others.push_back(Profile{(k + 1) % player_slots, "OTHER", k / 2, {1, 2}});
    return progress;
}

std::string read_file(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// Saves records first, first + 1, … until it is killed, as the game does:
// one store for the run, its lock taken when it loads.
[[noreturn]] void save_forever(std::uint64_t first) {
    SaveStore store(save_path());
    store.load();
    for (std::uint64_t k = first; k < first + 1'000'000; ++k) store.save(record(k));
    _exit(0);
}

TEST(InterruptedSave,
     AGameKilledAtAnyMomentOfSavingLeavesOneCompleteRecordAndAtMostOneTemporaryFile) {
    // The folder and ZOBRA_SAVE, put back however the test ends.
    struct Place {
        fs::path dir;
        std::optional<std::string> previous;
        ~Place() {
            if (previous)
                setenv("ZOBRA_SAVE", previous->c_str(), 1);
            else
                unsetenv("ZOBRA_SAVE");
            std::error_code ignored;
            fs::remove_all(dir, ignored);
        }
    } place;
    char pattern[] = "/tmp/zobra-kill-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    place.dir = pattern;
    if (const char* value = std::getenv("ZOBRA_SAVE")) place.previous = value;
    const fs::path dir = place.dir;
    const fs::path save = dir / "save.json";
    const fs::path temporary = temporary_save_path(save);
    setenv("ZOBRA_SAVE", save.c_str(), 1);

    constexpr int rounds = 300;
    constexpr std::uint64_t per_round = 1'000'000;
    std::mt19937 random(20240611);
    std::uniform_int_distribution<int> wait_us(0, 6000);
    int with_temporary = 0, with_save = 0;
    std::uint64_t newest = 0;
    for (int round = 0; round < rounds && !HasFailure(); ++round) {
        const std::uint64_t first = per_round * static_cast<std::uint64_t>(round);
        const pid_t saver = fork();
        ASSERT_GE(saver, 0);
        if (saver == 0) save_forever(first);
        std::this_thread::sleep_for(std::chrono::microseconds(wait_us(random)));
        kill(saver, SIGKILL);
        int status = 0;
        ASSERT_EQ(waitpid(saver, &status, 0), saver);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the saver ended by itself in round " << round;

        for (const fs::directory_entry& entry : fs::directory_iterator(dir))
            ASSERT_TRUE(entry.path() == save || entry.path() == temporary ||
                        entry.path() == save_lock_path(save))
                << "round " << round << " left " << entry.path();
        with_temporary += fs::exists(temporary) ? 1 : 0;
        if (!fs::exists(save)) {
            ASSERT_EQ(newest, 0u) << "the save vanished in round " << round;
            continue;
        }
        ++with_save;
        const std::string text = read_file(save);
        const std::variant<Progress, std::string> decoded = decode_progress(text);
        const Progress* stored = std::get_if<Progress>(&decoded);
        ASSERT_NE(stored, nullptr) << "round " << round << " left a broken save: " << text;
        ASSERT_EQ(*stored, record(stored->solved)) << "round " << round << ": " << text;
        ASSERT_LT(stored->solved, first + per_round) << "a record from the future";
        ASSERT_GE(stored->solved, newest) << "the save went back to an older record";
        newest = stored->solved;
    }

    // The next save of a game that lives on puts the temporary file to use.
    SaveStore store(save_path());
    store.load();
    EXPECT_EQ(store.save(record(7)), SaveOutcome::Written);
    EXPECT_EQ(read_file(save), encode_progress(record(7)));
    EXPECT_FALSE(fs::exists(temporary));
    std::printf("kill test: %d kills, %d with a save, %d left a temporary file\n", rounds,
                with_save, with_temporary);
}

// Two copies of the game on one save whose lock cannot be taken (the lock
// file is a folder, as one left by a mistake or owned by another user would
// be): both save, each through temporary files of its own, so that the save
// read at any moment while they race is one whole record of one of them,
// and once they are done nothing of theirs is left beside it.
TEST(UnlockedSave, TwoCopiesSavingAtOnceWithoutTheLockOnlyEverPublishWholeRecords) {
    char pattern[] = "/tmp/zobra-unlocked-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const fs::path dir = pattern;
    const fs::path save = dir / "save.json";
    fs::create_directory(save_lock_path(save));

    constexpr std::uint64_t saves_each = 400;
    pid_t copies[2] = {};
    for (std::uint64_t copy = 0; copy < 2; ++copy) {
        copies[copy] = fork();
        ASSERT_GE(copies[copy], 0);
        if (copies[copy] == 0) {
            // The notice goes to a file of the copy's own, out of the way.
            if (!std::freopen((dir / ("errors-" + std::to_string(copy))).c_str(), "w", stderr))
                _exit(3);
            SaveStore store(save);
            store.load();
            if (!store.unlocked()) _exit(2);
            for (std::uint64_t k = 0; k < saves_each; ++k)
                if (store.save(record(1 + copy * saves_each + k)) != SaveOutcome::Written) _exit(1);
            std::fflush(stderr);
            _exit(0);
        }
    }
    // Reads the save as often as it can while both copies run (a bounded
    // number of times, and never after both have ended).
    int reads = 0, running = 2;
    std::string broken;
    for (int look = 0; look < 1'000'000 && running > 0 && broken.empty(); ++look) {
        for (pid_t& copy : copies) {
            int status = 0;
            if (copy > 0 && waitpid(copy, &status, WNOHANG) == copy) {
                EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
                copy = 0;
                --running;
            }
        }
        if (!fs::exists(save)) continue;
        const std::string text = read_file(save);
        ++reads;
        const std::variant<Progress, std::string> decoded = decode_progress(text);
        const Progress* stored = std::get_if<Progress>(&decoded);
        if (stored == nullptr || *stored != record(stored->solved)) broken = text;
    }
    for (pid_t copy : copies)
        if (copy > 0) {
            kill(copy, SIGKILL);
            waitpid(copy, nullptr, 0);
        }
    EXPECT_EQ(broken, "") << "a save read while two copies wrote was no whole record";
    EXPECT_EQ(running, 0);
    EXPECT_GT(reads, 0);
    EXPECT_EQ(read_file(dir / "errors-0").rfind("could not lock the save " + save.string(), 0), 0u)
        << read_file(dir / "errors-0");
    for (const fs::directory_entry& entry : fs::directory_iterator(dir))
        EXPECT_FALSE(entry.path().string().ends_with(".tmp")) << entry.path();
    std::error_code ignored;
    fs::remove_all(dir, ignored);
}

}  // namespace
}  // namespace zobra
