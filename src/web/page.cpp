#include "web/page.h"

#include <emscripten/em_js.h>
#include <emscripten/em_macros.h>

#include <cstdint>
#include <cstdio>
#include <string>

namespace zobra {

namespace {

// The canvas's bytes are already RGBA with opaque alpha, which is what
// ImageData holds, so the view over the module's memory is shown as it is.
// The view is made anew on every call because the memory may have grown
// (and its old buffer been dropped) since the last one. The bodies are
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

EM_JS(int, find_element, (const char* selector), {
    return document.querySelector(UTF8ToString(selector)) !== null;
});

EM_JS(void, put_frame_time, (double mean_ms, double longest_ms), {
    Module['canvas'].dataset.frameMs = mean_ms.toFixed(3);
    Module['canvas'].dataset.frameMsMax = longest_ms.toFixed(3);
});

// The page's own panel (index.html), or the console alone when the page has
// lost it.
EM_JS(void, put_crash_text, (const char* text, int length), {
    const message = UTF8ToString(text, length);
    console.error(message);
    if (typeof window.zobraShowCrash === 'function') window.zobraShowCrash(message);
});

EM_JS(void, put_notice_text, (const char* text, int length, int passing), {
    if (typeof window.zobraShowNotice === 'function')
        window.zobraShowNotice(UTF8ToString(text, length), passing !== 0);
});
// clang-format on

}  // namespace

void show_on_page(const Canvas& canvas) {
    put_canvas_pixels(canvas.pixels.data(), static_cast<int>(canvas.width),
                      static_cast<int>(canvas.height));
}

bool page_has(const char* selector) { return find_element(selector) != 0; }

void show_frame_time(double mean_ms, double longest_ms) { put_frame_time(mean_ms, longest_ms); }

void page_log(std::string_view line) {
    // Standard output is the console's log, one call a line.
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
}

void page_log_start(std::string_view text) {
    std::string line = "start: ";
    line += text;
    page_log(line);
}

void show_crash_on_page(std::string_view text) {
    put_crash_text(text.data(), static_cast<int>(text.size()));
}

void show_notice_on_page(std::string_view text, bool passing) {
    put_notice_text(text.data(), static_cast<int>(text.size()), passing ? 1 : 0);
}

}  // namespace zobra
