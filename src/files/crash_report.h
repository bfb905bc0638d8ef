#pragma once
// The crash report: the German text shown and written when the game stops on
// an internal error, and the file "zobra-crash.txt" beside the executable
// (or in the player's state folder, where the log goes too).

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace zobra {

inline constexpr std::string_view crash_file_name = "zobra-crash.txt";

// "Zobra 0.1.0 konnte nicht weiterlaufen.", the error description and the
// system line, without a line break at the end.
std::string crash_report_text(std::string_view description);
// The report's fixed parts before and after the description, for the crash
// path that cannot build strings (static text, safe in a signal handler).
std::string_view crash_report_opening();
std::string_view crash_report_closing();
// What the error box adds in front of the report's path when it was saved.
inline constexpr std::string_view crash_saved_at = "\n\nGespeichert in ";

// Writes the report to `path` (created or truncated); true when it was written.
bool write_crash_report(const std::filesystem::path& path, std::string_view report);

// The text of the error box: the report, and where it was saved when it was.
std::string crash_message(std::string_view report,
                          const std::optional<std::filesystem::path>& saved_at);

}  // namespace zobra
