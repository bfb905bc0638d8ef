#pragma once
// The screenshots' and icons' picture format: a minimal truecolour PNG whose
// image data sits in uncompressed deflate blocks, so no compression library
// is needed.

#include <cstdint>
#include <span>
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

// The checksums the file carries: CRC-32 of each chunk (reflected polynomial
// 0xEDB88320) and Adler-32 of the image data inside the zlib stream.
std::uint32_t crc32(std::span<const std::uint8_t> bytes);
std::uint32_t adler32(std::span<const std::uint8_t> bytes);

}  // namespace zobra
