#include "platform/window_size.h"

#include <SDL_syswm.h>

namespace zobra {

std::optional<WindowSize> real_window_size(SDL_Window* window) {
#if defined(SDL_VIDEO_DRIVER_X11)
    // Xlib is SDL's, already loaded by its X11 driver; the game does not
    // link it itself.
    using GetAttributes = Status (*)(Display*, Window, XWindowAttributes*);
    static const auto get_attributes = [] {
        void* xlib = SDL_LoadObject("libX11.so.6");
        return xlib
                   ? reinterpret_cast<GetAttributes>(SDL_LoadFunction(xlib, "XGetWindowAttributes"))
                   : nullptr;
    }();
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (get_attributes == nullptr || SDL_GetWindowWMInfo(window, &info) != SDL_TRUE ||
        info.subsystem != SDL_SYSWM_X11)
        return std::nullopt;
    XWindowAttributes attributes{};
    if (get_attributes(info.info.x11.display, info.info.x11.window, &attributes) == 0)
        return std::nullopt;
    return WindowSize{attributes.width, attributes.height};
#else
    (void)window;
    return std::nullopt;
#endif
}

}  // namespace zobra
