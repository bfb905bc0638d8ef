#pragma once
// The diagnostic log: "zobra-controller.txt" beside the executable (or, for
// an installed game, in the player's state folder), replaced by every run, a
// header and at most 600 entries. Any thread may write to it; it never
// reports a failure.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <mutex>
#include <optional>
#include <string_view>

#include "files/os.h"

namespace zobra {

inline constexpr std::string_view log_file_name = "zobra-controller.txt";
inline constexpr std::string_view log_header = "Zobra build 5";
inline constexpr std::uint32_t log_max_entries = 600;

// One log file. The process has one of these behind `log_line`; tests make
// their own with a path of their choosing.
class DiagnosticLog {
  public:
    // `locate` is asked once, at the first entry, where the file goes.
    explicit DiagnosticLog(std::function<std::optional<std::filesystem::path>()> locate);

    // Writes `text` and a line feed as one entry, opening the file first if
    // this is the run's first entry.
    void line(std::string_view text);

    // The crash path's entry: the parts and a line feed as one entry,
    // without allocating. The crashed thread itself may hold the lock, so
    // this waits only briefly for it and gives up then; a log that is not
    // open yet stays closed (opening it allocates). Safe in a signal handler.
    void line_from_crash(std::initializer_list<std::string_view> parts);

  private:
    enum class Status { NotYetOpened, Open, Unavailable };

    std::mutex mutex_;
    std::function<std::optional<std::filesystem::path>()> locate_;
    Status status_ = Status::NotYetOpened;
    os::OpenFile file_;
    std::uint32_t count_ = 0;
};

// The process's log, in the folder `diagnostics_file` picks.
void log_line(std::string_view text);
// `log_line` of "start: " + text.
void log_start(std::string_view text);
// `line_from_crash` of the process's log, when it has been written to.
void log_line_from_crash(std::initializer_list<std::string_view> parts);

// A non-fatal failure (no sound, no gamepads, a save that failed): one line
// on the error stream.
void report_error(std::string_view line);

}  // namespace zobra
