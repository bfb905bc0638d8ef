#include "netio/site.h"

#include <algorithm>
#include <array>
#include <string>
#include <system_error>
#include <utility>

namespace zobra::netio {

namespace {

constexpr std::string_view index_file = "index.html";

constexpr std::array<std::pair<std::string_view, std::string_view>, 8> content_types = {{
    {".html", "text/html; charset=utf-8"},
    {".js", "text/javascript; charset=utf-8"},
    {".wasm", "application/wasm"},
    {".png", "image/png"},
    {".json", "application/json"},
    {".css", "text/css; charset=utf-8"},
    {".ico", "image/x-icon"},
    {".txt", "text/plain; charset=utf-8"},
}};

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The path with "%XX" decoded; nothing for a '%' not followed by two hex
// digits.
std::optional<std::string> percent_decoded(std::string_view path) {
    std::string out;
    out.reserve(path.size());
    for (std::size_t i = 0; i < path.size(); ++i) {
        if (path[i] != '%') {
            out.push_back(path[i]);
            continue;
        }
        if (i + 2 >= path.size()) return std::nullopt;
        const int high = hex_value(path[i + 1]), low = hex_value(path[i + 2]);
        if (high < 0 || low < 0) return std::nullopt;
        out.push_back(static_cast<char>(high * 16 + low));
        i += 2;
    }
    return out;
}

// Whether `inner` lies below `outer`; both canonical.
bool lies_within(const std::filesystem::path& outer, const std::filesystem::path& inner) {
    const auto [stop, rest] = std::mismatch(outer.begin(), outer.end(), inner.begin(), inner.end());
    return stop == outer.end() && rest != inner.end();
}

}  // namespace

std::optional<std::filesystem::path> site_file(const std::filesystem::path& root,
                                               std::string_view target) {
    target = target.substr(0, target.find_first_of("?#"));
    if (!target.starts_with('/')) return std::nullopt;
    std::optional<std::string> path = percent_decoded(target);
    if (!path || path->find_first_of(std::string_view("\0\\", 2)) != std::string::npos)
        return std::nullopt;
    // Segments are looked at one by one, so that "..%2f" and the like are
    // caught after decoding as well as before.
    for (std::size_t start = 1; start <= path->size();) {
        const std::size_t end = std::min(path->find('/', start), path->size());
        if (std::string_view(*path).substr(start, end - start) == "..") return std::nullopt;
        start = end + 1;
    }
    if (path->ends_with('/')) *path += index_file;

    std::error_code error;
    const std::filesystem::path base = std::filesystem::canonical(root, error);
    if (error) return std::nullopt;
    const std::filesystem::path file =
        std::filesystem::canonical(base / std::string_view(*path).substr(1), error);
    if (error || !lies_within(base, file) || !std::filesystem::is_regular_file(file, error))
        return std::nullopt;
    return file;
}

std::string_view content_type(const std::filesystem::path& file) {
    const std::string extension = file.extension().string();
    for (const auto& [ending, type] : content_types)
        if (extension == ending) return type;
    return "application/octet-stream";
}

}  // namespace zobra::netio
