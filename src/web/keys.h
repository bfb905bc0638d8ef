#pragma once
// The browser's keyboard in the game's terms. A key event names the key's
// physical position in its `code` ("KeyW" is the key in the W position
// whatever the layout prints on it) and what it types in its `key` ("w",
// "Z", "Enter"). Plain C++, free of the browser, so that the desktop's tests
// check it too.

#include <optional>
#include <string>
#include <string_view>

#include "game/input.h"

namespace zobra {

// The modifier keys held with a key event.
struct KeyModifiers {
    bool ctrl = false;
    bool alt = false;
    bool meta = false;
};

// The key at the position a `code` names: Key::Other for a position the
// game gives no meaning to, none when the browser could not place the key
// (an empty code, or "Unidentified" as phones' on-screen keyboards send).
std::optional<Key> key_for_code(std::string_view code);

// The text a key press types: its `key` when that is one character (a
// letter, digit, sign or space; named keys such as "Enter", "Shift" or a
// dead key's "Dead" are longer), nothing for a shortcut (Ctrl without Alt,
// or Meta; Ctrl with Alt is AltGr, which types).
std::string typed_text(std::string_view key, KeyModifiers held);

// Whether the page keeps a key press from the browser: the game's keys that
// the browser would act on itself (the arrows and Space scroll, Tab moves
// the focus away from the game, Backspace may go back a page). With Ctrl,
// Alt or Meta held the press is a browser shortcut and stays the browser's.
bool page_keeps_key(std::optional<Key> key, KeyModifiers held);

}  // namespace zobra
