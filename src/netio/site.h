#pragma once
// The web page's files as the relay serves them over HTTP: which file of
// the site's folder a request's target names, and the type it is sent as.
// Kept apart from the server, so that what a request can reach is decided
// in one small function the tests can hold against a table.

#include <filesystem>
#include <optional>
#include <string_view>

namespace zobra::netio {

// The file under `root` that a request target such as "/zobra.js" or
// "/?room=K7QX" names, canonical, or nothing (the server answers 404).
// The query is ignored, "%XX" is decoded, a folder's own "index.html" is
// served for a target ending in "/", and nothing outside `root` is ever
// named: ".." segments, NUL, backslashes and links leading out give
// nothing, as do folders and anything else that is no regular file.
std::optional<std::filesystem::path> site_file(const std::filesystem::path& root,
                                               std::string_view target);

// The Content-Type of a file by its extension; application/octet-stream
// for one the page does not use.
std::string_view content_type(const std::filesystem::path& file);

}  // namespace zobra::netio
