// What the X server sees of the game's window, for scripts/measure-window.sh.
// It watches from outside the game through the X DAMAGE extension, so the
// game runs exactly as it does for a player.
//
//   window-probe first-picture PROGRAM [ARGUMENT …]
//       starts the program (in its own process group, with this process's
//       environment) and prints the milliseconds from the fork until its
//       first window was mapped and until that window first held a pixel
//       that is not black; then ends the program.
//   window-probe frames WINDOW SECONDS
//       counts the frames the window received over SECONDS: every
//       presented frame reaches the server as one burst of image requests,
//       and bursts are told apart by the quiet between them. Also prints
//       the pixels updated per frame.
//
// Build: c++ -O2 -o window-probe window-probe.cpp -lX11 -lXdamage

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xdamage.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Image requests of one frame reach the server within a millisecond or two;
// frames at sixty a second are 16 ms apart.
constexpr unsigned long burst_gap_ms = 5;

double ms_since(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Waits for the X connection to have something to read, at most `ms`.
void wait_for_x(Display* x, int ms) {
    if (XPending(x) > 0) return;
    pollfd p{ConnectionNumber(x), POLLIN, 0};
    poll(&p, 1, ms);
}

bool holds_colour(Display* x, Window w) {
    XWindowAttributes a;
    if (!XGetWindowAttributes(x, w, &a) || a.map_state != IsViewable) return false;
    XImage* image = XGetImage(x, w, 0, 0, static_cast<unsigned>(a.width),
                              static_cast<unsigned>(a.height), AllPlanes, ZPixmap);
    if (image == nullptr) return false;
    bool found = false;
    for (int row = 0; row < image->height && !found; ++row)
        for (int column = 0; column < image->width && !found; ++column)
            found = (XGetPixel(image, column, row) & 0xFFFFFF) != 0;
    XDestroyImage(image);
    return found;
}

int ignore_errors(Display*, XErrorEvent*) { return 0; }

int first_picture(char** argv) {
    Display* x = XOpenDisplay(nullptr);
    if (x == nullptr) return std::fprintf(stderr, "window-probe: no display\n"), 2;
    int damage_event = 0, damage_error = 0;
    if (!XDamageQueryExtension(x, &damage_event, &damage_error))
        return std::fprintf(stderr, "window-probe: the server has no DAMAGE\n"), 2;
    XSetErrorHandler(ignore_errors);  // windows may vanish between requests
    const Window root = DefaultRootWindow(x);
    XSelectInput(x, root, SubstructureNotifyMask);
    XSync(x, False);

    const Clock::time_point start = Clock::now();
    const pid_t child = fork();
    if (child < 0) return std::perror("fork"), 2;
    if (child == 0) {
        setpgid(0, 0);
        execvp(argv[0], argv);
        _exit(127);
    }
    setpgid(child, child);

    std::set<Window> watched;
    double mapped = -1, picture = -1;
    while (picture < 0 && ms_since(start) < 30000) {
        wait_for_x(x, 50);
        while (XPending(x) > 0 && picture < 0) {
            XEvent event;
            XNextEvent(x, &event);
            if (event.type == CreateNotify && watched.insert(event.xcreatewindow.window).second) {
                // Watched from its birth, before anything can be drawn in it.
                XDamageCreate(x, event.xcreatewindow.window, XDamageReportNonEmpty);
                XSelectInput(x, event.xcreatewindow.window, StructureNotifyMask);
            } else if (event.type == MapNotify && watched.count(event.xmap.window)) {
                if (mapped < 0) mapped = ms_since(start);
                if (holds_colour(x, event.xmap.window)) picture = ms_since(start);
            } else if (event.type == damage_event + XDamageNotify) {
                const auto& d = reinterpret_cast<const XDamageNotifyEvent&>(event);
                XDamageSubtract(x, d.damage, None, None);
                if (holds_colour(x, d.drawable)) picture = ms_since(start);
            }
        }
        int status = 0;
        if (waitpid(child, &status, WNOHANG) == child) break;
    }
    kill(-child, SIGKILL);
    waitpid(child, nullptr, 0);
    XCloseDisplay(x);
    if (picture < 0) return std::fprintf(stderr, "window-probe: no picture seen\n"), 1;
    std::printf("mapped_ms=%.1f first_picture_ms=%.1f\n", mapped, picture);
    return 0;
}

int frames(Window window, double seconds) {
    Display* x = XOpenDisplay(nullptr);
    if (x == nullptr) return std::fprintf(stderr, "window-probe: no display\n"), 2;
    int damage_event = 0, damage_error = 0;
    if (!XDamageQueryExtension(x, &damage_event, &damage_error))
        return std::fprintf(stderr, "window-probe: the server has no DAMAGE\n"), 2;
    XDamageCreate(x, window, XDamageReportRawRectangles);
    XSync(x, False);

    unsigned long frames = 0, rectangles = 0, last_time = 0;
    unsigned long long pixels = 0;
    bool any = false;
    const Clock::time_point start = Clock::now();
    while (ms_since(start) < seconds * 1000) {
        wait_for_x(x, 20);
        while (XPending(x) > 0) {
            XEvent event;
            XNextEvent(x, &event);
            if (event.type != damage_event + XDamageNotify) continue;
            const auto& d = reinterpret_cast<const XDamageNotifyEvent&>(event);
            if (!any || d.timestamp - last_time >= burst_gap_ms) ++frames;
            any = true;
            last_time = d.timestamp;
            ++rectangles;
            pixels += static_cast<unsigned long long>(d.area.width) * d.area.height;
        }
    }
    XCloseDisplay(x);
    std::printf("frames shown/s %.1f  rectangles/frame %.1f  pixels/frame %.0f\n",
                static_cast<double>(frames) / seconds,
                frames ? static_cast<double>(rectangles) / static_cast<double>(frames) : 0.0,
                frames ? static_cast<double>(pixels) / static_cast<double>(frames) : 0.0);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 3 && std::strcmp(argv[1], "first-picture") == 0) return first_picture(argv + 2);
    if (argc == 4 && std::strcmp(argv[1], "frames") == 0)
        return frames(std::strtoul(argv[2], nullptr, 0), std::atof(argv[3]));
    std::fprintf(stderr,
                 "usage: window-probe first-picture PROGRAM [ARGUMENT ...]\n"
                 "       window-probe frames WINDOW SECONDS\n");
    return 2;
}
