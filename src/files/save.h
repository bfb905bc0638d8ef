#pragma once
// The save file: one line of compact JSON holding the `Progress`, read once
// at start-up and rewritten through a temporary file whenever the progress
// changes. Failures are reported on the error stream and the game goes on.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "core/progress.h"

namespace zobra {

// ZOBRA_SAVE as given, else "zobra/save.json" under XDG_DATA_HOME, APPDATA
// or HOME/.local/share, in that order; none when none of them is set.
std::optional<std::filesystem::path> save_path();

// The stored progress, or the default one. A file that is missing or cannot
// be read gives the default silently; one that does not hold a valid record
// gives it after one message, and is left as it is until the next save.
Progress load_progress();

// Writes the progress to the save path through a temporary file and a
// rename; a failure is reported on the error stream and otherwise ignored.
void save_progress(const Progress& progress);

// The file's exact content: one compact line, keys in their fixed order.
std::string encode_progress(const Progress& progress);

// The record a text holds, or a description of what is wrong with it.
std::variant<Progress, std::string> decode_progress(std::string_view text);

// Where a save is written before it is renamed onto `path`: the extension
// replaced by "json.tmp", or ".json.tmp" added when there is none.
std::filesystem::path temporary_save_path(const std::filesystem::path& path);

}  // namespace zobra
