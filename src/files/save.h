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
//   store lives; a second copy plays on without saving. Where no lock can
//   be taken at all, every copy saves, each write through a temporary file
//   of its own, so that the save is always one whole record;
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
#include "files/os.h"

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
    // What the title tells the player about the save, beside a failed save.
    // Whether this copy gave up writing because another one holds the save.
    bool left_to_other_copy() const { return lock_ == Lock::HeldElsewhere; }
    // Whether the stored progress could not be read and nothing has been
    // saved since: the player started over.
    bool started_over() const { return started_over_; }
    // Whether this copy saves without the lock, as no lock could be taken.
    bool unlocked() const { return lock_ == Lock::Unavailable; }

  private:
    enum class Lock : std::uint8_t { NotTaken, Held, HeldElsewhere, Unavailable };

    // Numbered names tried for a save that could not be read, after the
    // usual one (save.broken.2.json … save.broken.9.json).
    static constexpr unsigned broken_names_max = 9;

    // Tries to take the lock unless that was settled; a place where no save
    // can be written leaves it not taken, to be tried again at the next save.
    void take_lock();
    // Moves the file that could not be read aside, under the first name that
    // takes it; says what became of it. False when it could not be kept.
    static bool keep_unreadable(const std::filesystem::path& target);

    std::optional<std::filesystem::path> path_;
    Lock lock_ = Lock::NotTaken;
    os::OpenFile lock_file_;
    std::uint64_t attempts_ = 0;  // saves tried without the lock, for their names
    bool move_aside_ = false;     // the file there could not be read
    bool started_over_ = false;
};

// ZOBRA_SAVE as given, else "zobra/save.json" under XDG_DATA_HOME, APPDATA
// or HOME/.local/share, in that order, each only when it is an absolute
// path (an empty or relative value is ignored); none when none of them is.
std::optional<std::filesystem::path> save_path();

// The file's exact content: one compact line, keys in their fixed order.
std::string encode_progress(const Progress& progress);

// The record a text holds, or a description of what is wrong with it: not
// UTF-8, a NUL byte, broken JSON, a missing key, a wrong type or value, or a
// value beyond the bounds above. The players' slots come back as
// `with_slots_normalised` leaves them.
std::variant<Progress, std::string> decode_progress(std::string_view text);

// The record with its players on slots as play keeps them: the current slot
// within the eight, and each other player on a slot of its own among the
// rest (a player beyond the eight or on a taken slot moves to the lowest
// free one). Switching players never then gathers more others than a save
// may hold, so whatever the reader accepts the game keeps writing readably.
Progress with_slots_normalised(Progress progress);

// The files kept beside a save, named after the file the save path leads to
// once links are followed.
// Where a save is written before it is renamed onto `path`: the extension
// replaced by "json.tmp", or ".json.tmp" added when there is none.
std::filesystem::path temporary_save_path(const std::filesystem::path& path);
// The same for a copy that saves without the lock: the process and its
// attempt in the name (save.4711-3.json.tmp), so that no two writes share one.
std::filesystem::path unlocked_temporary_save_path(const std::filesystem::path& path,
                                                   std::uint64_t process, std::uint64_t attempt);
// Where a save that could not be read is kept: ".broken" before the
// extension (save.json → save.broken.json, progress → progress.broken), or
// with a number from 2 on when the usual name is taken (save.broken.2.json).
std::filesystem::path broken_save_path(const std::filesystem::path& path, unsigned number = 1);
// The file the running copy locks: ".lock" appended (save.json.lock).
std::filesystem::path save_lock_path(const std::filesystem::path& path);

}  // namespace zobra
