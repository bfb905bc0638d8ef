#include "web/keys.h"

#include <array>
#include <utility>

namespace zobra {

namespace {

// The positions the game gives a meaning to, by their UI Events names.
constexpr std::array<std::pair<std::string_view, Key>, 26> named_positions{{
    {"ArrowUp", Key::ArrowUp},
    {"ArrowRight", Key::ArrowRight},
    {"ArrowDown", Key::ArrowDown},
    {"ArrowLeft", Key::ArrowLeft},
    {"KeyW", Key::KeyW},
    {"KeyD", Key::KeyD},
    {"KeyS", Key::KeyS},
    {"KeyA", Key::KeyA},
    {"Space", Key::Space},
    {"Enter", Key::Enter},
    {"NumpadEnter", Key::NumpadEnter},
    {"ControlRight", Key::ControlRight},
    {"ShiftRight", Key::ShiftRight},
    {"KeyQ", Key::KeyQ},
    {"ControlLeft", Key::ControlLeft},
    {"ShiftLeft", Key::ShiftLeft},
    {"KeyR", Key::KeyR},
    {"Escape", Key::Escape},
    {"KeyP", Key::KeyP},
    {"KeyM", Key::KeyM},
    {"Tab", Key::Tab},
    {"KeyN", Key::KeyN},
    {"F9", Key::F9},
    {"Backspace", Key::Backspace},
    {"KeyF", Key::KeyF},
    {"KeyO", Key::KeyO},
}};

// The length of the UTF-8 sequence a lead byte starts; 0 for a byte that
// cannot start one.
std::size_t sequence_length(unsigned char lead) {
    if (lead < 0x80) return 1;
    if ((lead & 0xE0) == 0xC0) return 2;
    if ((lead & 0xF0) == 0xE0) return 3;
    if ((lead & 0xF8) == 0xF0) return 4;
    return 0;
}

}  // namespace

std::optional<Key> key_for_code(std::string_view code) {
    if (code.empty() || code == "Unidentified") return std::nullopt;
    for (const auto& [name, key] : named_positions)
        if (name == code) return key;
    return Key::Other;
}

std::string typed_text(std::string_view key, KeyModifiers held) {
    if (held.meta || (held.ctrl && !held.alt)) return {};
    if (key.empty() || sequence_length(static_cast<unsigned char>(key.front())) != key.size())
        return {};
    // Control characters are no text, whatever a browser might put there.
    if (key.size() == 1 && (static_cast<unsigned char>(key.front()) < 0x20 || key.front() == 0x7F))
        return {};
    return std::string(key);
}

bool page_keeps_key(std::optional<Key> key, KeyModifiers held) {
    if (!key || held.ctrl || held.alt || held.meta) return false;
    switch (*key) {
        case Key::ArrowUp:
        case Key::ArrowRight:
        case Key::ArrowDown:
        case Key::ArrowLeft:
        case Key::Space:
        case Key::Tab:
        case Key::Backspace:
            return true;
        default:
            return false;
    }
}

}  // namespace zobra
