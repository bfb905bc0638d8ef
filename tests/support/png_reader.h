#pragma once
// Reading PNG files back in tests: an independent walk over the chunks and
// the zlib stream of an uncompressed file, and ImageMagick and pngcheck as
// real decoders.

#include <array>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace zobra::testing {

// A program's standard output and exit status.
struct CommandResult {
    std::string output;
    int status = -1;
};

inline CommandResult run_command(const std::string& command) {
    CommandResult result;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return result;
    std::array<char, 65536> buffer;
    std::size_t n = 0;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
        result.output.append(buffer.data(), n);
    result.status = pclose(pipe);
    return result;
}

inline std::string shell_quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

inline std::vector<std::uint8_t> read_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void write_file(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

// The pixels ImageMagick decodes from a PNG, as 0x00RRGGBB words, or nothing
// when it cannot read the file or finds another size.
inline std::optional<std::vector<std::uint32_t>> decode_with_imagemagick(
    const std::filesystem::path& png, std::uint32_t width, std::uint32_t height) {
    const CommandResult identify = run_command("/usr/bin/identify -format '%w %h' " +
                                               shell_quote(png.string()) + " 2>/dev/null");
    if (identify.status != 0 ||
        identify.output != std::to_string(width) + " " + std::to_string(height))
        return std::nullopt;
    const CommandResult raw = run_command("/usr/bin/convert " + shell_quote(png.string()) +
                                          " -depth 8 rgb:- 2>/dev/null");
    if (raw.status != 0 || raw.output.size() != std::size_t{width} * height * 3)
        return std::nullopt;
    std::vector<std::uint32_t> pixels(std::size_t{width} * height);
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        const auto byte = [&](std::size_t k) {
            return static_cast<std::uint32_t>(static_cast<unsigned char>(raw.output[3 * i + k]));
        };
        pixels[i] = byte(0) << 16 | byte(1) << 8 | byte(2);
    }
    return pixels;
}

// Whether pngcheck finds the file sound.
inline bool pngcheck_accepts(const std::filesystem::path& png) {
    return run_command("pngcheck -q " + shell_quote(png.string()) + " >/dev/null 2>&1").status == 0;
}

inline std::uint32_t read_u32_be(const std::vector<std::uint8_t>& bytes, std::size_t at) {
    return std::uint32_t{bytes.at(at)} << 24 | std::uint32_t{bytes.at(at + 1)} << 16 |
           std::uint32_t{bytes.at(at + 2)} << 8 | bytes.at(at + 3);
}

// Bit by bit, without a table: a check on the encoder's own CRC.
inline std::uint32_t bitwise_crc32(const std::uint8_t* data, std::size_t length) {
    std::uint32_t c = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < length; ++i) {
        c ^= data[i];
        for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
    }
    return ~c;
}

struct PngChunk {
    std::string type;
    std::vector<std::uint8_t> data;
    bool crc_ok = false;
};

// The chunks after the signature, in file order.
inline std::vector<PngChunk> png_chunks(const std::vector<std::uint8_t>& file) {
    std::vector<PngChunk> chunks;
    std::size_t at = 8;
    while (at + 12 <= file.size()) {
        const std::uint32_t length = read_u32_be(file, at);
        if (at + 12 + length > file.size()) break;
        PngChunk chunk;
        chunk.type.assign(file.begin() + static_cast<std::ptrdiff_t>(at + 4),
                          file.begin() + static_cast<std::ptrdiff_t>(at + 8));
        chunk.data.assign(file.begin() + static_cast<std::ptrdiff_t>(at + 8),
                          file.begin() + static_cast<std::ptrdiff_t>(at + 8 + length));
        chunk.crc_ok =
            bitwise_crc32(file.data() + at + 4, length + 4) == read_u32_be(file, at + 8 + length);
        chunks.push_back(std::move(chunk));
        at += 12 + length;
    }
    return chunks;
}

// One stored deflate block as found in a zlib stream.
struct StoredBlock {
    bool final = false;
    std::size_t length = 0;
    bool complement_ok = false;
};

// The stored blocks of a zlib stream that holds nothing else, and the
// data they carry.
struct StoredStream {
    std::array<std::uint8_t, 2> header{};
    std::vector<StoredBlock> blocks;
    std::vector<std::uint8_t> data;
    std::uint32_t adler = 0;
    bool well_formed = false;
};

inline StoredStream stored_stream(const std::vector<std::uint8_t>& zlib) {
    StoredStream stream;
    if (zlib.size() < 6) return stream;
    stream.header = {zlib[0], zlib[1]};
    std::size_t at = 2;
    while (at + 5 <= zlib.size()) {
        StoredBlock block;
        const std::uint8_t head = zlib[at];
        if ((head & ~1u) != 0) return stream;  // only stored blocks are expected
        block.final = head == 1;
        block.length = std::size_t{zlib[at + 1]} | std::size_t{zlib[at + 2]} << 8;
        const std::size_t complement = std::size_t{zlib[at + 3]} | std::size_t{zlib[at + 4]} << 8;
        block.complement_ok = (block.length ^ complement) == 0xFFFF;
        at += 5;
        if (at + block.length > zlib.size()) return stream;
        stream.data.insert(stream.data.end(), zlib.begin() + static_cast<std::ptrdiff_t>(at),
                           zlib.begin() + static_cast<std::ptrdiff_t>(at + block.length));
        at += block.length;
        stream.blocks.push_back(block);
        if (block.final) break;
    }
    if (at + 4 != zlib.size()) return stream;
    stream.adler = read_u32_be(zlib, at);
    stream.well_formed = true;
    return stream;
}

}  // namespace zobra::testing
