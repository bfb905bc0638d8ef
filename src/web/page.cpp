#include "web/page.h"

#include <emscripten/em_js.h>
#include <emscripten/em_macros.h>

#include <cstdint>

namespace zobra {

namespace {

// The canvas's bytes are already RGBA with opaque alpha, which is what
// ImageData holds, so the view over the module's memory is shown as it is.
// The view is made anew on every call because the memory may have grown
// (and its old buffer been dropped) since the last one. The body is
// JavaScript, which the C++ formatter would break.
// clang-format off
EM_JS(void, put_canvas_pixels, (const std::uint8_t* pixels, int width, int height), {
    const element = Module['canvas'];
    if (element.width !== width) element.width = width;
    if (element.height !== height) element.height = height;
    const bytes = new Uint8ClampedArray(HEAPU8.buffer, pixels, width * height * 4);
    element.getContext('2d').putImageData(new ImageData(bytes, width, height), 0, 0);
    element.dataset.frames = String(Number(element.dataset.frames || 0) + 1);
});
// clang-format on

}  // namespace

void show_on_page(const Canvas& canvas) {
    put_canvas_pixels(canvas.pixels.data(), static_cast<int>(canvas.width),
                      static_cast<int>(canvas.height));
}

}  // namespace zobra
