// The input rules: keys, touches and pads turned into one FrameInput a frame.

#include "game/input.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zobra {
namespace {

constexpr double no_window_threshold = 14.0;

FrameInput frame(InputCollector& input, std::vector<PadState> pro = {},
                 std::optional<std::vector<Gamepad>> gamepads = std::vector<Gamepad>{},
                 double threshold = no_window_threshold) {
    if (gamepads)
        return build_frame_input(input, std::move(pro), std::span<const Gamepad>(*gamepads),
                                 threshold);
    return build_frame_input(input, std::move(pro), std::nullopt, threshold);
}

void press(InputCollector& input, Key key) { input.key_down(key, false); }
void release(InputCollector& input, Key key) { input.key_up(key, false); }

TEST(KeyboardDirections, ReleasingTheLaterKeyGivesBackTheEarlierDirection) {
    InputCollector input;
    press(input, Key::ArrowLeft);
    FrameInput f = frame(input);
    EXPECT_EQ(f.held_dir[0], Dir::Left);
    EXPECT_EQ(f.pressed_dir[0], Dir::Left);

    press(input, Key::ArrowRight);
    f = frame(input);
    EXPECT_EQ(f.held_dir[0], Dir::Right);
    EXPECT_EQ(f.pressed_dir[0], Dir::Right);

    release(input, Key::ArrowRight);
    f = frame(input);
    EXPECT_EQ(f.held_dir[0], Dir::Left);
    EXPECT_EQ(f.pressed_dir[0], std::nullopt);
}

TEST(KeyboardDirections, TheLastOfTwoPressesInOneFrameIsThePressedOne) {
    InputCollector input;
    press(input, Key::ArrowUp);
    press(input, Key::ArrowDown);
    release(input, Key::ArrowDown);
    release(input, Key::ArrowUp);
    const FrameInput f = frame(input);
    EXPECT_EQ(f.pressed_dir[0], Dir::Down);
    EXPECT_EQ(f.held_dir[0], std::nullopt);
}

TEST(KeyboardDirections, EachHalfOfTheKeyboardSteersItsOwnSlot) {
    InputCollector input;
    press(input, Key::KeyA);
    press(input, Key::ArrowUp);
    const FrameInput f = frame(input);
    EXPECT_EQ(f.held_dir[0], Dir::Up);
    EXPECT_EQ(f.held_dir[1], Dir::Left);
    EXPECT_EQ(f.pressed_dir[1], Dir::Left);
}

TEST(KeyboardDirections, RepeatsTypeButAreNeitherPressesNorStackChanges) {
    InputCollector input;
    press(input, Key::ArrowRight);
    frame(input);
    input.key_down(Key::ArrowRight, true);
    input.key_down(Key::Backspace, true);
    input.key_down(Key::Space, true);
    input.text("x");
    release(input, Key::ArrowRight);
    input.key_down(Key::ArrowRight, true);
    EXPECT_EQ(input.backspaces, 1u);
    EXPECT_EQ(input.typed_text, "x");
    const FrameInput f = frame(input);
    EXPECT_EQ(f.held_dir[0], std::nullopt);
    EXPECT_EQ(f.pressed_dir[0], std::nullopt);
    EXPECT_FALSE(f.drop[0]);
}

TEST(KeyboardDirections, LosingTheFocusLetsGoOfEveryKeyAndFinger) {
    InputCollector input;
    press(input, Key::ArrowUp);
    press(input, Key::KeyS);
    input.touch_down(1, 0, 0);
    input.touch_move(1, 100, 0);
    frame(input);
    input.focus_lost();
    const FrameInput f = frame(input);
    EXPECT_EQ(f.held_dir[0], std::nullopt);
    EXPECT_EQ(f.held_dir[1], std::nullopt);
    EXPECT_TRUE(input.touches.empty());
}

TEST(KeyboardMenuKeys, SpaceAndEnterBothFireAndConfirmButTheOtherFireKeysOnlyFire) {
    InputCollector input;
    press(input, Key::NumpadEnter);
    FrameInput f = frame(input);
    EXPECT_TRUE(f.drop[0]);
    EXPECT_TRUE(f.confirm);
    EXPECT_TRUE(f.confirm_typing);
    EXPECT_FALSE(f.drop[1]);

    // Space confirms, but not where a name is typed.
    press(input, Key::Space);
    f = frame(input);
    EXPECT_TRUE(f.drop[0]);
    EXPECT_TRUE(f.confirm);
    EXPECT_FALSE(f.confirm_typing);

    press(input, Key::ShiftRight);
    press(input, Key::ControlLeft);
    f = frame(input);
    EXPECT_TRUE(f.drop[0]);
    EXPECT_TRUE(f.drop[1]);
    EXPECT_FALSE(f.confirm);

    // A press counts for one frame, held or not.
    EXPECT_EQ(frame(input), FrameInput{});
    press(input, Key::F9);
    press(input, Key::Other);
    f = frame(input);
    EXPECT_TRUE(f.open_all);
    EXPECT_FALSE(f.rename);
}

// ---- The keyboard table ---------------------------------------------------------

// A frame's input in words, so that a wrong key says which field it set.
std::string text(const FrameInput& f) {
    std::string out;
    const auto flag = [&](bool on, const std::string& name) {
        if (on) out += (out.empty() ? "" : ", ") + name;
    };
    const auto dir = [&](const std::optional<Dir>& d, const std::string& name) {
        constexpr const char* names[] = {"up", "right", "down", "left"};
        if (d) flag(true, name + " " + names[static_cast<int>(*d)]);
    };
    flag(f.drop[0], "drop-1");
    flag(f.drop[1], "drop-2");
    flag(f.confirm, "confirm");
    flag(f.confirm_typing, "confirm-typing");
    flag(f.restart, "restart");
    flag(f.back, "back");
    flag(f.pause, "pause");
    flag(f.music, "music");
    flag(f.next_player, "next-player");
    flag(f.rename, "rename");
    flag(f.open_all, "open-all");
    flag(f.fast, "fast");
    for (std::size_t slot = 0; slot < 2; ++slot) {
        const std::string n = std::to_string(slot + 1);
        dir(f.held_dir[slot], "held-" + n);
        dir(f.pressed_dir[slot], "pressed-" + n);
    }
    return out.empty() ? "nothing" : out;
}

// A frame with these flags set and these drop keys.
FrameInput sets(std::initializer_list<bool FrameInput::*> flags, std::array<bool, 2> drop = {}) {
    FrameInput f;
    for (bool FrameInput::*flag : flags) f.*flag = true;
    f.drop = drop;
    return f;
}

FrameInput steers(std::size_t slot, Dir d) {
    FrameInput f;
    f.held_dir[slot] = d;
    f.pressed_dir[slot] = d;
    return f;
}

// Every key the game knows, in the order of `Key`, and what pressing it alone
// gives in the next frame.
struct KeyRow {
    Key key;
    const char* name;
    FrameInput pressed;
};
const std::vector<KeyRow> keyboard = {
    {Key::Other, "Other", {}},
    {Key::ArrowUp, "ArrowUp", steers(0, Dir::Up)},
    {Key::ArrowRight, "ArrowRight", steers(0, Dir::Right)},
    {Key::ArrowDown, "ArrowDown", steers(0, Dir::Down)},
    {Key::ArrowLeft, "ArrowLeft", steers(0, Dir::Left)},
    {Key::KeyW, "W", steers(1, Dir::Up)},
    {Key::KeyD, "D", steers(1, Dir::Right)},
    {Key::KeyS, "S", steers(1, Dir::Down)},
    {Key::KeyA, "A", steers(1, Dir::Left)},
    {Key::Space, "Space",
     sets({&FrameInput::confirm}, {true, false})},  // types on the naming screen
    {Key::Enter, "Enter", sets({&FrameInput::confirm, &FrameInput::confirm_typing}, {true, false})},
    {Key::NumpadEnter, "NumpadEnter",
     sets({&FrameInput::confirm, &FrameInput::confirm_typing}, {true, false})},
    {Key::ControlRight, "ControlRight", sets({}, {true, false})},
    {Key::ShiftRight, "ShiftRight", sets({}, {true, false})},
    {Key::KeyQ, "Q", sets({}, {false, true})},
    {Key::ControlLeft, "ControlLeft", sets({}, {false, true})},
    {Key::ShiftLeft, "ShiftLeft", sets({}, {false, true})},
    {Key::KeyR, "R", sets({&FrameInput::restart})},
    {Key::Escape, "Escape", sets({&FrameInput::back})},
    {Key::KeyP, "P", sets({&FrameInput::pause})},
    {Key::KeyM, "M", sets({&FrameInput::music})},
    {Key::Tab, "Tab", sets({&FrameInput::next_player})},
    {Key::KeyN, "N", sets({&FrameInput::rename})},
    {Key::F9, "F9", sets({&FrameInput::open_all})},
    {Key::Backspace, "Backspace", {}},  // it edits names only
    {Key::KeyF, "F", sets({&FrameInput::fast})},
    {Key::KeyO, "O", sets({&FrameInput::online})},
};

TEST(KeyboardTable, EveryKeySetsItsOwnFieldsOnceAndADirectionStaysHeldUntilReleased) {
    for (std::size_t i = 0; i < keyboard.size(); ++i) {
        const auto& [key, name, pressed] = keyboard[i];
        ASSERT_EQ(static_cast<std::size_t>(key), i) << name;
        SCOPED_TRACE(name);
        InputCollector input;
        press(input, key);
        EXPECT_EQ(text(frame(input)), text(pressed));
        // Held on, only the direction and fast remain; let go, nothing does.
        FrameInput held;
        held.held_dir = pressed.held_dir;
        held.fast = pressed.fast;
        EXPECT_EQ(text(frame(input)), text(held));
        release(input, key);
        EXPECT_EQ(text(frame(input)), text(FrameInput{}));
    }
}

TEST(MouseAndTouch, AClickConfirmsOnce) {
    InputCollector input;
    input.left_click();
    const FrameInput f = frame(input);
    EXPECT_TRUE(f.confirm && f.confirm_typing);
    EXPECT_FALSE(frame(input).confirm);
}

TEST(MouseAndTouch, ASwipeHoldsItsDirectionAndPressesItOnlyWhenItChanges) {
    InputCollector input;
    input.touch_down(7, 100, 100);
    EXPECT_EQ(frame(input).held_dir[0], std::nullopt);

    input.touch_move(7, 120, 100);  // 20 pixels to the right
    FrameInput f = frame(input);
    EXPECT_EQ(f.held_dir[0], Dir::Right);
    EXPECT_EQ(f.pressed_dir[0], Dir::Right);
    f = frame(input);
    EXPECT_EQ(f.held_dir[0], Dir::Right);
    EXPECT_EQ(f.pressed_dir[0], std::nullopt);

    input.touch_move(7, 120, 125);  // further down than across
    f = frame(input);
    EXPECT_EQ(f.held_dir[0], Dir::Down);
    EXPECT_EQ(f.pressed_dir[0], Dir::Down);
    EXPECT_EQ(frame(input).pressed_dir[0], std::nullopt);

    input.touch_move(7, 120, 80);
    EXPECT_EQ(frame(input).pressed_dir[0], Dir::Up);
    input.touch_move(7, 60, 80);
    EXPECT_EQ(frame(input).pressed_dir[0], Dir::Left);

    // A swipe ended is no longer held, and the same swipe again presses again.
    input.touch_up(7, no_window_threshold);
    f = frame(input);
    EXPECT_EQ(f.held_dir[0], std::nullopt);
    EXPECT_FALSE(f.confirm);
    input.touch_down(8, 0, 0);
    input.touch_move(8, -30, 0);
    EXPECT_EQ(frame(input).pressed_dir[0], Dir::Left);
}

TEST(MouseAndTouch, TheSwipeThresholdGrowsWithThePixelRatio) {
    EXPECT_EQ(swipe_threshold(1.0), 14.0);
    EXPECT_EQ(swipe_threshold(2.0), 28.0);
    InputCollector input;
    input.touch_down(1, 0, 0);
    input.touch_move(1, 20, 0);
    EXPECT_EQ(frame(input, {}, std::vector<Gamepad>{}, swipe_threshold(2.0)).held_dir[0],
              std::nullopt);
    input.touch_move(1, 28, 0);
    EXPECT_EQ(frame(input, {}, std::vector<Gamepad>{}, swipe_threshold(2.0)).held_dir[0],
              Dir::Right);
}

TEST(MouseAndTouch, AShortTouchConfirmsAndALongOneDoesNot) {
    InputCollector input;
    input.touch_down(1, 50, 50);
    input.touch_move(1, 59, 60);  // 13.45 pixels away
    input.touch_up(1, no_window_threshold);
    EXPECT_TRUE(frame(input).confirm);
    EXPECT_FALSE(frame(input).confirm);

    input.touch_down(2, 50, 50);
    input.touch_move(2, 64, 50);
    input.touch_up(2, no_window_threshold);
    EXPECT_FALSE(frame(input).confirm);
}

// The distance is the square root of dx² + dy², each rounded in turn. The
// two fingers below end a last bit either side of 14 pixels, where a more
// careful hypotenuse would round them the other way.
TEST(MouseAndTouch, AFingerRightAtTheThresholdIsMeasuredByTheRootOfItsSquares) {
    InputCollector input;
    input.touch_down(1, 0, 0);
    input.touch_move(1, 13.974488804689813, 0.84478556308631725);  // reaches 14
    EXPECT_EQ(frame(input).held_dir[0], Dir::Right);
    input.touch_up(1, no_window_threshold);
    EXPECT_FALSE(frame(input).confirm);

    input.touch_down(2, 0, 0);
    input.touch_move(2, 2.2573190593014676, 13.816819846278459);  // falls short of 14
    EXPECT_EQ(frame(input).held_dir[0], std::nullopt);
    input.touch_up(2, no_window_threshold);
    EXPECT_TRUE(frame(input).confirm);
}

TEST(MouseAndTouch, ASecondFingerFiresOnceAndOnlyTheFirstSteers) {
    InputCollector input;
    input.touch_down(1, 0, 0);
    EXPECT_FALSE(frame(input).drop[0]);
    input.touch_down(2, 300, 300);
    input.touch_move(2, 300, 400);
    const FrameInput f = frame(input);
    EXPECT_TRUE(f.drop[0]);
    EXPECT_FALSE(f.drop[1]);
    EXPECT_EQ(f.held_dir[0], std::nullopt);
    EXPECT_FALSE(frame(input).drop[0]);

    // Lifting and landing the second finger again drops again; the lift of
    // a moved finger is no tap.
    input.touch_up(2, no_window_threshold);
    EXPECT_FALSE(frame(input).confirm);
    input.touch_down(3, 10, 10);
    EXPECT_TRUE(frame(input).drop[0]);
}

TEST(MouseAndTouch, TheFirstFingerSteersEvenWhenLaterOnesMoveMore) {
    InputCollector input;
    input.touch_down(5, 0, 0);
    input.touch_down(6, 0, 0);
    input.touch_move(6, 0, 90);
    input.touch_move(5, -15, 0);
    EXPECT_EQ(frame(input).held_dir[0], Dir::Left);
    input.touch_up(5, no_window_threshold);
    EXPECT_EQ(frame(input).held_dir[0], Dir::Down);
}

TEST(MouseAndTouch, ACancelledTouchIsNoTapAndStopsSteering) {
    InputCollector input;
    input.touch_down(1, 0, 0);
    input.touch_move(1, 0, 30);
    EXPECT_EQ(frame(input).held_dir[0], Dir::Down);
    input.touch_cancel(1);
    const FrameInput after = frame(input);
    EXPECT_FALSE(after.confirm);
    EXPECT_EQ(after.held_dir[0], std::nullopt);

    // A short touch taken away is no tap either, and the next finger to
    // land is a first finger again, not a second one that drops.
    input.touch_down(2, 5, 5);
    input.touch_cancel(2);
    EXPECT_FALSE(frame(input).confirm);
    input.touch_down(3, 5, 5);
    EXPECT_FALSE(frame(input).drop[0]);
    input.touch_cancel(99);  // a finger never seen changes nothing
    EXPECT_EQ(input.touches.size(), 1u);
}

PadState pressing(bool PadState::*button) {
    PadState pad;
    pad.*button = true;
    return pad;
}

Gamepad gamepad(std::string name, std::uint16_t vendor, std::uint16_t product, PadState state) {
    return Gamepad{std::move(name), vendor, product, true, state};
}

TEST(Pads, ADuplicateProControllerIsSkippedAndAnOrdinaryPadTakesSlotTwo) {
    InputCollector input;
    const std::vector<Gamepad> pads{
        gamepad("Nintendo Switch Pro Controller", 0x057E, 0x2009, PadState{Dir::Up}),
        gamepad("Xbox Controller", 0x045E, 0x028E, PadState{Dir::Left}),
    };
    const FrameInput f = build_frame_input(input, {PadState{Dir::Right}}, pads, 14.0);
    EXPECT_EQ(f.held_dir[0], Dir::Right);
    EXPECT_EQ(f.held_dir[1], Dir::Left);
    EXPECT_EQ(f.pads, (PadCounts{2, 1}));
}

TEST(Pads, AProControllerIsKnownByItsIdsOrByItsName) {
    InputCollector input;
    const std::vector<Gamepad> pads{
        gamepad("Wireless Gamepad", 0x057E, 0x2009, PadState{Dir::Up}),
        gamepad("Pro Controller", 0, 0, PadState{Dir::Up}),
        gamepad("Generic", 0x057E, 0x2006, PadState{Dir::Down}),
    };
    const FrameInput f = build_frame_input(input, {PadState{Dir::Right}}, pads, 14.0);
    EXPECT_EQ(f.held_dir[1], Dir::Down);

    // Without our own driver's pads the same gamepads all count.
    InputCollector fresh;
    const FrameInput g = build_frame_input(fresh, {}, pads, 14.0);
    EXPECT_EQ(g.held_dir[0], Dir::Up);
    EXPECT_EQ(g.held_dir[1], Dir::Up);
    EXPECT_EQ(g.pads, (PadCounts{2, 0}));
}

TEST(Pads, OfThreeGamepadsTheFirstTwoConnectedOnesPlay) {
    InputCollector input;
    std::vector<Gamepad> pads{
        gamepad("one", 1, 1, PadState{Dir::Up}),
        gamepad("gone", 2, 2, PadState{Dir::Left}),
        gamepad("two", 3, 3, PadState{Dir::Right}),
        gamepad("three", 4, 4, PadState{Dir::Down}),
    };
    pads[1].connected = false;
    const FrameInput f = build_frame_input(input, {}, pads, 14.0);
    EXPECT_EQ(f.held_dir[0], Dir::Up);
    EXPECT_EQ(f.held_dir[1], Dir::Right);
    EXPECT_EQ(f.pads.gamepads, 2u);
}

TEST(Pads, WithoutTheGamepadLibraryEveryProControllerIsCounted) {
    InputCollector input;
    const FrameInput f = build_frame_input(
        input, {PadState{Dir::Up}, PadState{Dir::Down}, PadState{Dir::Left}}, std::nullopt, 14.0);
    EXPECT_EQ(f.held_dir[0], Dir::Up);
    EXPECT_EQ(f.held_dir[1], Dir::Down);
    EXPECT_EQ(f.pads, (PadCounts{3, 3}));
}

TEST(Pads, ButtonsActWhenTheyRiseNotWhileHeld) {
    InputCollector input;
    auto pad_frame = [&](PadState state) {
        return build_frame_input(input, {}, std::vector<Gamepad>{gamepad("p", 1, 1, state)}, 14.0);
    };
    FrameInput f = pad_frame(pressing(&PadState::face));
    EXPECT_TRUE(f.drop[0]);
    EXPECT_TRUE(f.confirm);
    f = pad_frame(pressing(&PadState::face));
    EXPECT_FALSE(f.drop[0]);
    EXPECT_FALSE(f.confirm);

    f = pad_frame(pressing(&PadState::start));
    EXPECT_TRUE(f.confirm);
    EXPECT_TRUE(f.pause);
    EXPECT_FALSE(f.drop[0]);
    f = pad_frame(pressing(&PadState::start));
    EXPECT_FALSE(f.confirm);
    EXPECT_FALSE(f.pause);

    f = pad_frame(pressing(&PadState::drop));
    EXPECT_TRUE(f.drop[0]);
    EXPECT_FALSE(f.confirm);
    EXPECT_FALSE(pad_frame(pressing(&PadState::drop)).drop[0]);

    f = pad_frame(pressing(&PadState::select));
    EXPECT_TRUE(f.back);
    EXPECT_FALSE(pad_frame(pressing(&PadState::select)).back);
    EXPECT_FALSE(pad_frame(PadState{}).back);
    EXPECT_TRUE(pad_frame(pressing(&PadState::select)).back);
}

TEST(Pads, APadDirectionOverridesTheKeysAndCountsAsPressedWhenItChanges) {
    InputCollector input;
    auto pad_frame = [&](PadState state) {
        return build_frame_input(input, {}, std::vector<Gamepad>{gamepad("p", 1, 1, state)}, 14.0);
    };
    press(input, Key::ArrowLeft);
    FrameInput f = pad_frame(PadState{Dir::Up});
    EXPECT_EQ(f.held_dir[0], Dir::Up);
    EXPECT_EQ(f.pressed_dir[0], Dir::Up);
    f = pad_frame(PadState{Dir::Up});
    EXPECT_EQ(f.held_dir[0], Dir::Up);
    EXPECT_EQ(f.pressed_dir[0], std::nullopt);
    f = pad_frame(PadState{});
    EXPECT_EQ(f.held_dir[0], Dir::Left);  // the key still held shows again
    EXPECT_EQ(f.pressed_dir[0], std::nullopt);
    EXPECT_EQ(pad_frame(PadState{Dir::Up}).pressed_dir[0], Dir::Up);
}

TEST(TypedNames, EveryFrameTakesTheTypedTextAndBackspacesWithRepeats) {
    InputCollector input;
    input.text("Ab-3 x");
    input.key_down(Key::Backspace, false);
    input.key_down(Key::Backspace, true);
    const FrameInput f = frame(input);
    EXPECT_EQ(f.typed, "Ab-3 x");
    EXPECT_EQ(f.backspaces, 2u);
    const FrameInput next = frame(input);
    EXPECT_EQ(next.typed, "");
    EXPECT_EQ(next.backspaces, 0u);
}

}  // namespace
}  // namespace zobra
