#pragma once
// The screenshots' and icons' picture format: a minimal truecolour PNG whose
// image data sits in uncompressed deflate blocks, so no compression library
// is needed.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace zobra {

// Raw image bytes per stored deflate block (the format's upper limit).
inline constexpr std::size_t png_block_bytes = 65535;

// The bytes of a PNG file of width × height pixels given row-major as
// 0x00RRGGBB words. The list must hold exactly width × height pixels; any
// other length would make a broken file and is an internal error.
std::vector<std::uint8_t> encode_png(std::uint32_t width, std::uint32_t height,
                                     std::span<const std::uint32_t> pixels);

// The same with transparency (the icons): pixels as 0xAARRGGBB words, alpha
// 0 transparent and 255 opaque, stored as truecolour with alpha.
std::vector<std::uint8_t> encode_png_alpha(std::uint32_t width, std::uint32_t height,
                                           std::span<const std::uint32_t> pixels);

// Writes `encode_png` of the pixels to `path` in one call, replacing any
// file of that name; on failure what went wrong and the system's reason.
std::optional<std::string> write_png_file(const std::filesystem::path& path, std::uint32_t width,
                                          std::uint32_t height,
                                          std::span<const std::uint32_t> pixels);

// Makes the folder and its parents (an empty path is the current folder);
// on failure what went wrong.
std::optional<std::string> make_picture_folder(const std::filesystem::path& path);

// The checksums the file carries: CRC-32 of each chunk (reflected polynomial
// 0xEDB88320) and Adler-32 of the image data inside the zlib stream.
std::uint32_t crc32(std::span<const std::uint8_t> bytes);
std::uint32_t adler32(std::span<const std::uint8_t> bytes);

}  // namespace zobra
