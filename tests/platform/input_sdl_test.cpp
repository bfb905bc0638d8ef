// SDL's events and game controllers reaching the input rules: events go
// through SDL's own queue, pads are SDL virtual joysticks.

#include "platform/input_sdl.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace zobra {
namespace {

class SdlInput : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(SDL_Init(SDL_INIT_EVENTS), 0) << SDL_GetError(); }
    void TearDown() override {
        for (SDL_Joystick* joystick : joysticks_) SDL_JoystickClose(joystick);
        for (int index = SDL_NumJoysticks() - 1; index >= 0; --index)
            if (SDL_JoystickIsVirtual(index)) SDL_JoystickDetachVirtual(index);
        SDL_Quit();
    }

    // Sends the event through SDL's queue and hands what comes out to the
    // collector, as the game's loop does.
    void through_sdl(SDL_Event event, const TouchSpace& space = {}) {
        ASSERT_EQ(SDL_PushEvent(&event), 1) << SDL_GetError();
        SDL_Event out;
        while (SDL_PollEvent(&out) != 0) {
            feed_event(input, out, space);
            if (library) library->handle_event(out);
        }
    }

    void key(Uint32 type, SDL_Scancode scancode, SDL_Keycode symbol, bool repeat = false) {
        SDL_Event event{};
        event.key.type = type;
        event.key.state = type == SDL_KEYDOWN ? SDL_PRESSED : SDL_RELEASED;
        event.key.repeat = repeat ? 1 : 0;
        event.key.keysym.scancode = scancode;
        event.key.keysym.sym = symbol;
        through_sdl(event);
    }

    void text(const char* typed) {
        SDL_Event event{};
        event.text.type = SDL_TEXTINPUT;
        std::strncpy(event.text.text, typed, sizeof event.text.text - 1);
        through_sdl(event);
    }

    void finger(Uint32 type, SDL_FingerID id, float x, float y, const TouchSpace& space) {
        SDL_Event event{};
        event.tfinger.type = type;
        event.tfinger.fingerId = id;
        event.tfinger.x = x;
        event.tfinger.y = y;
        through_sdl(event, space);
    }

    FrameInput frame(double threshold = 14.0) {
        std::vector<Gamepad> pads;
        if (library) pads = library->gamepads();
        const FrameInput f =
            build_frame_input(input, pro_controllers, std::span<const Gamepad>(pads), threshold);
        last_counts = f.pads;
        return f;
    }

    void start_library() {
        std::string error;
        library =
            GamepadLibrary::start([this](std::string_view line) { log.emplace_back(line); }, error);
        ASSERT_TRUE(library.has_value()) << error;
    }

    // A virtual game controller with SDL's standard buttons and axes.
    SDL_Joystick* attach_pad(const char* name, Uint16 vendor, Uint16 product) {
        SDL_VirtualJoystickDesc desc{};
        desc.version = SDL_VIRTUAL_JOYSTICK_DESC_VERSION;
        desc.type = SDL_JOYSTICK_TYPE_GAMECONTROLLER;
        desc.naxes = SDL_CONTROLLER_AXIS_MAX;
        desc.nbuttons = SDL_CONTROLLER_BUTTON_DPAD_RIGHT + 1;
        desc.vendor_id = vendor;
        desc.product_id = product;
        desc.name = name;
        const int index = SDL_JoystickAttachVirtualEx(&desc);
        EXPECT_GE(index, 0) << SDL_GetError();
        SDL_Joystick* joystick = SDL_JoystickOpen(index);
        EXPECT_NE(joystick, nullptr) << SDL_GetError();
        // A virtual trigger axis at rest sits at the bottom of its range.
        SDL_JoystickSetVirtualAxis(joystick, SDL_CONTROLLER_AXIS_TRIGGERLEFT, -32768);
        SDL_JoystickSetVirtualAxis(joystick, SDL_CONTROLLER_AXIS_TRIGGERRIGHT, -32768);
        joysticks_.push_back(joystick);
        pump();
        return joystick;
    }

    void pump() {
        SDL_Event event;
        SDL_PumpEvents();
        while (SDL_PollEvent(&event) != 0) {
            feed_event(input, event, {});
            if (library) library->handle_event(event);
        }
    }

    InputCollector input;
    std::vector<PadState> pro_controllers;
    PadCounts last_counts;
    std::optional<GamepadLibrary> library;
    std::vector<std::string> log;

  private:
    std::vector<SDL_Joystick*> joysticks_;
};

TEST_F(SdlInput, KeysCountByTheirPositionNotByTheLetterTheyPrint) {
    // On a German keyboard the key in the Y position prints Z; on a French
    // one the key in the Q position prints A and the one in W prints Z.
    key(SDL_KEYDOWN, SDL_SCANCODE_Q, SDLK_a);
    key(SDL_KEYDOWN, SDL_SCANCODE_W, SDLK_z);
    key(SDL_KEYDOWN, SDL_SCANCODE_Y, SDLK_z);
    const FrameInput f = frame();
    EXPECT_TRUE(f.drop[1]);
    EXPECT_EQ(f.held_dir[1], Dir::Up);
    EXPECT_EQ(f.pressed_dir[1], Dir::Up);
    EXPECT_EQ(key_for_scancode(SDL_SCANCODE_Y), Key::Other);
    EXPECT_EQ(key_for_scancode(SDL_SCANCODE_UNKNOWN), std::nullopt);
}

TEST_F(SdlInput, EachBoundKeyHasExactlyOnePositionAndEveryOtherPositionIsOther) {
    const std::vector<std::pair<SDL_Scancode, Key>> bound = {
        {SDL_SCANCODE_A, Key::KeyA},
        {SDL_SCANCODE_D, Key::KeyD},
        {SDL_SCANCODE_F, Key::KeyF},
        {SDL_SCANCODE_M, Key::KeyM},
        {SDL_SCANCODE_N, Key::KeyN},
        {SDL_SCANCODE_O, Key::KeyO},
        {SDL_SCANCODE_P, Key::KeyP},
        {SDL_SCANCODE_Q, Key::KeyQ},
        {SDL_SCANCODE_R, Key::KeyR},
        {SDL_SCANCODE_S, Key::KeyS},
        {SDL_SCANCODE_W, Key::KeyW},
        {SDL_SCANCODE_RETURN, Key::Enter},
        {SDL_SCANCODE_ESCAPE, Key::Escape},
        {SDL_SCANCODE_BACKSPACE, Key::Backspace},
        {SDL_SCANCODE_TAB, Key::Tab},
        {SDL_SCANCODE_SPACE, Key::Space},
        {SDL_SCANCODE_F9, Key::F9},
        {SDL_SCANCODE_RIGHT, Key::ArrowRight},
        {SDL_SCANCODE_LEFT, Key::ArrowLeft},
        {SDL_SCANCODE_DOWN, Key::ArrowDown},
        {SDL_SCANCODE_UP, Key::ArrowUp},
        {SDL_SCANCODE_KP_ENTER, Key::NumpadEnter},
        {SDL_SCANCODE_LCTRL, Key::ControlLeft},
        {SDL_SCANCODE_LSHIFT, Key::ShiftLeft},
        {SDL_SCANCODE_RCTRL, Key::ControlRight},
        {SDL_SCANCODE_RSHIFT, Key::ShiftRight},
    };
    // One line per bound position, in scancode order, so that a failure shows
    // the lines that differ.
    const auto line = [](SDL_Scancode code, Key key) {
        return std::string(SDL_GetScancodeName(code)) + " -> key " +
               std::to_string(static_cast<int>(key)) + "\n";
    };
    std::string expected, found;
    for (const auto& [code, key] : bound) expected += line(code, key);
    EXPECT_EQ(key_for_scancode(SDL_SCANCODE_UNKNOWN), std::nullopt);
    for (int code = 1; code < SDL_NUM_SCANCODES; ++code) {
        const auto scancode = static_cast<SDL_Scancode>(code);
        const std::optional<Key> key = key_for_scancode(scancode);
        ASSERT_TRUE(key.has_value()) << code;
        if (*key != Key::Other) found += line(scancode, *key);
    }
    EXPECT_EQ(found, expected);
}

TEST_F(SdlInput, HeldKeysRepeatTextAndBackspacesOnly) {
    key(SDL_KEYDOWN, SDL_SCANCODE_BACKSPACE, SDLK_BACKSPACE);
    key(SDL_KEYDOWN, SDL_SCANCODE_BACKSPACE, SDLK_BACKSPACE, true);
    key(SDL_KEYDOWN, SDL_SCANCODE_SPACE, SDLK_SPACE);
    text(" ");
    key(SDL_KEYDOWN, SDL_SCANCODE_SPACE, SDLK_SPACE, true);
    text(" ");
    key(SDL_KEYDOWN, SDL_SCANCODE_LEFT, SDLK_LEFT);
    key(SDL_KEYUP, SDL_SCANCODE_LEFT, SDLK_LEFT);
    key(SDL_KEYDOWN, SDL_SCANCODE_LEFT, SDLK_LEFT, true);
    EXPECT_EQ(input.backspaces, 2u);
    EXPECT_EQ(input.typed_text, "  ");
    EXPECT_EQ(input.pressed_keys, (std::vector<Key>{Key::Backspace, Key::Space, Key::ArrowLeft}));
    EXPECT_EQ(frame().held_dir[0], std::nullopt);
}

TEST_F(SdlInput, TypedTextAndBackspacesReachTheFrame) {
    key(SDL_KEYDOWN, SDL_SCANCODE_BACKSPACE, SDLK_BACKSPACE);
    text("b");
    text("\xC3\xBC");  // ü
    text("7");
    const FrameInput f = frame();
    EXPECT_EQ(f.typed,
              "b\xC3\xBC"
              "7");
    EXPECT_EQ(f.backspaces, 1u);
}

TEST_F(SdlInput, OnlyARealLeftClickConfirms) {
    auto click = [&](Uint8 button, Uint32 which) {
        SDL_Event event{};
        event.button.type = SDL_MOUSEBUTTONDOWN;
        event.button.button = button;
        event.button.which = which;
        event.button.state = SDL_PRESSED;
        through_sdl(event);
    };
    click(SDL_BUTTON_RIGHT, 0);
    EXPECT_FALSE(frame().confirm);
    click(SDL_BUTTON_LEFT, SDL_TOUCH_MOUSEID);  // SDL's echo of a touch
    EXPECT_FALSE(frame().confirm);
    click(SDL_BUTTON_LEFT, 0);
    EXPECT_TRUE(frame().confirm);
    SDL_Event up{};
    up.button.type = SDL_MOUSEBUTTONUP;
    up.button.button = SDL_BUTTON_LEFT;
    through_sdl(up);
    EXPECT_FALSE(frame().confirm);
}

TEST_F(SdlInput, FingersAreMeasuredInWindowPixelsWithAScaledThreshold) {
    // A 1920 × 1200 pixel window shown at twice the pixel ratio: 14 logical
    // pixels are 28 physical ones.
    const TouchSpace space{1920.0, 1200.0, 2.0};
    const double threshold = swipe_threshold(space.scale);
    finger(SDL_FINGERDOWN, 4, 0.5f, 0.5f, space);
    finger(SDL_FINGERMOTION, 4, 0.5f + 20.0f / 1920.0f, 0.5f, space);
    EXPECT_EQ(frame(threshold).held_dir[0], std::nullopt);
    finger(SDL_FINGERMOTION, 4, 0.5f + 30.0f / 1920.0f, 0.5f, space);
    EXPECT_EQ(frame(threshold).pressed_dir[0], Dir::Right);
    finger(SDL_FINGERUP, 4, 0.5f + 30.0f / 1920.0f, 0.5f, space);
    EXPECT_FALSE(frame(threshold).confirm);

    // A lift 20 physical pixels away is still a tap at this ratio.
    finger(SDL_FINGERDOWN, 5, 0.25f, 0.25f, space);
    finger(SDL_FINGERUP, 5, 0.25f, 0.25f + 20.0f / 1200.0f, space);
    EXPECT_TRUE(frame(threshold).confirm);
}

TEST_F(SdlInput, LosingTheWindowFocusLetsGoOfTheKeys) {
    key(SDL_KEYDOWN, SDL_SCANCODE_D, SDLK_d);
    EXPECT_EQ(frame().held_dir[1], Dir::Right);
    SDL_Event event{};
    event.window.type = SDL_WINDOWEVENT;
    event.window.event = SDL_WINDOWEVENT_FOCUS_LOST;
    through_sdl(event);
    EXPECT_EQ(frame().held_dir[1], std::nullopt);
}

TEST_F(SdlInput, AnOrdinaryPadSteersAndFiresThroughSdl) {
    start_library();
    SDL_Joystick* pad = attach_pad("Test Pad", 0x045E, 0x028E);
    ASSERT_EQ(library->gamepads().size(), 1u);
    EXPECT_EQ(library->gamepads()[0].name, "Test Pad");
    EXPECT_EQ(library->gamepads()[0].vendor, 0x045E);

    SDL_JoystickSetVirtualButton(pad, SDL_CONTROLLER_BUTTON_DPAD_LEFT, 1);
    SDL_JoystickSetVirtualButton(pad, SDL_CONTROLLER_BUTTON_DPAD_DOWN, 1);
    SDL_JoystickSetVirtualButton(pad, SDL_CONTROLLER_BUTTON_B, 1);
    pump();
    FrameInput f = frame();
    EXPECT_EQ(f.held_dir[0], Dir::Down);  // the D-pad is read up, right, down, left
    EXPECT_EQ(f.pressed_dir[0], Dir::Down);
    EXPECT_TRUE(f.drop[0]);
    EXPECT_TRUE(f.confirm);
    EXPECT_EQ(last_counts.gamepads, 1u);

    // Held, the button does nothing more.
    pump();
    f = frame();
    EXPECT_FALSE(f.drop[0]);
    EXPECT_EQ(f.pressed_dir[0], std::nullopt);

    SDL_JoystickSetVirtualButton(pad, SDL_CONTROLLER_BUTTON_DPAD_LEFT, 0);
    SDL_JoystickSetVirtualButton(pad, SDL_CONTROLLER_BUTTON_DPAD_DOWN, 0);
    SDL_JoystickSetVirtualButton(pad, SDL_CONTROLLER_BUTTON_B, 0);
    SDL_JoystickSetVirtualButton(pad, SDL_CONTROLLER_BUTTON_START, 1);
    SDL_JoystickSetVirtualButton(pad, SDL_CONTROLLER_BUTTON_BACK, 1);
    pump();
    f = frame();
    EXPECT_EQ(f.held_dir[0], std::nullopt);
    EXPECT_TRUE(f.pause);
    EXPECT_TRUE(f.confirm);
    EXPECT_TRUE(f.back);
    EXPECT_FALSE(f.drop[0]);

    // The triggers are axes in SDL; pulled past halfway they drop a charge.
    // (A virtual axis of v reads as a trigger of (v + 32768) / 2.)
    SDL_JoystickSetVirtualAxis(pad, SDL_CONTROLLER_AXIS_TRIGGERRIGHT, 0);
    pump();
    EXPECT_FALSE(frame().drop[0]);
    SDL_JoystickSetVirtualAxis(pad, SDL_CONTROLLER_AXIS_TRIGGERRIGHT, 1000);
    pump();
    EXPECT_TRUE(frame().drop[0]);
    SDL_JoystickSetVirtualButton(pad, SDL_CONTROLLER_BUTTON_LEFTSHOULDER, 1);
    pump();
    EXPECT_FALSE(frame().drop[0]);
}

TEST_F(SdlInput, ThePadStickCountsFromHalfWayWithUpwardsUp) {
    start_library();
    SDL_Joystick* pad = attach_pad("Stick Pad", 0x1234, 0x0001);
    auto stick = [&](Sint16 x, Sint16 y) {
        SDL_JoystickSetVirtualAxis(pad, SDL_CONTROLLER_AXIS_LEFTX, x);
        SDL_JoystickSetVirtualAxis(pad, SDL_CONTROLLER_AXIS_LEFTY, y);
        pump();
        return library->gamepads().at(0).state.dir;
    };
    EXPECT_EQ(stick(9830, -13107), std::nullopt);  // (0.3, 0.4) upwards
    EXPECT_EQ(stick(19660, 22937), Dir::Down);     // (0.6, −0.7)
    EXPECT_EQ(stick(0, -32768), Dir::Up);
    EXPECT_EQ(stick(-32768, 0), Dir::Left);
    EXPECT_EQ(stick(16384, 0), Dir::Right);
    EXPECT_EQ(stick(16383, 0), std::nullopt);
}

TEST_F(SdlInput, AProControllerSeenTwiceCountsOnceAndAnOrdinaryPadTakesSlotTwo) {
    start_library();
    SDL_Joystick* duplicate = attach_pad("Nintendo Switch Pro Controller", 0x057E, 0x2009);
    SDL_Joystick* ordinary = attach_pad("Test Pad", 0x045E, 0x028E);
    SDL_JoystickSetVirtualButton(duplicate, SDL_CONTROLLER_BUTTON_DPAD_UP, 1);
    SDL_JoystickSetVirtualButton(ordinary, SDL_CONTROLLER_BUTTON_DPAD_RIGHT, 1);
    pump();
    ASSERT_EQ(library->gamepads().size(), 2u);
    EXPECT_EQ(library->gamepads()[0].vendor, 0x057E);
    EXPECT_EQ(library->gamepads()[0].product, 0x2009);

    pro_controllers = {PadState{Dir::Left}};
    FrameInput f = frame();
    EXPECT_EQ(f.held_dir[0], Dir::Left);
    EXPECT_EQ(f.held_dir[1], Dir::Right);
    EXPECT_EQ(last_counts.gamepads, 2u);
    EXPECT_EQ(last_counts.pro_controllers, 1u);

    // Once our driver lets go of it, the gamepad library's view of it plays.
    pro_controllers.clear();
    f = frame();
    EXPECT_EQ(f.held_dir[0], Dir::Up);
    EXPECT_EQ(f.held_dir[1], Dir::Right);
    EXPECT_EQ(last_counts.pro_controllers, 0u);
}

TEST_F(SdlInput, OfThreePadsTheFirstTwoPlayAndARemovedOneMakesRoom) {
    start_library();
    SDL_Joystick* first = attach_pad("Pad One", 0x1111, 0x0001);
    SDL_Joystick* second = attach_pad("Pad Two", 0x2222, 0x0002);
    SDL_Joystick* third = attach_pad("Pad Three", 0x3333, 0x0003);
    SDL_JoystickSetVirtualButton(first, SDL_CONTROLLER_BUTTON_DPAD_UP, 1);
    SDL_JoystickSetVirtualButton(second, SDL_CONTROLLER_BUTTON_DPAD_RIGHT, 1);
    SDL_JoystickSetVirtualButton(third, SDL_CONTROLLER_BUTTON_DPAD_DOWN, 1);
    pump();
    FrameInput f = frame();
    EXPECT_EQ(f.held_dir[0], Dir::Up);
    EXPECT_EQ(f.held_dir[1], Dir::Right);
    EXPECT_EQ(last_counts.gamepads, 2u);

    // Unplugging the second pad: SDL closes it and the third moves up.
    int second_index = -1;
    for (int i = 0; i < SDL_NumJoysticks(); ++i)
        if (SDL_JoystickGetDeviceInstanceID(i) == SDL_JoystickInstanceID(second)) second_index = i;
    ASSERT_GE(second_index, 0);
    ASSERT_EQ(SDL_JoystickDetachVirtual(second_index), 0) << SDL_GetError();
    pump();
    ASSERT_EQ(library->gamepads().size(), 2u);
    f = frame();
    EXPECT_EQ(f.held_dir[1], Dir::Down);
}

TEST_F(SdlInput, TheLogNamesThePadsAtStartAndTheFirstSixtyEvents) {
    SDL_VirtualJoystickDesc desc{};
    desc.version = SDL_VIRTUAL_JOYSTICK_DESC_VERSION;
    desc.type = SDL_JOYSTICK_TYPE_GAMECONTROLLER;
    desc.naxes = SDL_CONTROLLER_AXIS_MAX;
    desc.nbuttons = SDL_CONTROLLER_BUTTON_DPAD_RIGHT + 1;
    desc.vendor_id = 0x057E;
    desc.product_id = 0x2009;
    desc.name = "Virtual Pro";
    ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_JOYSTICK), 0);
    ASSERT_GE(SDL_JoystickAttachVirtualEx(&desc), 0);
    start_library();
    library->log_listing();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0], "gamepads known to the gamepad library at start:");
    const std::string id = std::to_string(SDL_JoystickGetDeviceInstanceID(0));
    EXPECT_EQ(log[1],
              "  " + id + ": Virtual Pro (057e:2009), mapping from Driver, connected: true");

    log.clear();
    pump();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0], "gamepad event from " + id + ": connected");
    SDL_Joystick* pad = SDL_JoystickOpen(0);
    SDL_JoystickSetVirtualButton(pad, SDL_CONTROLLER_BUTTON_A, 1);
    pump();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[1], "gamepad event from " + id + ": button a pressed");
    for (int i = 0; i < 40; ++i) {
        SDL_JoystickSetVirtualButton(pad, SDL_CONTROLLER_BUTTON_A, static_cast<Uint8>(i % 2));
        pump();
    }
    SDL_JoystickSetVirtualAxis(pad, SDL_CONTROLLER_AXIS_LEFTX, -32768);
    pump();
    EXPECT_EQ(log[42], "gamepad event from " + id + ": axis leftx -32768");
    for (int i = 0; i < 40; ++i) {
        SDL_JoystickSetVirtualButton(pad, SDL_CONTROLLER_BUTTON_X, static_cast<Uint8>(i % 2));
        pump();
    }
    EXPECT_EQ(log.size(), 60u);
    SDL_JoystickClose(pad);
}

}  // namespace
}  // namespace zobra

namespace zobra {
namespace {

TEST(FullscreenKeys, F11AndEnterWithAltBelongToTheWindowEverythingElseToTheGame) {
    struct Case {
        Uint32 type;
        SDL_Scancode key;
        Uint16 mod;
        bool fullscreen;
    };
    const Case cases[] = {
        {SDL_KEYDOWN, SDL_SCANCODE_F11, KMOD_NONE, true},
        {SDL_KEYUP, SDL_SCANCODE_F11, KMOD_NONE, true},
        {SDL_KEYDOWN, SDL_SCANCODE_RETURN, KMOD_LALT, true},
        {SDL_KEYDOWN, SDL_SCANCODE_KP_ENTER, KMOD_RALT, true},
        {SDL_KEYUP, SDL_SCANCODE_RETURN, KMOD_LALT | KMOD_SHIFT, true},
        {SDL_KEYDOWN, SDL_SCANCODE_RETURN, KMOD_NONE, false},
        {SDL_KEYDOWN, SDL_SCANCODE_RETURN, KMOD_CTRL, false},
        {SDL_KEYDOWN, SDL_SCANCODE_SPACE, KMOD_ALT, false},
        {SDL_KEYDOWN, SDL_SCANCODE_F9, KMOD_NONE, false},
        {SDL_TEXTINPUT, SDL_SCANCODE_F11, KMOD_NONE, false},
    };
    for (const Case& c : cases) {
        SDL_Event event{};
        event.type = c.type;
        event.key.keysym.scancode = c.key;
        event.key.keysym.mod = c.mod;
        EXPECT_EQ(is_fullscreen_key(event), c.fullscreen)
            << SDL_GetScancodeName(c.key) << " with modifiers " << c.mod;
    }
}

}  // namespace
}  // namespace zobra
