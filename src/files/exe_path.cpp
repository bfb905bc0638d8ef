#include "files/exe_path.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <system_error>

namespace zobra {

namespace {

namespace fs = std::filesystem;

std::optional<std::string> env(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr) return std::nullopt;
    return std::string(value);
}

bool absolute_path(const std::optional<std::string>& value) {
    return value && !value->empty() && fs::path(*value).is_absolute();
}

// Like `mkdir -p`, but every folder it makes is the player's alone, as the
// XDG rules ask for state folders. An existing folder is left as it is.
bool make_private_folders(const fs::path& folder) {
    std::error_code error;
    if (fs::is_directory(folder, error)) return true;
    const fs::path parent = folder.parent_path();
    if (!parent.empty() && parent != folder && !make_private_folders(parent)) return false;
    return ::mkdir(folder.c_str(), 0700) == 0 || errno == EEXIST;
}

}  // namespace

std::optional<fs::path> executable_folder() {
    std::error_code error;
    fs::path exe = fs::read_symlink("/proc/self/exe", error);
    if (error || exe.empty()) return std::nullopt;
    return exe.parent_path();
}

std::optional<fs::path> choose_diagnostics_folder(const DiagnosticsPlace& place) {
    if (place.executable_folder && place.executable_folder_writable) return place.executable_folder;
    if (absolute_path(place.xdg_state_home))
        return fs::path(*place.xdg_state_home) / state_folder_name;
    if (absolute_path(place.home))
        return fs::path(*place.home) / ".local/state" / state_folder_name;
    return std::nullopt;
}

std::optional<fs::path> diagnostics_file(std::string_view file_name) {
    DiagnosticsPlace place;
    place.executable_folder = executable_folder();
    // The effective ids decide, as they do for the open that follows; a
    // folder the player may not enter counts as not writable either.
    place.executable_folder_writable =
        place.executable_folder &&
        ::faccessat(AT_FDCWD, place.executable_folder->c_str(), W_OK | X_OK, AT_EACCESS) == 0;
    place.xdg_state_home = env("XDG_STATE_HOME");
    place.home = env("HOME");

    std::optional<fs::path> folder = choose_diagnostics_folder(place);
    if (!folder) return std::nullopt;
    if (*folder != place.executable_folder) make_private_folders(*folder);
    return *folder / file_name;
}

}  // namespace zobra
