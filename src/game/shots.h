#pragma once
// The screenshot mode: with ZOBRA_SHOTS set, the game plays a fixed script of
// eighteen scenes on one session, writes a 960 × 600 PNG of the screen after
// each, writes each of eighteen sprites enlarged over the floor, and ends.

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "art/canvas.h"
#include "art/sprites.h"
#include "game/session.h"

namespace zobra {

inline constexpr std::uint32_t shot_width = 960;
inline constexpr std::uint32_t shot_height = 600;
inline constexpr std::uint32_t sheet_scale = 3;
inline constexpr std::uint32_t sheet_side = 16 * sheet_scale;
inline constexpr std::string_view sheet_folder = "sprites";

// One scene of the script: the file stem and how it sets the session up,
// starting from where the previous scene left it.
struct ShotScene {
    std::string_view stem;
    void (*setup)(Session& session);
};
extern const std::array<ShotScene, 18> shot_scenes;

// One sprite of the sheet and the stem of its file.
struct SheetEntry {
    std::string_view stem;
    SpriteKey key;
};
const std::array<SheetEntry, 18>& sprite_sheet();

// Moves the camera straight to its target, without gliding.
void place_camera(Session& session);

// The sprite three times enlarged, its transparent pixels showing the floor,
// as 48 × 48 0x00RRGGBB words.
std::vector<std::uint32_t> sheet_picture(const Sprite& sprite, const Sprite& floor);

// Writes every scene and the sprite sheet into `directory` (created with its
// parents), printing each scene file's path on its own line to `out`. Returns
// the first error met, or nothing when everything was written; files written
// before an error stay.
std::optional<std::string> run_shots(const std::filesystem::path& directory, std::ostream& out);

}  // namespace zobra
