#include <SDL.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <iostream>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "core/panic.h"
#include "files/log.h"
#include "files/os.h"
#include "files/replay_store.h"
#include "files/save.h"
#include "game/frame_clock.h"
#include "game/game.h"
#include "game/input.h"
#include "game/scaler.h"
#include "game/shots.h"
#include "platform/audio.h"
#include "platform/input_sdl.h"
#include "platform/online_shell.h"
#include "platform/platform.h"
#include "platform/window_size.h"
#include "procon/procon.h"

namespace zobra {

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* window_title = "Zobra";
constexpr int window_width = 960;
constexpr int window_height = 600;
constexpr int window_min_width = 320;
constexpr int window_min_height = 200;

// Stops through the crash path with one of the fatal start-up messages and
// the error SDL gave for it.
[[noreturn]] void fail(const std::string& what, const std::string& error,
                       const SourcePosition& where = SourcePosition::current()) {
    panic(what + ": " + error, where);
}

// The long-lived state the event handlers share.
struct App {
    App(SaveStore& store, Progress loaded, Instant start, std::optional<GamepadLibrary> pads)
        : save(store), game(std::move(loaded), start), gamepads(std::move(pads)), pacer(start) {}

    SaveStore& save;  // the run's save, holding its lock
    Game game;
    std::optional<GamepadLibrary> gamepads;  // none when SDL's controllers did not start
    PadList procon_pads;                     // filled by the Pro Controller driver
    OnlineShell online;                      // the connection to a relay, and the game's own
    InputCollector input;
    Sound sound;
    FramePacer pacer;
    SDL_Window* window = nullptr;
    SDL_Surface* surface = nullptr;
    bool redraw_requested = false;
    bool exit_requested = false;
    bool first_frame_logged = false;
    // Fullscreen was switched: SDL's idea of the window's size may be wrong.
    bool fullscreen_asked = false;
    // What the surface shows: only the parts of the canvas that changed are
    // scaled into it, and only those are sent to the window.
    ScreenPicture picture;
    void* surface_pixels = nullptr;  // the surface's buffer as last drawn into
    // The window lost what it showed (it was covered, hidden or changed):
    // the next frame sends the whole surface.
    bool show_all = true;
    // Scaled picture for surfaces that do not take 0x00RRGGBB rows directly.
    std::vector<std::uint32_t> staging;
    std::vector<SDL_Rect> rects;  // the changed parts, as SDL takes them
};

// SDL falls back to an invisible offscreen window when there is no display;
// unless a driver was asked for by name, that means no window system.
void reach_window_system() {
    SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
    if (SDL_InitSubSystem(SDL_INIT_VIDEO | SDL_INIT_EVENTS) != 0)
        fail("the window system can be reached", SDL_GetError());
    const char* asked = std::getenv("SDL_VIDEODRIVER");
    const char* driver = SDL_GetCurrentVideoDriver();
    const std::string name = driver ? driver : "";
    if ((asked == nullptr || *asked == '\0') && (name == "offscreen" || name == "dummy"))
        fail("the window system can be reached",
             "no display found (only the " + name + " video driver is available)");
}

// The first time the loop runs: the window, its surface and the sound.
void open_window(App& app) {
    if (app.window != nullptr) return;
    log_start("opening the window");
    SDL_Window* window = SDL_CreateWindow(window_title, SDL_WINDOWPOS_UNDEFINED,
                                          SDL_WINDOWPOS_UNDEFINED, window_width, window_height,
                                          SDL_WINDOW_RESIZABLE | SDL_WINDOW_ALLOW_HIGHDPI);
    if (window == nullptr) fail("a window can be opened", SDL_GetError());
    SDL_SetWindowMinimumSize(window, window_min_width, window_min_height);
    log_start("window open, asking for a surface to draw on");

    SDL_Surface* surface = SDL_GetWindowSurface(window);
    if (surface == nullptr) fail("the window can be drawn to", SDL_GetError());
    app.surface = surface;
    log_start("surface ready");
    app.redraw_requested = true;
    app.window = window;

    start_sound(app.sound, !app.game.session.progress.music_off);
    log_start(app.sound.output ? "sound running" : "no sound");

    // The driver's thread shares the list for the whole run and is never
    // joined; without the thread the game simply has no Pro Controllers. It
    // starts only now, after everything that may fork a helper process
    // (the window system's and the sound server's libraries do), so that no
    // child inherits a lock this thread held.
    PadList& pads = app.procon_pads;
    start_procon_thread([&pads] { procon_main(pads); });
}

// Desktop fullscreen and back. The picture keeps its proportions with black
// bars, as in any window size; fullscreen is not remembered between runs.
void toggle_fullscreen(SDL_Window* window) {
    if (window == nullptr) return;
    const bool full = (SDL_GetWindowFlags(window) & SDL_WINDOW_FULLSCREEN_DESKTOP) != 0;
    if (SDL_SetWindowFullscreen(window, full ? 0 : SDL_WINDOW_FULLSCREEN_DESKTOP) != 0)
        report_error(std::string("could not switch fullscreen: ") + SDL_GetError());
}

// Scales the canvas into the window surface and shows it.
void present(App& app) {
    int width = 0;
    int height = 0;
    SDL_GetWindowSizeInPixels(app.window, &width, &height);
    if (width <= 0 || height <= 0) return;

    // Asking again re-sizes the surface to the window; SDL keeps the buffer
    // when the size is unchanged.
    SDL_Surface* surface = SDL_GetWindowSurface(app.window);
    if (surface == nullptr) {
        report_error(std::string("could not size the window surface: ") + SDL_GetError());
        return;
    }
    if (!app.first_frame_logged) {
        app.first_frame_logged = true;
        log_start("first frame on its way to the screen");
    }

    // A surface SDL made anew holds none of the picture.
    if (surface != app.surface || surface->pixels != app.surface_pixels) app.picture.forget();
    app.surface = surface;
    app.surface_pixels = surface->pixels;

    // After a request to switch fullscreen on or off SDL reports the size it
    // asked for, granted or not (without a window manager it never is): the
    // picture is drawn for the size the window really has, into the
    // surface's top left.
    auto w = static_cast<std::uint32_t>(surface->w);
    auto h = static_cast<std::uint32_t>(surface->h);
    if (app.fullscreen_asked) {
        if (const std::optional<WindowSize> real = real_window_size(app.window)) {
            w = std::min(w, static_cast<std::uint32_t>(std::max(real->w, 0)));
            h = std::min(h, static_cast<std::uint32_t>(std::max(real->h, 0)));
        }
        if (w == 0 || h == 0) return;
    }
    const bool direct = surface->format->format == SDL_PIXELFORMAT_XRGB8888 &&
                        surface->pitch == surface->w * 4 && !SDL_MUSTLOCK(surface) &&
                        w == static_cast<std::uint32_t>(surface->w) &&
                        h == static_cast<std::uint32_t>(surface->h);
    std::span<const PixelRect> changed;
    if (direct) {
        auto* pixels = static_cast<std::uint32_t*>(surface->pixels);
        changed = app.picture.update(app.game.canvas.pixels, {pixels, std::size_t{w} * h}, w, h);
    } else {
        if (app.staging.size() != std::size_t{w} * h) app.staging.assign(std::size_t{w} * h, 0);
        changed = app.picture.update(app.game.canvas.pixels, app.staging, w, h);
        if (!changed.empty() && SDL_LockSurface(surface) == 0) {
            const int bytes = surface->format->BytesPerPixel;
            for (const PixelRect& r : changed)
                SDL_ConvertPixels(static_cast<int>(r.w), static_cast<int>(r.h),
                                  SDL_PIXELFORMAT_XRGB8888,
                                  app.staging.data() + std::size_t{r.y} * w + r.x,
                                  static_cast<int>(w) * 4, surface->format->format,
                                  static_cast<std::uint8_t*>(surface->pixels) +
                                      static_cast<std::ptrdiff_t>(r.y) * surface->pitch +
                                      static_cast<std::ptrdiff_t>(r.x) * bytes,
                                  surface->pitch);
            SDL_UnlockSurface(surface);
        }
    }

    // A frame that changed nothing on screen sends nothing.
    int result = 0;
    if (app.show_all) {
        result = SDL_UpdateWindowSurface(app.window);
        app.show_all = false;
    } else if (!changed.empty()) {
        std::vector<SDL_Rect>& rects = app.rects;
        rects.clear();
        for (const PixelRect& r : changed)
            rects.push_back({static_cast<int>(r.x), static_cast<int>(r.y), static_cast<int>(r.w),
                             static_cast<int>(r.h)});
        result =
            SDL_UpdateWindowSurfaceRects(app.window, rects.data(), static_cast<int>(rects.size()));
    }
    if (result != 0) report_error(std::string("could not show the frame: ") + SDL_GetError());
}

// What a window event means for the picture: a new size needs a new
// surface drawn whole; a window shown again needs the surface sent whole.
void window_changed(App& app, std::uint8_t what) {
    switch (what) {
        case SDL_WINDOWEVENT_MOVED:
        case SDL_WINDOWEVENT_ENTER:
        case SDL_WINDOWEVENT_LEAVE:
        case SDL_WINDOWEVENT_FOCUS_GAINED:
        case SDL_WINDOWEVENT_FOCUS_LOST:
        case SDL_WINDOWEVENT_TAKE_FOCUS:
        case SDL_WINDOWEVENT_HIT_TEST:
        case SDL_WINDOWEVENT_CLOSE:
            break;
        case SDL_WINDOWEVENT_EXPOSED:
        case SDL_WINDOWEVENT_SHOWN:
            app.show_all = true;
            break;
        default:  // resized, minimised, restored, another display … : all anew
            app.picture.forget();
            app.show_all = true;
            break;
    }
}

// The session whose match a crash report carries as a replay, written
// from the recorder's encoded bytes without allocating.
std::atomic<const Session*> session_for_crash{nullptr};

void attach_replay(CrashTextSink sink, void* context) {
    if (const Session* session = session_for_crash.load())
        session->recorder.write_crash_text(sink, context);
}

// ZOBRA_TEST_CRASH_TICK=N makes the game stop on an internal error once a
// match being played reaches tick N: the end-to-end tests' way to a crash.
std::optional<std::uint32_t> test_crash_tick() {
    const char* text = std::getenv("ZOBRA_TEST_CRASH_TICK");
    if (text == nullptr || *text == '\0') return std::nullopt;
    return static_cast<std::uint32_t>(std::strtoul(text, nullptr, 10));
}

// Keeps the replays of the matches that ended beside the save; a replay
// shown from a file keeps nothing.
void keep_replays(App& app, const std::vector<FinishedReplay>& replays) {
    if (!app.save.path() || app.game.session.playback) return;
    const std::filesystem::path folder = replay_folder(*app.save.path());
    for (const FinishedReplay& replay : replays)
        if (const auto error = keep_replay(folder, replay.bytes, replay.setup,
                                           app.game.session.progress.name, std::time(nullptr)))
            report_error("could not keep the replay: " + *error);
}

// One frame of the game, run when a redraw is due.
void run_frame(App& app) {
    if (app.window == nullptr || app.surface == nullptr) return;
    const Instant now = Clock::now();
    std::vector<Gamepad> pads;
    if (app.gamepads) pads = app.gamepads->gamepads();
    FrameInput input = build_frame_input(
        app.input, app.procon_pads.copy(),
        app.gamepads ? std::optional<std::span<const Gamepad>>(pads) : std::nullopt,
        swipe_threshold(touch_space(app.window).scale));
    input.clock_us = static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(now.time_since_epoch()).count());
    Online& online = app.game.session.online;
    app.online.before_frame(online, input.clock_us);
    const FrameOutcome outcome = app.game.update(input, now);
    app.online.after_frame(online, outcome, input.clock_us);
    const Progress& progress = app.game.session.progress;
    send_frame_sound(app.sound, outcome.events, progress.music_off);

    // Every change is written in the frame it happened in; there is no
    // saving at exit.
    ShellNotices& notices = app.game.notices;
    if (outcome.save) notices.save_failed = app.save.save(progress) == SaveOutcome::Failed;
    notices.second_copy = app.save.left_to_other_copy();
    notices.started_over = app.save.started_over();
    notices.save_unlocked = app.save.unlocked();
    keep_replays(app, outcome.replays);
    static const std::optional<std::uint32_t> crash_tick = test_crash_tick();
    if (crash_tick && app.game.session.recorder.recording() &&
        app.game.session.match.ticks >= *crash_tick)
        panic("a crash was asked for at tick " + std::to_string(*crash_tick));
    if (outcome.leave) {
        log_start("leaving by the title");
        app.exit_requested = true;
    }
    app.game.draw();
    present(app);
}

// Redraws come on the pacer's grid; a loop that fell behind starts the grid
// again from now instead of asking for a burst of frames.
void pace_frames(App& app) {
    if (app.pacer.due(Clock::now()) && app.window != nullptr) app.redraw_requested = true;
}

void handle_event(App& app, const SDL_Event& event) {
    switch (event.type) {
        // The sound starts with the window at the latest with the player's
        // first key, click or touch; after its one attempt this does nothing.
        case SDL_KEYDOWN:
        case SDL_KEYUP:
        case SDL_MOUSEBUTTONDOWN:
        case SDL_MOUSEBUTTONUP:
        case SDL_FINGERDOWN:
        case SDL_FINGERUP:
        case SDL_FINGERMOTION:
            start_sound(app.sound, !app.game.session.progress.music_off);
            break;
        case SDL_AUDIODEVICEREMOVED:
            if (event.adevice.iscapture == 0) sound_device_removed(app.sound, event.adevice.which);
            break;
        case SDL_QUIT:
            log_start("the window was closed");
            app.exit_requested = true;
            break;
        case SDL_WINDOWEVENT:
            if (event.window.event == SDL_WINDOWEVENT_CLOSE) {
                log_start("the window was closed");
                app.exit_requested = true;
            }
            window_changed(app, event.window.event);
            break;
        default:
            break;
    }
    // F11 and Alt+Enter belong to the window, not to the game: Enter with Alt
    // held would otherwise start a level or light a charge.
    if (is_fullscreen_key(event)) {
        if (event.type == SDL_KEYDOWN && event.key.repeat == 0) {
            toggle_fullscreen(app.window);
            app.fullscreen_asked = true;
        }
        return;
    }
    feed_event(app.input, event, touch_space(app.window));
    if (app.gamepads) app.gamepads->handle_event(event);
}

// Sleeps until the next frame is due or an event arrives, never busy-waits.
void wait_for_events(App& app) {
    int timeout_ms = 0;
    if (!app.redraw_requested) {
        const auto remaining = app.pacer.next() - Clock::now();
        if (remaining > Clock::duration::zero())
            timeout_ms =
                static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(remaining).count());
    }
    SDL_Event event;
    if (SDL_WaitEventTimeout(&event, timeout_ms) == 0) return;
    handle_event(app, event);
    while (!app.exit_requested && SDL_PollEvent(&event) != 0) handle_event(app, event);
}

void event_loop(App& app) {
    open_window(app);
    while (!app.exit_requested) {
        wait_for_events(app);
        if (app.exit_requested) break;
        // A redraw that fell due while waiting is drawn at once, not after
        // another trip through SDL's event queue: each trip reads the window
        // system and the gamepads again.
        pace_frames(app);
        if (app.redraw_requested) {
            app.redraw_requested = false;
            run_frame(app);
        }
    }
}

// ZOBRA_REPLAY_CHECK: plays the replay headless and prints its end hash;
// 0 when every check agreed, 1 with the first tick that did not, 2 when
// the file is no replay this game can play.
int check_replay_file(const std::filesystem::path& file) {
    std::variant<Replay, std::string> loaded = read_replay_file(file);
    if (const auto* error = std::get_if<std::string>(&loaded)) {
        report_error(*error);
        return 2;
    }
    const Replay& replay = std::get<Replay>(loaded);
    const ReplayCheck check = check_replay(replay);
    std::cout << "end hash " << hash_text(check.end_hash) << "\n";
    if (replay.ending == ReplayEnding::Crashed)
        std::cout << "the game stopped at tick " << replay.inputs.size() << "\n";
    if (!check.matched) std::cout << "differs from tick " << check.first_bad_tick << "\n";
    std::cout.flush();
    return check.matched ? 0 : 1;
}

// The saved choices for showing a replay, read without taking the lock; the
// default ones when there are none.
Progress read_progress_quietly() {
    const std::optional<std::filesystem::path> path = save_path();
    if (!path) return Progress{};
    const os::ReadResult read = os::read_regular_file(*path, save_bytes_max);
    if (!read.text) return Progress{};
    std::variant<Progress, std::string> progress = decode_progress(*read.text);
    if (Progress* p = std::get_if<Progress>(&progress)) return *p;
    return Progress{};
}

}  // namespace

bool show_error_box(const std::string& message) {
    return SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, window_title, message.c_str(), nullptr) ==
           0;
}

void run() {
    // The screenshot mode needs no save, window, sound or pads: it writes its
    // pictures and the game ends normally.
    // Their folders and files are UTF-8 like every name the game handles.
    if (const std::optional<std::string> shots = os::environment("ZOBRA_SHOTS")) {
        if (const auto error = run_shots(os::path_from_utf8(*shots), std::cout))
            panic("the screenshots can be written: " + *error);
        return;
    }

    // A replay checked headless needs nothing else either.
    if (const std::optional<std::string> file = os::environment("ZOBRA_REPLAY_CHECK"))
        std::_Exit(check_replay_file(os::path_from_utf8(*file)));
    std::optional<Replay> shown;
    if (const std::optional<std::string> file = os::environment("ZOBRA_REPLAY")) {
        std::variant<Replay, std::string> loaded = read_replay_file(os::path_from_utf8(*file));
        if (const auto* error = std::get_if<std::string>(&loaded)) {
            report_error(*error);
            std::_Exit(2);  // as the headless check does for a file it cannot play
        }
        shown = std::move(std::get<Replay>(loaded));
    }

    log_start("loading the save and drawing the sprites");
    const Instant start = Clock::now();
    // A replay is shown with the player's choices (the music) but never
    // saves: its save store has no path and takes no lock.
    SaveStore& save = *new SaveStore(shown ? std::nullopt : save_path());
    Progress progress = shown ? read_progress_quietly() : save.load();

    std::string error;
    std::optional<GamepadLibrary> gamepads = GamepadLibrary::start(&log_line, error);
    if (gamepads) {
        gamepads->log_listing();
    } else {
        report_error("no gamepads: " + error);
        log_line("the gamepad library did not start: " + error);
    }

    // Held for the whole run: the process ends without tearing anything down.
    App& app = *new App(save, std::move(progress), start, std::move(gamepads));
    if (shown) app.game.session.start_playback(std::move(*shown));
    // Every room is opened on and joined through this relay, where one is named.
    if (const char* relay = std::getenv("ZOBRA_RELAY")) app.game.session.online.relay = relay;
    session_for_crash.store(&app.game.session);
    set_crash_attachment(&attach_replay);

    log_start("game set up, reaching for the window system");
    reach_window_system();
    log_start("entering the event loop");
    event_loop(app);
    log_start("the event loop has ended");
    if (std::optional<FinishedReplay> left = app.game.session.end_recording())
        keep_replays(app, {*left});
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(0);
}

}  // namespace zobra
