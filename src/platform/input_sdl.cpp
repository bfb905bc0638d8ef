#include "platform/input_sdl.h"

#include <algorithm>
#include <cstdio>
#include <utility>

namespace zobra {

namespace {

// SDL axes run from −32768 to 32767.
constexpr float axis_full = 32767.0f;
// A trigger is a button here once it is pulled past halfway.
constexpr Sint16 trigger_half = 16384;

float unit_axis(Sint16 value) { return std::max(static_cast<float>(value) / axis_full, -1.0f); }

bool button(SDL_GameController* pad, SDL_GameControllerButton which) {
    return SDL_GameControllerGetButton(pad, which) != 0;
}

PadState pad_state(SDL_GameController* pad) {
    PadState state;
    if (button(pad, SDL_CONTROLLER_BUTTON_DPAD_UP))
        state.dir = Dir::Up;
    else if (button(pad, SDL_CONTROLLER_BUTTON_DPAD_RIGHT))
        state.dir = Dir::Right;
    else if (button(pad, SDL_CONTROLLER_BUTTON_DPAD_DOWN))
        state.dir = Dir::Down;
    else if (button(pad, SDL_CONTROLLER_BUTTON_DPAD_LEFT))
        state.dir = Dir::Left;
    else  // SDL's stick y grows downwards
        state.dir =
            stick_dir(unit_axis(SDL_GameControllerGetAxis(pad, SDL_CONTROLLER_AXIS_LEFTX)),
                      -unit_axis(SDL_GameControllerGetAxis(pad, SDL_CONTROLLER_AXIS_LEFTY)));
    state.face = button(pad, SDL_CONTROLLER_BUTTON_A) || button(pad, SDL_CONTROLLER_BUTTON_B) ||
                 button(pad, SDL_CONTROLLER_BUTTON_X) || button(pad, SDL_CONTROLLER_BUTTON_Y);
    state.start = button(pad, SDL_CONTROLLER_BUTTON_START);
    state.select = button(pad, SDL_CONTROLLER_BUTTON_BACK);
    state.drop = button(pad, SDL_CONTROLLER_BUTTON_LEFTSHOULDER) ||
                 button(pad, SDL_CONTROLLER_BUTTON_RIGHTSHOULDER) ||
                 SDL_GameControllerGetAxis(pad, SDL_CONTROLLER_AXIS_TRIGGERLEFT) > trigger_half ||
                 SDL_GameControllerGetAxis(pad, SDL_CONTROLLER_AXIS_TRIGGERRIGHT) > trigger_half;
    return state;
}

std::string hex4(Uint16 value) {
    char text[5];
    std::snprintf(text, sizeof text, "%04x", static_cast<unsigned>(value));
    return text;
}

// Where SDL got the button layout. Devices that one of SDL's own drivers
// runs (HIDAPI, virtual, raw input, ...) carry the driver's mark in byte 14
// of their GUID and get the layout that driver describes; the rest are
// matched against SDL's mapping database.
const char* mapping_source(int device_index) {
    if (!SDL_IsGameController(device_index)) return "None";
    constexpr int driver_signature_byte = 14;
    const SDL_JoystickGUID guid = SDL_JoystickGetDeviceGUID(device_index);
    return guid.data[driver_signature_byte] != 0 ? "Driver" : "SdlMappings";
}

const char* or_empty(const char* text) { return text ? text : ""; }

// SDL has no words of its own for its events; these say what happened.
std::string event_text(const SDL_Event& event) {
    switch (event.type) {
        case SDL_CONTROLLERDEVICEADDED:
            return "connected";
        case SDL_CONTROLLERDEVICEREMOVED:
            return "disconnected";
        case SDL_CONTROLLERDEVICEREMAPPED:
            return "remapped";
        case SDL_CONTROLLERBUTTONDOWN:
        case SDL_CONTROLLERBUTTONUP:
            return std::string("button ") +
                   or_empty(SDL_GameControllerGetStringForButton(
                       static_cast<SDL_GameControllerButton>(event.cbutton.button))) +
                   (event.type == SDL_CONTROLLERBUTTONDOWN ? " pressed" : " released");
        case SDL_CONTROLLERAXISMOTION:
            return std::string("axis ") +
                   or_empty(SDL_GameControllerGetStringForAxis(
                       static_cast<SDL_GameControllerAxis>(event.caxis.axis))) +
                   " " + std::to_string(event.caxis.value);
        default:
            return {};
    }
}

}  // namespace

std::optional<Key> key_for_scancode(SDL_Scancode scancode) {
    switch (scancode) {
        case SDL_SCANCODE_UNKNOWN:
            return std::nullopt;
        case SDL_SCANCODE_UP:
            return Key::ArrowUp;
        case SDL_SCANCODE_RIGHT:
            return Key::ArrowRight;
        case SDL_SCANCODE_DOWN:
            return Key::ArrowDown;
        case SDL_SCANCODE_LEFT:
            return Key::ArrowLeft;
        case SDL_SCANCODE_W:
            return Key::KeyW;
        case SDL_SCANCODE_D:
            return Key::KeyD;
        case SDL_SCANCODE_S:
            return Key::KeyS;
        case SDL_SCANCODE_A:
            return Key::KeyA;
        case SDL_SCANCODE_SPACE:
            return Key::Space;
        case SDL_SCANCODE_RETURN:
            return Key::Enter;
        case SDL_SCANCODE_KP_ENTER:
            return Key::NumpadEnter;
        case SDL_SCANCODE_RCTRL:
            return Key::ControlRight;
        case SDL_SCANCODE_RSHIFT:
            return Key::ShiftRight;
        case SDL_SCANCODE_Q:
            return Key::KeyQ;
        case SDL_SCANCODE_LCTRL:
            return Key::ControlLeft;
        case SDL_SCANCODE_LSHIFT:
            return Key::ShiftLeft;
        case SDL_SCANCODE_R:
            return Key::KeyR;
        case SDL_SCANCODE_ESCAPE:
            return Key::Escape;
        case SDL_SCANCODE_P:
            return Key::KeyP;
        case SDL_SCANCODE_M:
            return Key::KeyM;
        case SDL_SCANCODE_TAB:
            return Key::Tab;
        case SDL_SCANCODE_N:
            return Key::KeyN;
        case SDL_SCANCODE_F9:
            return Key::F9;
        case SDL_SCANCODE_BACKSPACE:
            return Key::Backspace;
        case SDL_SCANCODE_F:
            return Key::KeyF;
        case SDL_SCANCODE_O:
            return Key::KeyO;
        default:
            return Key::Other;
    }
}

bool is_fullscreen_key(const SDL_Event& event) {
    if (event.type != SDL_KEYDOWN && event.type != SDL_KEYUP) return false;
    const SDL_Scancode key = event.key.keysym.scancode;
    if (key == SDL_SCANCODE_F11) return true;
    const bool enter = key == SDL_SCANCODE_RETURN || key == SDL_SCANCODE_KP_ENTER;
    return enter && (event.key.keysym.mod & KMOD_ALT) != 0;
}

TouchSpace touch_space(SDL_Window* window) {
    if (window == nullptr) return {};
    int logical_w = 0;
    int logical_h = 0;
    int pixel_w = 0;
    int pixel_h = 0;
    SDL_GetWindowSize(window, &logical_w, &logical_h);
    SDL_GetWindowSizeInPixels(window, &pixel_w, &pixel_h);
    TouchSpace space{static_cast<double>(pixel_w), static_cast<double>(pixel_h), 1.0};
    if (logical_w > 0) space.scale = static_cast<double>(pixel_w) / logical_w;
    return space;
}

void feed_event(InputCollector& input, const SDL_Event& event, const TouchSpace& space) {
    switch (event.type) {
        case SDL_KEYDOWN:
            input.key_down(key_for_scancode(event.key.keysym.scancode), event.key.repeat != 0);
            break;
        case SDL_KEYUP:
            input.key_up(key_for_scancode(event.key.keysym.scancode), event.key.repeat != 0);
            break;
        case SDL_TEXTINPUT:
            input.text(event.text.text);
            break;
        case SDL_MOUSEBUTTONDOWN:
            // SDL also reports touches as mouse clicks; the touch itself counts.
            if (event.button.button == SDL_BUTTON_LEFT && event.button.which != SDL_TOUCH_MOUSEID)
                input.left_click();
            break;
        case SDL_FINGERDOWN:
            input.touch_down(static_cast<std::uint64_t>(event.tfinger.fingerId),
                             event.tfinger.x * space.width, event.tfinger.y * space.height);
            break;
        case SDL_FINGERMOTION:
            input.touch_move(static_cast<std::uint64_t>(event.tfinger.fingerId),
                             event.tfinger.x * space.width, event.tfinger.y * space.height);
            break;
        case SDL_FINGERUP:
            // The finger's last position arrives with the lift.
            input.touch_move(static_cast<std::uint64_t>(event.tfinger.fingerId),
                             event.tfinger.x * space.width, event.tfinger.y * space.height);
            input.touch_up(static_cast<std::uint64_t>(event.tfinger.fingerId),
                           swipe_threshold(space.scale));
            break;
        case SDL_WINDOWEVENT:
            if (event.window.event == SDL_WINDOWEVENT_FOCUS_LOST) input.focus_lost();
            break;
        default:
            break;
    }
}

std::optional<GamepadLibrary> GamepadLibrary::start(LogSink log, std::string& error) {
    // Our own driver talks to Pro Controllers; SDL must leave them alone.
    // Pads keep working while another window has the focus.
    SDL_SetHint(SDL_HINT_JOYSTICK_HIDAPI_SWITCH, "0");
    SDL_SetHint(SDL_HINT_JOYSTICK_ALLOW_BACKGROUND_EVENTS, "1");
    if (SDL_InitSubSystem(SDL_INIT_GAMECONTROLLER) != 0) {
        error = SDL_GetError();
        return std::nullopt;
    }
    return GamepadLibrary(std::move(log));
}

void GamepadLibrary::log_listing() const {
    log_("gamepads known to the gamepad library at start:");
    const int count = SDL_NumJoysticks();
    for (int i = 0; i < count; ++i) {
        log_("  " + std::to_string(SDL_JoystickGetDeviceInstanceID(i)) + ": " +
             or_empty(SDL_JoystickNameForIndex(i)) + " (" + hex4(SDL_JoystickGetDeviceVendor(i)) +
             ":" + hex4(SDL_JoystickGetDeviceProduct(i)) + "), mapping from " + mapping_source(i) +
             ", connected: true");
    }
}

void GamepadLibrary::handle_event(const SDL_Event& event) {
    SDL_JoystickID id = -1;
    switch (event.type) {
        case SDL_CONTROLLERDEVICEADDED: {
            // Added events carry the device index, all others the instance id.
            const int index = event.cdevice.which;
            id = SDL_JoystickGetDeviceInstanceID(index);
            if (SDL_GameControllerFromInstanceID(id) == nullptr) SDL_GameControllerOpen(index);
            break;
        }
        case SDL_CONTROLLERDEVICEREMOVED:
            id = event.cdevice.which;
            if (SDL_GameController* pad = SDL_GameControllerFromInstanceID(id))
                SDL_GameControllerClose(pad);
            break;
        case SDL_CONTROLLERDEVICEREMAPPED:
            id = event.cdevice.which;
            break;
        case SDL_CONTROLLERBUTTONDOWN:
        case SDL_CONTROLLERBUTTONUP:
            id = event.cbutton.which;
            break;
        case SDL_CONTROLLERAXISMOTION:
            id = event.caxis.which;
            break;
        default:
            return;
    }
    if (events_logged_ < gamepad_events_logged_max) {
        ++events_logged_;
        log_("gamepad event from " + std::to_string(id) + ": " + event_text(event));
    }
}

// Reads SDL's state, but only a started library may ask it.
// NOLINTNEXTLINE(readability-convert-member-functions-to-static)
std::vector<Gamepad> GamepadLibrary::gamepads() const {
    std::vector<Gamepad> pads;
    const int count = SDL_NumJoysticks();
    for (int i = 0; i < count; ++i) {
        SDL_GameController* pad =
            SDL_GameControllerFromInstanceID(SDL_JoystickGetDeviceInstanceID(i));
        if (pad == nullptr) continue;
        pads.push_back(Gamepad{or_empty(SDL_GameControllerName(pad)),
                               SDL_GameControllerGetVendor(pad), SDL_GameControllerGetProduct(pad),
                               SDL_GameControllerGetAttached(pad) == SDL_TRUE, pad_state(pad)});
    }
    return pads;
}

}  // namespace zobra
