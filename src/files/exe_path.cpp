#include "files/exe_path.h"

#include <system_error>

namespace zobra {

std::optional<std::filesystem::path> beside_executable(std::string_view file_name) {
    std::error_code error;
    std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error || exe.empty()) return std::nullopt;
    return exe.replace_filename(file_name);
}

}  // namespace zobra
