#pragma once
// The page around the game: the HTML canvas the game's picture is shown in,
// the console that is the game's log, and the panel that shows why the game
// stopped. The canvas element keeps the game's 320 × 200 pixels; the page's
// style sheet scales it to the window, pixels kept square and sharp, black
// bars keeping 16:10.

#include <string_view>

#include "art/canvas.h"

namespace zobra {

// The canvas element's selector, for the mouse's clicks on it.
inline constexpr const char* canvas_selector = "#screen";
// The element around it that fills the window, black bars and all, for the
// touches: a finger may land beside the picture. Its pixels are the
// canvas element's, shifted.
inline constexpr const char* stage_selector = "#stage";

// Whether the page holds an element the selector names.
bool page_has(const char* selector);

// Copies the canvas into the page's canvas element (Module.canvas) and
// counts the frame in the element's data-frames attribute, which tells the
// page's tests that a picture is up.
void show_on_page(const Canvas& canvas);

// How long the page's frames keep the page's one thread busy: the mean and
// the longest of the last ones in milliseconds, shown in the canvas
// element's data-frame-ms and data-frame-ms-max attributes for anyone
// measuring the page (a rollback makes a frame longer).
void show_frame_time(double mean_ms, double longest_ms);

// A line of the game's log, which in the browser is the console.
void page_log(std::string_view line);
// `page_log` of "start: " + text, as the desktop's start-up steps read.
void page_log_start(std::string_view text);

// Shows the text over the game on the page's panel and as a console error.
void show_crash_on_page(std::string_view text);

// Shows the text on the page's notice panel, which says why there is no game
// to see and what to do about it; a `passing` one (about a file dropped on
// the running game) goes at a click.
void show_notice_on_page(std::string_view text, bool passing = false);

}  // namespace zobra
