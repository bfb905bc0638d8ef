#pragma once
// Scaling the 320 × 200 canvas into a target picture of any size: whole
// factors from 2× up keep the pixels crisp, the 16:10 picture stays centred
// and undistorted, the rest is black. Also used for the screenshots. A
// `ScreenPicture` keeps a target up to date from frame to frame by redrawing
// only the parts of it whose canvas pixels changed.

#include <cstdint>
#include <span>
#include <vector>

namespace zobra {

// Clears the whole target, then draws the canvas (four bytes a pixel) into
// its first w × h pixels as 0x00RRGGBB words. A target shorter than w × h
// stays black, and so does one of no width or height.
void present_scaled(std::span<const std::uint8_t> canvas, std::span<std::uint32_t> target,
                    std::uint32_t w, std::uint32_t h);

// Where the picture lands in a w × h target.
struct Placement {
    std::uint32_t left = 0, top = 0, width = 0, height = 0;
};
Placement scaled_placement(std::uint32_t w, std::uint32_t h);

// A rectangle of target pixels: columns x … x + w − 1, rows y … y + h − 1.
struct PixelRect {
    std::uint32_t x = 0, y = 0, w = 0, h = 0;
    friend bool operator==(const PixelRect&, const PixelRect&) = default;
};

// A target that shows the canvas frame after frame. It remembers the canvas
// as the target last showed it, compares the new one with it in cells of
// 16 × 8 canvas pixels, and redraws only the target pixels of cells that
// changed. A target of another size, or one forgotten, is drawn whole.
class ScreenPicture {
  public:
    // Brings the target (w × h, as `present_scaled` takes it) up to date with
    // the canvas and gives the rectangles of it that were redrawn: none when
    // it already showed this canvas, one of the whole target when it was
    // drawn whole. The rectangles do not overlap.
    std::span<const PixelRect> update(std::span<const std::uint8_t> canvas,
                                      std::span<std::uint32_t> target, std::uint32_t w,
                                      std::uint32_t h);
    // The target no longer holds what was drawn into it (a new surface): the
    // next update draws it whole.
    void forget() { known_ = false; }

  private:
    std::vector<std::uint8_t> shown_;  // the canvas as the target shows it
    std::vector<PixelRect> changed_;
    std::uint32_t w_ = 0, h_ = 0;
    std::size_t size_ = 0;
    bool known_ = false;
};

}  // namespace zobra
