// The browser's key events in the game's terms: positions by their UI Events
// names, the text a press types, and the presses the page keeps from the
// browser.

#include "web/keys.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

namespace zobra {
namespace {

// The code names a position, whatever the layout prints on the key: on a
// German keyboard the key marked Z sends "KeyY", and player 2's keys keep
// their places. Names are matched exactly.
TEST(BrowserKeys, ACodeNamesAPositionExactlyAndUnknownPositionsAreOtherKeys) {
    EXPECT_EQ(key_for_code("KeyW"), Key::KeyW);
    EXPECT_EQ(key_for_code("NumpadEnter"), Key::NumpadEnter);
    EXPECT_EQ(key_for_code("ControlRight"), Key::ControlRight);
    for (const std::string code : {"KeyZ", "KeyY", "Numpad8", "F11", "MetaLeft", "keyw", "Arrow"})
        EXPECT_EQ(key_for_code(code), Key::Other) << code;
    EXPECT_EQ(key_for_code(""), std::nullopt);
    EXPECT_EQ(key_for_code("Unidentified"), std::nullopt);
}

TEST(BrowserKeys, APressTypesItsKeyWhenThatIsOneCharacterAndNoShortcut) {
    const KeyModifiers none;
    const KeyModifiers ctrl{.ctrl = true};
    const KeyModifiers altgr{.ctrl = true, .alt = true};
    const KeyModifiers alt{.alt = true};
    const KeyModifiers meta{.meta = true};
    const std::vector<std::tuple<std::string, KeyModifiers, std::string>> presses{
        {"a", none, "a"},   {"Z", none, "Z"},        {"7", none, "7"},        {" ", none, " "},
        {"-", none, "-"},   {"ä", none, "ä"},        {"€", altgr, "€"},       {"@", alt, "@"},
        {"𝄞", none, "𝄞"},   {"Enter", none, ""},     {"Backspace", none, ""}, {"Shift", none, ""},
        {"Dead", none, ""}, {"F9", none, ""},        {"", none, ""},          {"a", ctrl, ""},
        {"a", meta, ""},    {"a\xCC\x88", none, ""}, {"\x7F", none, ""},      {"\t", none, ""},
        {"\xC3", none, ""},
    };
    for (const auto& [key, held, text] : presses) EXPECT_EQ(typed_text(key, held), text) << key;
}

TEST(BrowserKeys, ThePageKeepsTheKeysThatWouldScrollOrMoveTheFocusUnlessAShortcutIsHeld) {
    for (const Key key : {Key::ArrowUp, Key::ArrowRight, Key::ArrowDown, Key::ArrowLeft, Key::Space,
                          Key::Tab, Key::Backspace}) {
        EXPECT_TRUE(page_keeps_key(key, {})) << static_cast<int>(key);
        EXPECT_FALSE(page_keeps_key(key, {.ctrl = true}));
        EXPECT_FALSE(page_keeps_key(key, {.alt = true}));
        EXPECT_FALSE(page_keeps_key(key, {.meta = true}));
    }
    // The browser keeps its own keys: Escape leaves fullscreen, F5 and the
    // rest are its to act on.
    for (const Key key : {Key::Escape, Key::Enter, Key::KeyW, Key::KeyM, Key::F9, Key::Other})
        EXPECT_FALSE(page_keeps_key(key, {})) << static_cast<int>(key);
    EXPECT_FALSE(page_keeps_key(std::nullopt, {}));
}

}  // namespace
}  // namespace zobra
