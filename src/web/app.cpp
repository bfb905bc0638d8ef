#include "web/app.h"

#include <emscripten/emscripten.h>
#include <emscripten/html5.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "core/panic.h"
#include "files/crash_report.h"
#include "files/log.h"
#include "game/frame_clock.h"
#include "game/game.h"
#include "game/input.h"
#include "web/input_web.h"
#include "web/local_storage.h"
#include "web/online_web.h"
#include "web/page.h"
#include "web/replay_web.h"
#include "web/save_web.h"
#include "web/sound_web.h"

namespace zobra {

namespace {

using Clock = std::chrono::steady_clock;

// The browser calls for a frame at each refresh of the display. A display
// faster than 100 Hz gets a game frame every other refresh or so (a 120 Hz
// one sixty a second); 60 and 90 Hz ones get one at every refresh, even
// when a call comes a little early.
constexpr std::chrono::microseconds min_frame_gap{10'000};

// Frames per reading of the frame time.
constexpr std::size_t timed_frames = 60;

// The mean and the longest busy time of the last `timed_frames` frames.
class FrameTimes {
  public:
    // Adds a frame; true when a new reading is ready.
    bool add(double ms) {
        sum_ += ms;
        longest_now_ = std::max(longest_now_, ms);
        if (++count_ < timed_frames) return false;
        mean_ = sum_ / static_cast<double>(count_);
        longest_ = longest_now_;
        sum_ = 0.0;
        longest_now_ = 0.0;
        count_ = 0;
        return true;
    }
    double mean() const { return mean_; }
    double longest() const { return longest_; }

  private:
    double sum_ = 0.0;
    double longest_now_ = 0.0;
    std::size_t count_ = 0;
    double mean_ = 0.0;
    double longest_ = 0.0;
};

// The long-lived state the page's callbacks share. It lives until the page
// goes away.
struct PageApp {
    PageApp(WebSaveStore& store, Progress loaded, Instant start)
        : save(store),
          game(std::move(loaded), start),
          online(page_origin()),
          last_frame(start - min_frame_gap) {}

    WebSaveStore& save;
    Game game;
    PageInput input;
    WebSound sound;
    PageOnline online;
    FrameTimes times;
    Instant last_frame;
    bool first_frame_shown = false;
    bool told_title_stays = false;
    bool stopped = false;
    bool never_saves = false;  // a replay from the address is shown
    std::optional<std::uint32_t> crash_tick;
    std::optional<ReplayState> replay_shown;  // as the canvas element says it
};

PageApp* running_page = nullptr;

// The sound starts with the player's first key, click or touch.
void wake_sound(PageApp& app) {
    const bool tried = app.sound.tried;
    const bool running = start_web_sound(app.sound, !app.game.session.progress.music_off);
    if (!tried) page_log_start(running ? "sound running" : "no sound");
}

// On the desktop Esc on the title ends the program. A web page cannot close
// itself, and a page that stopped would only have to be loaded again: the
// title stays, and the player leaves by closing the page.
void title_stays(PageApp& app) {
    if (app.told_title_stays) return;
    app.told_title_stays = true;
    page_log_start("Esc on the title: a web page is left by closing it, the title stays");
}

// One frame of the game, as on the desktop: input, rules, sound, save,
// picture.
void run_frame(PageApp& app, Instant now) {
    const double started = emscripten_get_now();
    const std::optional<std::vector<Gamepad>> pads = read_gamepads(app.input);
    FrameInput input =
        build_frame_input(app.input.collector, {},
                          pads ? std::optional<std::span<const Gamepad>>(*pads) : std::nullopt,
                          swipe_threshold(page_pixel_scale()));
    input.clock_us = static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(now.time_since_epoch()).count());
    const bool showing_replay = app.game.session.playback.has_value();
    Online& online = app.game.session.online;
    app.online.before_frame(online, input.clock_us);
    const FrameOutcome outcome = app.game.update(input, now);
    app.online.after_frame(online, outcome, input.clock_us);
    const Progress& progress = app.game.session.progress;
    // libc++ 14 makes no span of a range without data().
    send_frame_sound(app.sound, {outcome.events.begin(), outcome.events.size()},
                     progress.music_off);

    // Every change is written in the frame it happened in; a page may be
    // closed at any moment.
    ShellNotices& notices = app.game.notices;
    if (app.crash_tick && app.game.session.recorder.recording() &&
        app.game.session.match.ticks >= *app.crash_tick)
        panic("a crash was asked for at tick " + std::to_string(*app.crash_tick));
    if (outcome.leave && showing_replay) {
        // Back leaves a replay for the title, on the desktop by ending the
        // program: the page loads again without it, the player's own game.
        app.stopped = true;
        page_log("leaving the replay: the page loads again without it");
        leave_replay_page();
        return;
    }
    if (outcome.save && !app.never_saves)
        notices.save_failed = app.save.save(progress) == SaveOutcome::Failed;
    notices.second_copy = app.save.left_to_other_copy();
    notices.started_over = app.save.started_over();
    if (outcome.leave) title_stays(app);
    app.game.draw();
    show_on_page(app.game.canvas);
    if (const std::optional<Playback>& playback = app.game.session.playback) {
        const ReplayState state = replay_state(*playback);
        if (state != app.replay_shown) {
            app.replay_shown = state;
            show_replay_state(state);
        }
    }
    if (!app.first_frame_shown) {
        app.first_frame_shown = true;
        page_log_start("first frame on its way to the screen");
    }
    if (app.times.add(emscripten_get_now() - started))
        show_frame_time(app.times.mean(), app.times.longest());
}

EM_BOOL on_animation_frame(double, void* data) {
    PageApp& app = *static_cast<PageApp*>(data);
    if (app.stopped) return EM_FALSE;
    const Instant now = Clock::now();
    if (now - app.last_frame >= min_frame_gap) {
        app.last_frame = now;
        run_frame(app, now);
    }
    return EM_TRUE;
}

// An internal error: the report goes on the page and to the console, the
// frames and the sound stop, and the module aborts, which ends whatever
// call into it was running.
[[noreturn]] void stop_on_panic(const std::string& description) {
    static bool handling = false;
    if (!handling) {
        handling = true;
        if (running_page != nullptr) running_page->stopped = true;
        stop_web_sound();
        const std::string report = crash_report_text(description);
        show_crash_on_page(report);
        if (running_page != nullptr)
            offer_crash_replay(report, running_page->game.session.recorder);
    }
    std::abort();
}

}  // namespace

// A replay file dropped on the page (index.html hands over its bytes): shown
// in place of whatever was up, as one from the address is; a file that is
// no replay this game plays leaves the game as it was and says why.
extern "C" EMSCRIPTEN_KEEPALIVE void zobra_show_dropped_replay(const std::uint8_t* bytes, int size,
                                                               const char* name) {
    PageApp* app = running_page;
    if (app == nullptr || app->stopped) return;
    std::variant<Replay, std::string> replay =
        decode_replay({bytes, static_cast<std::size_t>(std::max(size, 0))});
    if (auto* message = std::get_if<std::string>(&replay)) {
        const std::string line = "replay " + std::string(name) + " " + *message;
        report_error(line);
        show_notice_on_page(replay_notice(line, true), true);
        return;
    }
    page_log("showing the dropped replay " + std::string(name));
    app->game.session.start_playback(std::move(std::get<Replay>(replay)));
}

void run_page(PageStart start_as) {
    set_panic_handler(stop_on_panic);
    page_log_start("loading the save and drawing the sprites");
    const Instant start = Clock::now();
    // Held for the page's whole life: the browser ends it, nothing else.
    auto& storage = *new LocalStorage();
    auto& save = *new WebSaveStore(storage);
    Progress progress = save.load();
    // A replay shown from the address leaves the save to the player's pages.
    if (!start_as.replay) claim_save(save);

    PageApp& app = *new PageApp(save, std::move(progress), start);
    running_page = &app;
    app.crash_tick = start_as.crash_tick;
    // Every room the page opens or joins is on the relay that served it.
    app.game.session.online.relay = app.online.own_relay();
    if (start_as.replay) {
        app.never_saves = true;
        page_log_start("showing the replay from the address");
        app.game.session.start_playback(std::move(*start_as.replay));
    } else if (start_as.link) {
        // Codes are capitals; a link typed by hand may not be.
        for (char& c : start_as.link->code)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        const bool join = start_as.link->join;
        page_log((join ? "joining room " : "watching room ") + start_as.link->code +
                 " from the page's address");
        if (!open_online_link(app.game.session.online, join, start_as.link->code))
            page_log("no room has the code \"" + start_as.link->code + "\"");
    }
    app.input.gesture = [&app] { wake_sound(app); };
    if (const std::optional<std::string> error = listen_to_page(app.input))
        panic("the page can be played on: " + *error);

    page_log_start("entering the frame loop");
    // A hidden page gets no animation frames, and so says nothing to a
    // relay: the others' match goes on without it (its digger kept on its
    // way), and after the relay's drop time the computer has it. Back, the
    // page connects again and watches.
    emscripten_request_animation_frame_loop(on_animation_frame, &app);
}

}  // namespace zobra
