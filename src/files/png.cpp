#include "files/png.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <system_error>

#include "core/panic.h"
#include "files/os.h"

namespace zobra {

namespace {

constexpr std::array<std::uint8_t, 8> png_signature = {137, 80, 78, 71, 13, 10, 26, 10};
constexpr std::uint32_t adler_modulus = 65521;
// The most bytes Adler-32's sums can take before they must be reduced
// without overflowing 32 bits.
constexpr std::size_t adler_run = 5552;

// CRC tables, built by the compiler from the polynomial: table 0 advances the
// CRC by one byte, table k by one byte followed by k zero bytes, so that eight
// bytes can be folded in at once ("slicing by eight").
constexpr std::array<std::array<std::uint32_t, 256>, 8> crc_tables = [] {
    std::array<std::array<std::uint32_t, 256>, 8> tables{};
    for (std::uint32_t n = 0; n < 256; ++n) {
        std::uint32_t c = n;
        for (int k = 0; k < 8; ++k) c = (c & 1u) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        tables[0][n] = c;
    }
    for (std::size_t k = 1; k < 8; ++k)
        for (std::uint32_t n = 0; n < 256; ++n)
            tables[k][n] = (tables[k - 1][n] >> 8) ^ tables[0][tables[k - 1][n] & 0xFFu];
    return tables;
}();

void put_u32_be(std::vector<std::uint8_t>& out, std::uint32_t value) {
    out.push_back(static_cast<std::uint8_t>(value >> 24));
    out.push_back(static_cast<std::uint8_t>(value >> 16));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
    out.push_back(static_cast<std::uint8_t>(value));
}

void put_u16_le(std::vector<std::uint8_t>& out, std::uint16_t value) {
    out.push_back(static_cast<std::uint8_t>(value));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void put_bytes(std::vector<std::uint8_t>& out, std::span<const std::uint8_t> bytes) {
    out.insert(out.end(), bytes.begin(), bytes.end());
}

// A chunk is its length, its type, its data and the CRC of type and data.
// `write_data` appends the data; the length is known beforehand.
template <typename WriteData>
void put_chunk(std::vector<std::uint8_t>& out, const char (&type)[5], std::size_t length,
               WriteData write_data) {
    put_u32_be(out, static_cast<std::uint32_t>(length));
    const std::size_t typed_from = out.size();
    out.insert(out.end(), type, type + 4);
    write_data();
    if (out.size() - typed_from != length + 4) panic("a chunk holds the length it announces");
    put_u32_be(out, crc32(std::span(out).subspan(typed_from)));
}

// Every row starts with filter type 0 (none), then red, green and blue of
// each pixel, and its opacity when the picture has one.
std::vector<std::uint8_t> raw_image(std::uint32_t width, std::uint32_t height,
                                    std::span<const std::uint32_t> pixels, bool alpha) {
    const std::size_t channels = alpha ? 4 : 3;
    std::vector<std::uint8_t> raw(std::size_t{height} * (channels * std::size_t{width} + 1));
    std::uint8_t* out = raw.data();
    const std::uint32_t* in = pixels.data();
    for (std::uint32_t y = 0; y < height; ++y) {
        *out++ = 0;
        for (std::uint32_t x = 0; x < width; ++x) {
            const std::uint32_t p = *in++;
            out[0] = static_cast<std::uint8_t>(p >> 16);
            out[1] = static_cast<std::uint8_t>(p >> 8);
            out[2] = static_cast<std::uint8_t>(p);
            if (alpha) out[3] = static_cast<std::uint8_t>(p >> 24);
            out += channels;
        }
    }
    return raw;
}

// Stored blocks never compress: at most 65,535 bytes each, the last one
// marked final. Empty data still needs one (empty) final block.
std::size_t block_count(std::size_t raw_length) {
    return std::max<std::size_t>(1, (raw_length + png_block_bytes - 1) / png_block_bytes);
}

std::size_t zlib_length(std::size_t raw_length) {
    return 2 + 5 * block_count(raw_length) + raw_length + 4;
}

void put_zlib_stream(std::vector<std::uint8_t>& out, std::span<const std::uint8_t> raw) {
    out.push_back(0x78);  // deflate, 32 KiB window
    out.push_back(0x01);  // no preset dictionary, fastest; 0x7801 is a multiple of 31
    const std::size_t blocks = block_count(raw.size());
    for (std::size_t k = 0; k < blocks; ++k) {
        const std::size_t from = k * png_block_bytes;
        const auto length =
            static_cast<std::uint16_t>(std::min(png_block_bytes, raw.size() - from));
        out.push_back(k + 1 == blocks ? 1 : 0);
        put_u16_le(out, length);
        put_u16_le(out, static_cast<std::uint16_t>(~length));
        put_bytes(out, raw.subspan(from, length));
    }
    put_u32_be(out, adler32(raw));
}

}  // namespace

std::uint32_t crc32(std::span<const std::uint8_t> bytes) {
    const auto& t = crc_tables;
    std::uint32_t c = 0xFFFFFFFFu;
    const std::uint8_t* p = bytes.data();
    std::size_t left = bytes.size();
    for (; left >= 8; left -= 8, p += 8) {
        const std::uint32_t low = c ^ (std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 |
                                       std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24);
        c = t[7][low & 0xFFu] ^ t[6][(low >> 8) & 0xFFu] ^ t[5][(low >> 16) & 0xFFu] ^
            t[4][low >> 24] ^ t[3][p[4]] ^ t[2][p[5]] ^ t[1][p[6]] ^ t[0][p[7]];
    }
    for (; left > 0; --left, ++p) c = t[0][(c ^ *p) & 0xFFu] ^ (c >> 8);
    return ~c;
}

std::uint32_t adler32(std::span<const std::uint8_t> bytes) {
    std::uint32_t a = 1;
    std::uint32_t b = 0;
    while (!bytes.empty()) {
        const std::size_t run = std::min(bytes.size(), adler_run);
        for (const std::uint8_t byte : bytes.first(run)) {
            a += byte;
            b += a;
        }
        a %= adler_modulus;
        b %= adler_modulus;
        bytes = bytes.subspan(run);
    }
    return (b << 16) | a;
}

namespace {

std::vector<std::uint8_t> encode(std::uint32_t width, std::uint32_t height,
                                 std::span<const std::uint32_t> pixels, bool alpha) {
    if (pixels.size() != std::size_t{width} * height)
        panic("a picture is encoded with exactly one colour per pixel");
    const std::vector<std::uint8_t> raw = raw_image(width, height, pixels, alpha);
    const std::size_t idat_length = zlib_length(raw.size());
    if (idat_length > UINT32_MAX) panic("a picture fits in one PNG data chunk");

    std::vector<std::uint8_t> out;
    out.reserve(png_signature.size() + (12 + 13) + (12 + idat_length) + 12);
    put_bytes(out, png_signature);
    put_chunk(out, "IHDR", 13, [&] {
        put_u32_be(out, width);
        put_u32_be(out, height);
        out.push_back(8);              // bits per channel
        out.push_back(alpha ? 6 : 2);  // truecolour with or without alpha
        out.push_back(0);              // deflate
        out.push_back(0);              // adaptive filtering (every row uses filter 0)
        out.push_back(0);              // not interlaced
    });
    put_chunk(out, "IDAT", idat_length, [&] { put_zlib_stream(out, raw); });
    put_chunk(out, "IEND", 0, [] {});
    return out;
}

}  // namespace

std::vector<std::uint8_t> encode_png(std::uint32_t width, std::uint32_t height,
                                     std::span<const std::uint32_t> pixels) {
    return encode(width, height, pixels, false);
}

std::vector<std::uint8_t> encode_png_alpha(std::uint32_t width, std::uint32_t height,
                                           std::span<const std::uint32_t> pixels) {
    return encode(width, height, pixels, true);
}

std::optional<std::string> write_png_file(const std::filesystem::path& path, std::uint32_t width,
                                          std::uint32_t height,
                                          std::span<const std::uint32_t> pixels) {
    const std::vector<std::uint8_t> bytes = encode_png(width, height, pixels);
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    if (std::optional<std::string> error = os::write_synced(path, text, false))
        return "could not write " + os::utf8_of(path) + ": " + *error;
    return std::nullopt;
}

std::optional<std::string> make_picture_folder(const std::filesystem::path& path) {
    if (path.empty()) return std::nullopt;
    std::error_code error;
    std::filesystem::create_directories(path, error);
    if (error) return "could not create " + os::utf8_of(path) + ": " + error.message();
    return std::nullopt;
}

}  // namespace zobra
