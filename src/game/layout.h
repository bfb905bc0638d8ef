#pragma once
// Where things go on the 320 × 200 canvas: the heads-up display across the
// top, the play view of the arena below it, and the 16-pixel tiles. The
// session aims its camera at the play view and the views paint into it.

#include <cstdint>

#include "art/canvas.h"

namespace zobra {

inline constexpr std::int32_t tile_pixels = 16;
inline constexpr std::int32_t screen_width = static_cast<std::int32_t>(canvas_width);
inline constexpr std::int32_t screen_height = static_cast<std::int32_t>(canvas_height);
inline constexpr std::int32_t hud_rows = 24;
inline constexpr std::int32_t play_view_width = screen_width;
inline constexpr std::int32_t play_view_height = screen_height - hud_rows;  // 176

}  // namespace zobra
