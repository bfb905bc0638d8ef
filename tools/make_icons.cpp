// Draws the game's icon for the desktop at the sizes given: the first
// player's digger, facing the viewer, on a tile of dug-out ground with its
// corners rounded off, enlarged pixel for pixel like the game enlarges its
// canvas. The pictures come from the game's own sprite code, so the icon
// always looks like the digger on screen.
//
//   make_icons FOLDER NAME SIZE...
//
// writes FOLDER/hicolor/SIZExSIZE/apps/NAME.png for every SIZE (16 or more);
//
//   make_icons --ico FILE SIZE...
//
// writes the Windows icon file FILE holding the pictures at every SIZE (16
// to 256), each stored as PNG, which Windows reads since Vista.

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "art/canvas.h"
#include "art/sprites.h"
#include "files/png.h"

namespace zobra {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t tile = 16;

// The tile's corners, cut away so that the square reads as a game piece:
// three pixels in each corner of the 16 × 16 picture.
bool cut_corner(std::size_t x, std::size_t y) {
    const std::size_t cx = std::min(x, tile - 1 - x);
    const std::size_t cy = std::min(y, tile - 1 - y);
    return cx + cy < 2;
}

std::uint32_t opaque(Rgb c) {
    return 0xFF000000u | std::uint32_t{c.r} << 16 | std::uint32_t{c.g} << 8 | c.b;
}

// The 16 × 16 icon as 0xAARRGGBB words.
std::vector<std::uint32_t> icon_tile() {
    const Sprite ground = build_sprite(SpriteKey::floor());
    const Sprite digger = build_sprite(SpriteKey::digger(Dir::Down, 0, 0));
    std::vector<std::uint32_t> pixels(tile * tile, 0);
    for (std::size_t y = 0; y < tile; ++y)
        for (std::size_t x = 0; x < tile; ++x) {
            if (cut_corner(x, y)) continue;
            const std::optional<Rgb>& figure = digger.at(x, y);
            const std::optional<Rgb>& under = ground.at(x, y);
            if (figure)
                pixels[y * tile + x] = opaque(*figure);
            else if (under)
                pixels[y * tile + x] = opaque(*under);
        }
    return pixels;
}

// The tile enlarged by the largest whole factor that fits, centred; a size
// that is no multiple of 16 keeps a transparent margin.
std::vector<std::uint32_t> icon(std::uint32_t size) {
    const std::vector<std::uint32_t> small = icon_tile();
    const std::size_t scale = size / tile;
    const std::size_t margin = (size - scale * tile) / 2;
    std::vector<std::uint32_t> pixels(std::size_t{size} * size, 0);
    for (std::size_t y = 0; y < scale * tile; ++y)
        for (std::size_t x = 0; x < scale * tile; ++x)
            pixels[(y + margin) * size + x + margin] = small[(y / scale) * tile + x / scale];
    return pixels;
}

bool write_icon(const fs::path& folder, std::string_view name, std::uint32_t size) {
    const std::string side = std::to_string(size);
    const fs::path dir = folder / "hicolor" / (side + "x" + side) / "apps";
    std::error_code error;
    fs::create_directories(dir, error);
    const std::vector<std::uint8_t> png = encode_png_alpha(size, size, icon(size));
    std::ofstream out(dir / (std::string(name) + ".png"), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(png.data()), static_cast<std::streamsize>(png.size()));
    out.close();
    return static_cast<bool>(out);
}

void put_u16(std::vector<std::uint8_t>& out, std::uint32_t value) {
    out.push_back(static_cast<std::uint8_t>(value & 0xFF));
    out.push_back(static_cast<std::uint8_t>(value >> 8 & 0xFF));
}

void put_u32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    put_u16(out, value & 0xFFFF);
    put_u16(out, value >> 16);
}

// An icon file: its header, one directory entry per picture (a side of 256
// is written as 0), then the pictures in the same order.
bool write_ico(const fs::path& file, const std::vector<std::uint32_t>& sizes) {
    std::vector<std::vector<std::uint8_t>> pictures;
    for (std::uint32_t size : sizes) pictures.push_back(encode_png_alpha(size, size, icon(size)));
    constexpr std::uint32_t header_bytes = 6;
    constexpr std::uint32_t entry_bytes = 16;
    std::vector<std::uint8_t> out;
    put_u16(out, 0);
    put_u16(out, 1);
    put_u16(out, static_cast<std::uint32_t>(sizes.size()));
    auto offset = static_cast<std::uint32_t>(header_bytes + entry_bytes * sizes.size());
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        const auto side = static_cast<std::uint8_t>(sizes[i] == 256 ? 0 : sizes[i]);
        out.insert(out.end(), {side, side, 0, 0});
        put_u16(out, 1);   // colour planes
        put_u16(out, 32);  // bits per pixel
        put_u32(out, static_cast<std::uint32_t>(pictures[i].size()));
        put_u32(out, offset);
        offset += static_cast<std::uint32_t>(pictures[i].size());
    }
    for (const std::vector<std::uint8_t>& picture : pictures)
        out.insert(out.end(), picture.begin(), picture.end());
    std::ofstream stream(file, std::ios::binary | std::ios::trunc);
    stream.write(reinterpret_cast<const char*>(out.data()),
                 static_cast<std::streamsize>(out.size()));
    stream.close();
    return static_cast<bool>(stream);
}

std::optional<std::uint32_t> icon_size(std::string_view text, std::uint32_t largest) {
    std::uint32_t size = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), size);
    if (error != std::errc() || end != text.data() + text.size() || size < 16 || size > largest)
        return std::nullopt;
    return size;
}

}  // namespace
}  // namespace zobra

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fputs("usage: make_icons FOLDER NAME SIZE... | make_icons --ico FILE SIZE...\n",
                   stderr);
        return 2;
    }
    const bool ico = std::string_view(argv[1]) == "--ico";
    const std::uint32_t largest = ico ? 256 : 4096;
    std::vector<std::uint32_t> sizes;
    for (int i = 3; i < argc; ++i) {
        const std::optional<std::uint32_t> size = zobra::icon_size(argv[i], largest);
        if (!size) {
            std::fprintf(stderr, "make_icons: %s is no icon size (16 to %u)\n", argv[i], largest);
            return 2;
        }
        sizes.push_back(*size);
    }
    if (ico) {
        if (zobra::write_ico(argv[2], sizes)) return 0;
        std::fprintf(stderr, "make_icons: cannot write %s\n", argv[2]);
        return 1;
    }
    const std::filesystem::path folder = argv[1];
    const std::string_view name = argv[2];
    for (std::uint32_t size : sizes) {
        if (!zobra::write_icon(folder, name, size)) {
            std::fprintf(stderr, "make_icons: cannot write the %u px icon into %s\n", size,
                         argv[1]);
            return 1;
        }
    }
    return 0;
}
