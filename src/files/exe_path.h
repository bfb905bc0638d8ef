#pragma once
// Where the running executable lives: the log and the crash report are
// written beside it.

#include <filesystem>
#include <optional>
#include <string_view>

namespace zobra {

// The executable's own path with its file name replaced by `file_name`, or
// nothing when the executable's path cannot be found.
std::optional<std::filesystem::path> beside_executable(std::string_view file_name);

}  // namespace zobra
