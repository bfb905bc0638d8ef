// The web page's entry point: the game, played as on the desktop
// (web/app.h).
//
// The page's counterpart of the desktop's screenshot mode: with
// ?scene=STEM in its address (a stem such as "05-time-up") the page shows
// that scene of the screenshot script instead, set up exactly as the desktop
// sets it up, so that every scene the browser draws can be held against the
// desktop's picture. The page passes each query parameter to main as one
// "name=value" argument.
//
// With ?replay=URL (a file of the page's own site, such as
// ?replay=replays/duel1.zrp) the page shows that replay, as the desktop
// does with ZOBRA_REPLAY=FILE; index.html has fetched it before the game
// starts. ?crash-tick=N stops a recorded match at tick N on an internal
// error, for the crash panel's tests.
//
// A link is the whole invitation to a match between machines: ?room=CODE
// opens the game straight into that room on the relay that served the page,
// ?watch=CODE watches it.

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

#include "art/canvas.h"
#include "art/sprites.h"
#include "core/progress.h"
#include "files/log.h"
#include "game/session.h"
#include "game/shots.h"
#include "game/view.h"
#include "web/app.h"
#include "web/page.h"
#include "web/replay_web.h"

namespace {

constexpr std::string_view scene_argument = "scene=";
constexpr std::string_view replay_argument = "replay=";
constexpr std::string_view crash_tick_argument = "crash-tick=";
constexpr std::string_view room_argument = "room=";
constexpr std::string_view watch_argument = "watch=";

// The value of the first "name=value" argument starting with `name`.
std::optional<std::string_view> argument_value(int argc, char** argv, std::string_view name) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument.starts_with(name)) return argument.substr(name.size());
    }
    return std::nullopt;
}

std::optional<std::uint32_t> crash_tick(int argc, char** argv) {
    const std::optional<std::string_view> text = argument_value(argc, argv, crash_tick_argument);
    std::uint32_t tick = 0;
    if (!text || std::from_chars(text->data(), text->data() + text->size(), tick).ec != std::errc{})
        return std::nullopt;
    return tick;
}

// The scene the address asks for: none for the title, the script's index
// for a known stem, and for an unknown one the stem asked for.
struct SceneChoice {
    std::optional<std::size_t> index;
    std::optional<std::string> unknown;
};

SceneChoice chosen_scene(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (!argument.starts_with(scene_argument)) continue;
        const std::string_view stem = argument.substr(scene_argument.size());
        for (std::size_t k = 0; k < zobra::shot_scenes.size(); ++k)
            if (zobra::shot_scenes[k].stem == stem) return {k, std::nullopt};
        return {std::nullopt, std::string(stem)};
    }
    return {};
}

// What the page says to an address asking for a scene there is none of:
// which scenes there are, and where the game itself is.
std::string unknown_scene_notice(std::string_view stem) {
    std::string scenes;
    for (const zobra::ShotScene& scene : zobra::shot_scenes) {
        if (!scenes.empty()) scenes += ", ";
        scenes += scene.stem;
    }
    std::string text = "Diese Adresse zeigt nichts: Eine Szene „";
    text += stem;
    text += "“ gibt es nicht.\n\nEs gibt die Szenen " + scenes +
            " (zum Beispiel ?scene=02-blast).\nOhne ?scene= in der Adresse beginnt das "
            "Spiel.\n\nThis address shows nothing: there is no scene \"";
    text += stem;
    text += "\". The scenes are the ones above; without ?scene= the game starts.";
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    const SceneChoice choice = chosen_scene(argc, argv);
    if (choice.unknown) {
        zobra::report_error("there is no screenshot scene named \"" + *choice.unknown + "\"");
        zobra::show_notice_on_page(unknown_scene_notice(*choice.unknown));
        return 1;
    }
    if (!choice.index) {
        zobra::page_log_start("started");
        zobra::PageStart start{std::nullopt, crash_tick(argc, argv), std::nullopt};
        if (const auto room = argument_value(argc, argv, room_argument))
            start.link = zobra::PageStart::RoomLink{true, std::string(*room)};
        else if (const auto watch = argument_value(argc, argv, watch_argument))
            start.link = zobra::PageStart::RoomLink{false, std::string(*watch)};
        if (const auto url = argument_value(argc, argv, replay_argument)) {
            std::variant<zobra::Replay, std::string> replay = zobra::fetched_replay(*url);
            if (const auto* error = std::get_if<std::string>(&replay)) {
                zobra::report_error(*error);
                zobra::show_notice_on_page(zobra::replay_notice(*error, false));
                return 1;
            }
            start.replay = std::move(std::get<zobra::Replay>(replay));
        }
        zobra::run_page(std::move(start));
        return 0;
    }

    // A fresh default player, as in the screenshot mode: no save is read or
    // written, no sound made. The scenes build on each other, so a later one
    // plays all those before it.
    zobra::Session session{zobra::Progress{}};
    const std::size_t last = *choice.index;
    for (std::size_t k = 0; k <= last; ++k) {
        zobra::shot_scenes[k].setup(session);
        zobra::place_camera(session);
    }
    const zobra::SpriteSet sprites = zobra::build_sprite_set();
    zobra::Canvas canvas;
    zobra::draw_view(canvas, session, sprites);
    zobra::show_on_page(canvas);
    return 0;
}
