#pragma once
// The save file: one line of compact JSON holding the `Progress`, read once
// at start-up and rewritten through a temporary file whenever the progress
// changes. Failures are reported on the error stream and the game goes on.
//
// One `SaveStore` serves a whole run:
//     SaveStore save(save_path());
//     Progress progress = save.load();       // takes the lock, then reads
//     ...
//     if (save.save(progress) == SaveOutcome::Failed) tell the player
//
// Nothing the player has saved is ever lost to the game itself:
// - a file that could not be read is moved aside to its broken name
//   (save.json → save.broken.json) just before the first write over it;
// - only the first copy of the game on a save writes it: it holds an
//   advisory lock on "save.json.lock" beside the file for as long as the
//   store lives; a second copy plays on without saving;
// - a link is written through to the file it names, and anything that is
//   not a regular file (a folder, a pipe, a device) is never replaced.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "core/progress.h"

namespace zobra {

// Generous bounds on what a save may hold; anything beyond them is no save
// this game wrote, and reads as no valid record.
inline constexpr std::size_t save_bytes_max = 1024 * 1024;
inline constexpr std::size_t save_name_bytes_max = 256;
inline constexpr std::size_t save_best_entries_max = level_count;
inline constexpr std::size_t save_others_max = player_slots - 1;

// What became of one `SaveStore::save`.
enum class SaveOutcome : std::uint8_t {
    Written,  // the progress is on disk
    // Another copy of the game holds the save, so this one does not write.
    // Not a failure to show the player: the copy said so once when it found
    // the lock taken, and its progress simply lives only as long as it runs.
    LeftToOtherCopy,
    Failed,  // nothing was written; "could not save: …" went to the error stream
};

// The save of one run: its place, the lock that makes this copy the one that
// writes it, and whether a file that could not be read still has to be moved
// aside. Not copyable; the lock is let go when the store is destroyed.
class SaveStore {
  public:
    // The save at `path`; none means there is no place to save. Touches
    // nothing on disk until `load` or `save`.
    explicit SaveStore(std::optional<std::filesystem::path> path);
    ~SaveStore();
    SaveStore(const SaveStore&) = delete;
    SaveStore& operator=(const SaveStore&) = delete;

    // Takes the lock (making the save's folder if needed) and reads the
    // stored progress, or gives the default one. A missing file is silent;
    // any other file that does not hold a valid record gives one message,
    // "save could not be read (" + fault + "): starting over", and stays as
    // it is until the first save moves it aside. Finding the lock taken
    // gives one message on the error stream and in the log.
    Progress load();

    // Writes the progress through a temporary file beside the real one and
    // a rename; reports a failure on the error stream and in the result.
    SaveOutcome save(const Progress& progress);

    const std::optional<std::filesystem::path>& path() const { return path_; }
    // Whether this copy gave up writing because another one holds the save.
    bool left_to_other_copy() const { return lock_ == Lock::HeldElsewhere; }

  private:
    enum class Lock : std::uint8_t { NotTaken, Held, HeldElsewhere };

    // Tries to take the lock unless that was settled; a place where no lock
    // file can be made leaves it not taken, and saving goes ahead anyway.
    void take_lock();

    std::optional<std::filesystem::path> path_;
    Lock lock_ = Lock::NotTaken;
    int lock_fd_ = -1;
    bool move_aside_ = false;  // the file there could not be read
};

// ZOBRA_SAVE as given, else "zobra/save.json" under XDG_DATA_HOME, APPDATA
// or HOME/.local/share, in that order; none when none of them is set.
std::optional<std::filesystem::path> save_path();

// The file's exact content: one compact line, keys in their fixed order.
std::string encode_progress(const Progress& progress);

// The record a text holds, or a description of what is wrong with it: not
// UTF-8, a NUL byte, broken JSON, a missing key, a wrong type or value, or a
// value beyond the bounds above.
std::variant<Progress, std::string> decode_progress(std::string_view text);

// The files kept beside a save, named after the file the save path leads to
// once links are followed.
// Where a save is written before it is renamed onto `path`: the extension
// replaced by "json.tmp", or ".json.tmp" added when there is none.
std::filesystem::path temporary_save_path(const std::filesystem::path& path);
// Where a save that could not be read is kept: ".broken" before the
// extension (save.json → save.broken.json, progress → progress.broken).
std::filesystem::path broken_save_path(const std::filesystem::path& path);
// The file the running copy locks: ".lock" appended (save.json.lock).
std::filesystem::path save_lock_path(const std::filesystem::path& path);

}  // namespace zobra
