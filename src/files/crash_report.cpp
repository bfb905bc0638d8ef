#include "files/crash_report.h"

#include <array>

#include "files/os.h"

namespace zobra {

namespace {

constexpr std::string_view version = "0.1.0";

#if defined(__EMSCRIPTEN__)
constexpr std::string_view os_name = "web";
#elif defined(_WIN32)
constexpr std::string_view os_name = "windows";
#elif defined(__APPLE__)
constexpr std::string_view os_name = "macos";
#else
constexpr std::string_view os_name = "linux";
#endif

#if defined(__x86_64__) || defined(_M_X64)
constexpr std::string_view arch_name = "x86_64";
#elif defined(__aarch64__) || defined(_M_ARM64)
constexpr std::string_view arch_name = "aarch64";
#elif defined(__i386__)
constexpr std::string_view arch_name = "x86";
#elif defined(__wasm32__)
constexpr std::string_view arch_name = "wasm32";
#else
constexpr std::string_view arch_name = "unknown";
#endif

// Joins string views at compile time, so that the crash path finds its
// fixed text ready.
template <const std::string_view&... parts>
struct Joined {
    static constexpr std::size_t size = (parts.size() + ...);
    static constexpr std::array<char, size> text = [] {
        std::array<char, size> joined{};
        std::size_t at = 0;
        for (std::string_view part : {parts...})
            for (char c : part) joined[at++] = c;
        return joined;
    }();
    static constexpr std::string_view view{text.data(), size};
};

constexpr std::string_view opening_start = "Zobra ";
constexpr std::string_view opening_end = " konnte nicht weiterlaufen.\n\n";
constexpr std::string_view closing_start = "\n\nSystem: ";
constexpr std::string_view space = " ";

}  // namespace

std::string_view crash_report_opening() {
    return Joined<opening_start, version, opening_end>::view;
}

std::string_view crash_report_closing() {
    return Joined<closing_start, os_name, space, arch_name>::view;
}

std::string crash_report_text(std::string_view description) {
    std::string text(crash_report_opening());
    text += description;
    text += crash_report_closing();
    return text;
}

bool write_crash_report(const std::filesystem::path& path, std::string_view report) {
    // Plain system calls: this runs inside the crash handler, where the
    // library's own state may be what broke.
    const os::OpenFile file = os::create_for_writing(path);
    return file.is_open() && os::write_all(file, report);
}

std::string crash_message(std::string_view report,
                          const std::optional<std::filesystem::path>& saved_at) {
    std::string text(report);
    if (saved_at) {
        text += crash_saved_at;
        text += os::utf8_of(*saved_at);
    }
    return text;
}

}  // namespace zobra
