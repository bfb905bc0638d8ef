#include "game/shots.h"

#include <algorithm>

#include "core/arena.h"
#include "core/bot.h"
#include "core/levels.h"
#include "core/progress.h"
#include "files/os.h"
#include "files/png.h"
#include "game/scaler.h"
#include "game/view.h"

namespace zobra {

namespace {

constexpr int max_blast_wait_ticks = 400;
constexpr std::uint8_t blast_fire_above = 4;  // fire this fresh means a blast has just gone off
constexpr std::size_t last_level = level_count - 1;

// Ticks of the script --------------------------------------------------------

// The script makes no sound and saves nothing: what a tick asks of the
// shell is dropped.
void tick(Session& session, const DiggerInput& player1) {
    FrameOutcome ignored;
    session.run_tick(TickInput{{player1, DiggerInput{}}}, ignored);
}

void idle_ticks(Session& session, int count) {
    for (int k = 0; k < count; ++k) tick(session, DiggerInput{});
}

// The computer plays the first digger; the second player, if any, stands.
void computer_tick(Session& session) { tick(session, bot_decide(session.match.arena, 0)); }

void computer_ticks(Session& session, int most) {
    for (int k = 0; k < most && session.match.arena.outcome == Outcome::Running; ++k)
        computer_tick(session);
}

bool blast_burning(const Arena& arena) {
    return std::any_of(arena.fire_left.begin(), arena.fire_left.end(),
                       [](std::uint8_t left) { return left > blast_fire_above; });
}

// Plays on until fresh fire is on the grid, so that the picture shows a blast.
void advance_to_blast(Session& session) {
    for (int k = 0; k < max_blast_wait_ticks; ++k) {
        if (blast_burning(session.match.arena) || session.match.arena.outcome != Outcome::Running)
            return;
        computer_tick(session);
    }
}

std::filesystem::path png_path(const std::filesystem::path& folder, std::string_view stem) {
    return folder / (std::string(stem) + ".png");
}

}  // namespace

const std::array<ShotScene, 18> shot_scenes = {{
    {"00-title", [](Session&) {}},
    {"01-start", [](Session& s) { s.start_level(0); }},
    {"02-blast",
     [](Session& s) {
         s.start_level(0);
         computer_ticks(s, 30);
         advance_to_blast(s);
     }},
    {"03-later",
     [](Session& s) {
         s.start_level(0);
         computer_ticks(s, 420);
     }},
    {"04-won",
     [](Session& s) {
         s.start_level(0);
         computer_ticks(s, 4000);
     }},
    {"05-time-up",
     [](Session& s) {
         s.start_level(2);
         s.match.arena.time_left = 1;
         idle_ticks(s, 1);
         s.end_timer = 1.0f;
     }},
    {"06-wisps",
     [](Session& s) {
         s.start_level(3);
         computer_ticks(s, 200);
     }},
    {"07-earth", [](Session& s) { s.start_level(4); }},
    {"08-middle",
     [](Session& s) {
         s.start_level(19);
         computer_ticks(s, 300);
         advance_to_blast(s);
     }},
    {"09-large", [](Session& s) { s.start_level(last_level); }},
    {"10-paused", [](Session& s) { s.screen = Screen::Pause; }},
    {"11-pair-title",
     [](Session& s) {
         s.progress.mode = Mode::Pair;
         s.leave_play();
     }},
    {"12-pair-start", [](Session& s) { s.start_level(7); }},
    {"13-duel-title",
     [](Session& s) {
         s.progress.mode = Mode::DuelSolo;
         s.leave_play();
     }},
    {"14-duel-start", [](Session& s) { s.start_level(0); }},
    {"15-duel-fight",
     [](Session& s) {
         // The computer takes over the player's digger too.
         s.match.arena.diggers.at(0).bot = true;
         idle_ticks(s, 260);
         advance_to_blast(s);
     }},
    {"16-duel-round",
     [](Session& s) {
         idle_ticks(s, 3200);
         s.end_timer = 1.0f;
     }},
    {"17-naming",
     [](Session& s) {
         s.progress.mode = Mode::Solo;
         s.screen = Screen::Naming;
         s.naming_text = "ZUSEL";
     }},
}};

const std::array<SheetEntry, 18>& sprite_sheet() {
    static const std::array<SheetEntry, 18> sheet = {{
        {"digger", SpriteKey::digger(Dir::Down, 0, 0)},
        {"digger2", SpriteKey::digger(Dir::Down, 1, 0)},
        {"digger3", SpriteKey::digger(Dir::Down, 2, 0)},
        {"digger4", SpriteKey::digger(Dir::Down, 3, 0)},
        {"steel", SpriteKey::steel()},
        {"brick", SpriteKey::brick()},
        {"dirt", SpriteKey::dirt()},
        {"fuse", SpriteKey::fuse(0)},
        {"blast", SpriteKey::blast(1)},
        {"charge", SpriteKey::charge()},
        {"reach", SpriteKey::reach(0)},
        {"boots", SpriteKey::boots()},
        {"crystal", SpriteKey::crystal(0)},
        {"hatch-shut", SpriteKey::hatch_shut()},
        {"hatch-open", SpriteKey::hatch_open(2)},
        {"mite", SpriteKey::mite(0)},
        {"wisp", SpriteKey::wisp(2)},
        {"gobbler", SpriteKey::gobbler(0)},
    }};
    return sheet;
}

void place_camera(Session& session) { session.camera = camera_target(session); }

std::vector<std::uint32_t> sheet_picture(const Sprite& sprite, const Sprite& floor) {
    std::vector<std::uint32_t> picture(std::size_t{sheet_side} * sheet_side);
    for (std::uint32_t y = 0; y < sheet_side; ++y)
        for (std::uint32_t x = 0; x < sheet_side; ++x) {
            const std::optional<Rgb>& own = sprite.at(x / sheet_scale, y / sheet_scale);
            const std::optional<Rgb>& below = floor.at(x / sheet_scale, y / sheet_scale);
            const Rgb c = own ? *own : below.value_or(Rgb{});
            picture[std::size_t{y} * sheet_side + x] =
                std::uint32_t{c.r} << 16 | std::uint32_t{c.g} << 8 | c.b;
        }
    return picture;
}

std::optional<std::string> run_shots(const std::filesystem::path& directory, std::ostream& out) {
    if (auto error = make_picture_folder(directory)) return error;

    // A fresh default player: the save file is neither read nor written.
    Session session{Progress{}};
    const SpriteSet sprites = build_sprite_set();
    Canvas canvas;
    std::vector<std::uint32_t> picture(std::size_t{shot_width} * shot_height, 0);

    for (const ShotScene& scene : shot_scenes) {
        scene.setup(session);
        place_camera(session);
        draw_view(canvas, session, sprites);
        present_scaled(canvas.pixels, picture, shot_width, shot_height);
        const std::filesystem::path path = png_path(directory, scene.stem);
        if (auto error = write_png_file(path, shot_width, shot_height, picture)) return error;
        out << os::utf8_of(path) << '\n' << std::flush;
    }

    const std::filesystem::path sheet_dir = directory / sheet_folder;
    if (auto error = make_picture_folder(sheet_dir)) return error;
    const Sprite floor = build_sprite(SpriteKey::floor());
    for (const SheetEntry& entry : sprite_sheet()) {
        const std::vector<std::uint32_t> enlarged = sheet_picture(build_sprite(entry.key), floor);
        if (auto error =
                write_png_file(png_path(sheet_dir, entry.stem), sheet_side, sheet_side, enlarged))
            return error;
    }
    return std::nullopt;
}

}  // namespace zobra
