#pragma once
// The few things the save and the diagnostic log ask of the operating
// system, in one place: everything else in this folder is plain C++ and the
// standard library. os_posix.cpp answers them on Linux (and in the browser's
// POSIX emulation), os_windows.cpp on Windows.
//
// Text is UTF-8 everywhere in the game, names of files included. Windows
// keeps paths in UTF-16 and reads a plain `char` string in the old code page,
// so a path is made from text and turned back into text only through the two
// functions below, never through path's `char` constructor or `string()`.

#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

namespace zobra::os {

// The path that UTF-8 text names, and a path as UTF-8 text.
inline std::filesystem::path path_from_utf8(std::string_view text) {
    return std::filesystem::path(std::u8string(text.begin(), text.end()));
}
inline std::string utf8_of(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

// A file the game keeps open: the log being written, the lock being held.
// Closed when it goes; moving hands it on.
class OpenFile {
  public:
    OpenFile() = default;
    explicit OpenFile(std::intptr_t handle) : handle_(handle) {}
    ~OpenFile();
    OpenFile(OpenFile&& other) noexcept : handle_(other.handle_) { other.handle_ = closed; }
    OpenFile& operator=(OpenFile&& other) noexcept;
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;

    bool is_open() const { return handle_ != closed; }
    std::intptr_t handle() const { return handle_; }

  private:
    static constexpr std::intptr_t closed = -1;
    std::intptr_t handle_ = closed;
};

// --- The process and its surroundings ---

// An environment variable as UTF-8, which counts as set even when it is
// empty.
std::optional<std::string> environment(const char* name);
// A number that tells this process from any other running at the same time.
std::uint64_t process_id();
// The running executable's own path, or nothing when the system cannot say.
std::optional<std::filesystem::path> executable_path();
// Whether this process may make files in `folder`.
bool folder_writable(const std::filesystem::path& folder);
// Like `mkdir -p`, but every folder it makes is the player's alone. An
// existing folder is left as it is.
bool make_private_folders(const std::filesystem::path& folder);

// --- Files ---

// What reading a file whole found: its bytes, or why there are none.
struct ReadResult {
    std::optional<std::string> text;
    bool missing = false;    // nothing there (also when a folder on the way is missing)
    bool too_large = false;  // over the bytes asked for
    std::string error;       // otherwise what stood in the way
};

// The whole file, when it is a regular file of at most `max_bytes` bytes. Opened without waiting,
// so that a pipe or a device named by mistake is refused ("not a regular file") rather than waited
// on or read forever.
ReadResult read_regular_file(const std::filesystem::path& path, std::size_t max_bytes);

// Writes all of `bytes` into a regular file and flushes them to the disk,
// so that a rename afterwards never publishes content still in flight. With
// `fresh` the file must not exist yet; otherwise an existing file is
// truncated. A link there is never written through. The system's error
// text when it fails.
std::optional<std::string> write_synced(const std::filesystem::path& path, std::string_view bytes,
                                        bool fresh);

// Renames `from` onto `to` in one step, replacing a file there.
std::error_code replace_file(const std::filesystem::path& from, const std::filesystem::path& to);

// Makes renames in `folder` last through a power cut, where the system can.
void sync_folder(const std::filesystem::path& folder);

// Creates or truncates a file for appending entries; not open on failure.
OpenFile create_for_writing(const std::filesystem::path& path);

// Writes the parts and then `end` in one call, without allocating: safe in
// a signal handler. At most eight parts are taken.
void write_gathered(const OpenFile& file, std::initializer_list<std::string_view> parts,
                    std::string_view end);

// Sleeps this long; safe in a signal handler.
void pause_nanoseconds(long nanoseconds);
// Writes all of `text`; false when the system refused part of it.
bool write_all(const OpenFile& file, std::string_view text);

// --- Locks between copies of the game ---

enum class LockState : std::uint8_t {
    Held,           // this process holds it until the file is closed
    HeldElsewhere,  // another process holds it
    Unavailable,    // no lock can be taken there: see `error`
};

struct LockAttempt {
    LockState state = LockState::Unavailable;
    OpenFile file;      // open while the lock is held
    std::string error;  // why no lock could be taken
};

// Creates the lock file if needed and tries, without waiting, to take an
// exclusive lock on it.
LockAttempt lock_file(const std::filesystem::path& path);

}  // namespace zobra::os
