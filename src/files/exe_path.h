#pragma once
// Where the game writes its diagnostic files, the log and the crash report:
// beside the running executable, as in a build folder, or, when the
// executable's folder cannot be written (an installed game in /usr/bin or
// C:\Program Files), in the player's state folder.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace zobra {

// The name of the game's own folder inside the state folder.
inline constexpr std::string_view state_folder_name = "zobra";

// The folder that holds the running executable, or nothing when the
// executable's path cannot be found.
std::optional<std::filesystem::path> executable_folder();

// What the choice of the diagnostics folder depends on, gathered at the
// moment of asking.
struct DiagnosticsPlace {
    std::optional<std::filesystem::path> executable_folder;
    bool executable_folder_writable = false;
    std::optional<std::string> xdg_state_home;  // as set in the environment
    std::optional<std::string> home;
    std::optional<std::string> local_app_data;  // Windows' folder for it
};

// The executable's folder when it can be written; otherwise "zobra" inside
// XDG_STATE_HOME, else inside LOCALAPPDATA, else inside HOME/.local/state,
// each only when it is an absolute path (an unset, empty or relative value
// is ignored, as the XDG rules say); nothing when none of them is.
std::optional<std::filesystem::path> choose_diagnostics_folder(const DiagnosticsPlace& place);

// `file_name` in the folder that `choose_diagnostics_folder` picks for this
// process, with a state folder created (private to the player) when it is
// picked and missing. Nothing when there is no folder to write to; a state
// folder that cannot be created shows only as a file that cannot be opened.
std::optional<std::filesystem::path> diagnostics_file(std::string_view file_name);

}  // namespace zobra
