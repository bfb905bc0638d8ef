#include "files/exe_path.h"

#include <system_error>

#include "files/os.h"

namespace zobra {

namespace {

namespace fs = std::filesystem;

bool absolute_path(const std::optional<std::string>& value) {
    return value && !value->empty() && os::path_from_utf8(*value).is_absolute();
}

}  // namespace

std::optional<fs::path> executable_folder() {
    std::optional<fs::path> exe = os::executable_path();
    if (!exe) return std::nullopt;
    return exe->parent_path();
}

std::optional<fs::path> choose_diagnostics_folder(const DiagnosticsPlace& place) {
    if (place.executable_folder && place.executable_folder_writable) return place.executable_folder;
    if (absolute_path(place.xdg_state_home))
        return os::path_from_utf8(*place.xdg_state_home) / state_folder_name;
    if (absolute_path(place.local_app_data))
        return os::path_from_utf8(*place.local_app_data) / state_folder_name;
    if (absolute_path(place.home))
        return os::path_from_utf8(*place.home) / ".local/state" / state_folder_name;
    return std::nullopt;
}

std::optional<fs::path> diagnostics_file(std::string_view file_name) {
    DiagnosticsPlace place;
    place.executable_folder = executable_folder();
    place.executable_folder_writable =
        place.executable_folder && os::folder_writable(*place.executable_folder);
    place.xdg_state_home = os::environment("XDG_STATE_HOME");
    place.home = os::environment("HOME");
    place.local_app_data = os::environment("LOCALAPPDATA");

    std::optional<fs::path> folder = choose_diagnostics_folder(place);
    if (!folder) return std::nullopt;
    if (*folder != place.executable_folder) os::make_private_folders(*folder);
    return *folder / file_name;
}

}  // namespace zobra
