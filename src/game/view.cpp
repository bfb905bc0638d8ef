#include "game/view.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "art/font.h"
#include "core/arena.h"
#include "core/levels.h"
#include "core/numbers.h"
#include "core/panic.h"
#include "core/progress.h"
#include "game/layout.h"

namespace zobra {

namespace {

// The interface palette.
constexpr Rgb text_colour{0xF0, 0xEC, 0xFA};
constexpr Rgb gold{0xFA, 0xCC, 0x30};
constexpr Rgb muted{0x96, 0x8C, 0xB4};
constexpr Rgb teal{0x60, 0xE8, 0xD0};
constexpr Rgb warning{0xFF, 0x60, 0x60};
constexpr Rgb hud_background{0x1A, 0x14, 0x30};
constexpr Rgb hud_line{0x46, 0x3A, 0x6E};
constexpr Rgb black{0x00, 0x00, 0x00};
constexpr std::array<Rgb, 4> player_colours = {Rgb{0xF0, 0x82, 0x3C}, Rgb{0x60, 0xA0, 0xFF},
                                               Rgb{0x60, 0xCE, 0x6E}, Rgb{0xBE, 0x7C, 0xF0}};

constexpr std::string_view build_number = "5";
constexpr std::int32_t right_edge = 316;  // right-aligned text ends 4 pixels from the edge
constexpr std::size_t max_diggers = 4;
constexpr float panel_delay_seconds = 0.7f;
constexpr std::uint32_t clock_warning_seconds = 20;
constexpr std::uint16_t fast_flicker_fuse = 16;  // fewer ticks left than this: flicker faster

// ---------------------------------------------------------------------------
// Small helpers.

// floor(t × rate) as an unsigned count; before the start (or NaN) it is 0.
std::uint32_t frames(float t, float rate) {
    return saturate_cast<std::uint32_t>(std::floor(t * rate));
}

bool even(std::uint32_t n) { return n % 2 == 0; }

std::string number(std::uint64_t value) { return std::to_string(value); }

// At least `digits` digits, with leading zeros.
std::string padded(std::uint64_t value, std::size_t digits) {
    std::string text = std::to_string(value);
    if (text.size() < digits) text.insert(0, digits - text.size(), '0');
    return text;
}

// A screen position far outside the canvas stays outside it.
std::int32_t on_screen(std::int64_t position) {
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(position, INT32_MIN, INT32_MAX));
}

// round half away from zero into a signed pixel count (NaN gives 0).
std::int32_t rounded(float value) { return saturate_cast<std::int32_t>(std::round(value)); }

void draw_right_aligned(Canvas& canvas, std::int32_t y, std::string_view text, Rgb colour) {
    draw_text(canvas, right_edge - text_width(text), y, text, colour, 1);
}

const Level& chosen_level(const Session& session) {
    if (session.level_index >= level_count) panic("the chosen level is one of the forty");
    return level_catalogue()[static_cast<std::size_t>(session.level_index)];
}

const DuelPlace& chosen_place(const Session& session) {
    if (session.duel_arena_index >= duel_place_count)
        panic("the chosen duel arena is one of the five");
    return duel_places[static_cast<std::size_t>(session.duel_arena_index)];
}

std::string_view mode_name(Mode mode) {
    switch (mode) {
        case Mode::Solo:
            return "1 SPIELER";
        case Mode::Pair:
            return "2 SPIELER";
        case Mode::DuelSolo:
            return "DUELL GEGEN COMPUTER";
        case Mode::DuelPair:
            return "DUELL ZU ZWEIT";
    }
    panic("a mode is one of the four");
}

std::string_view difficulty_name(Difficulty difficulty) {
    switch (difficulty) {
        case Difficulty::Easy:
            return "LEICHT";
        case Difficulty::Normal:
            return "NORMAL";
        case Difficulty::Hard:
            return "SCHWER";
    }
    panic("a difficulty is one of the three");
}

// The walking frame of a mover: which half of its step it is in.
std::uint8_t step_frame(std::uint8_t step_timer, std::uint8_t step_len) {
    return static_cast<std::uint8_t>((2u * step_timer / std::max<std::uint32_t>(step_len, 1)) % 2);
}

// ---------------------------------------------------------------------------
// The title screen.

void paint_title_background(Canvas& canvas, const Sprite& brick, const Sprite& steel) {
    for (std::int32_t y = 0; y < screen_height; y += tile_pixels)
        for (std::int32_t x = 0; x < screen_width; x += tile_pixels)
            canvas.draw_sprite(brick, x, y);
    for (std::int32_t x = 0; x < screen_width; x += tile_pixels) {
        canvas.draw_sprite(steel, x, 0);
        canvas.draw_sprite(steel, x, screen_height - tile_pixels / 2);  // its top half shows
    }
    canvas.dim_rows(0, screen_height, 80);
}

// The wall behind the title covers the whole canvas with whole tiles, so it
// depends on nothing but the two sprites: painted once, then copied. (Only
// sprites without holes cover it; any others are painted every time.)
void draw_title_background(Canvas& canvas, const SpriteSet& sprites) {
    const Sprite& brick = lookup_sprite(sprites, SpriteKey::brick());
    const Sprite& steel = lookup_sprite(sprites, SpriteKey::steel());
    const auto solid = [](const Sprite& sprite) {
        return std::all_of(sprite.pixels.begin(), sprite.pixels.end(),
                           [](const std::optional<Rgb>& p) { return p.has_value(); });
    };
    if (canvas.width != canvas_width || canvas.height != canvas_height ||
        canvas.pixels.size() != canvas_width * canvas_height * 4) {
        paint_title_background(canvas, brick, steel);
        return;
    }
    struct Painted {
        Sprite brick, steel;
        bool solid = false;
        Canvas canvas;
    };
    thread_local std::optional<Painted> painted;
    if (!painted || painted->brick != brick || painted->steel != steel) {
        painted.emplace(Painted{brick, steel, solid(brick) && solid(steel), Canvas{}});
        paint_title_background(painted->canvas, brick, steel);
    }
    if (painted->solid)
        canvas.pixels = painted->canvas.pixels;
    else
        paint_title_background(canvas, brick, steel);
}

// A strip of floor with everything the game is about walking along it.
void draw_parade(Canvas& canvas, const SpriteSet& sprites, float t) {
    const Sprite& floor = lookup_sprite(sprites, SpriteKey::floor());
    for (std::int32_t x = 0; x < screen_width; x += tile_pixels) canvas.draw_sprite(floor, x, 66);
    const std::uint8_t f6 = static_cast<std::uint8_t>(frames(t, 6.0f) % 2);
    const std::array<SpriteKey, 7> parade = {
        SpriteKey::digger(Dir::Right, 0, f6),
        SpriteKey::fuse(static_cast<std::uint8_t>(frames(t, 12.0f) % 2)),
        SpriteKey::brick(),
        SpriteKey::mite(f6),
        SpriteKey::wisp(static_cast<std::uint8_t>(frames(t, 8.0f) % 4)),
        SpriteKey::gobbler(f6),
        SpriteKey::hatch_open(static_cast<std::uint8_t>(frames(t, 6.0f) % 4)),
    };
    for (std::size_t j = 0; j < parade.size(); ++j)
        canvas.draw_sprite(lookup_sprite(sprites, parade[j]),
                           68 + 28 * static_cast<std::int32_t>(j), 66);
}

std::string player_line(const Progress& progress) {
    const std::string name =
        progress.name.empty() ? "SPIELER " + number(progress.slot + 1) : progress.name;
    return name + " - " + number(solved_shown(progress)) + " GESCHAFFT - " +
           number(best_total(progress)) + " PUNKTE";
}

void draw_level_choice(Canvas& canvas, const Session& session, float t) {
    const std::size_t i = static_cast<std::size_t>(session.level_index);
    const Level& level = chosen_level(session);
    const Progress& progress = session.progress;
    const bool open = level_open(progress, i);

    draw_text_centred(canvas, 98,
                      std::string(i > 0 ? "<" : " ") + " STOLLEN " + number(i + 1) + " VON " +
                          number(level_count) + " " + (i + 1 < level_count ? ">" : " "),
                      text_colour, 1);
    draw_text_centred(canvas, 109, level.name, open ? teal : muted, 2);
    if (!open) {
        draw_text_centred(canvas, 127, "NOCH VERSCHLOSSEN", warning, 1);
    } else if (i < progress.best.size() && progress.best[i] != 0) {
        draw_text_centred(canvas, 127, "BESTWERT " + number(progress.best[i]), text_colour, 1);
    } else {
        draw_text_centred(canvas, 127,
                          number(creature_total(level.params)) + " VIECHER BIS ZUR LUKE",
                          text_colour, 1);
    }
    if (session.screen == Screen::Naming)
        draw_text_centred(canvas, 139, "TIPPEN, DANN EINGABE. ESC: ABBRUCH", gold, 1);
    else if (open && even(frames(t, 2.5f)))
        draw_text_centred(canvas, 139, "LEERTASTE ODER TIPPEN: LOS!", gold, 1);
}

void draw_duel_choice(Canvas& canvas, const Session& session, float t) {
    const DuelPlace& place = chosen_place(session);
    draw_text_centred(canvas, 98,
                      "< DUELL: PLATZ " + number(session.duel_arena_index + 1) + " VON " +
                          number(duel_place_count) + " >",
                      text_colour, 1);
    draw_text_centred(canvas, 109, place.name, teal, 2);
    draw_text_centred(canvas, 127,
                      "VIER IN DEN ECKEN. " + number(duel_wins_to_end) + " RUNDEN GEWINNEN.",
                      text_colour, 1);
    if (session.screen == Screen::Naming)
        draw_text_centred(canvas, 139, "TIPPEN, DANN EINGABE. ESC: ABBRUCH", gold, 1);
    else if (even(frames(t, 2.5f)))
        draw_text_centred(canvas, 139, "LEERTASTE ODER TIPPEN: LOS!", gold, 1);
}

std::string pad_count_line(std::uint64_t pads, std::uint64_t pro_controllers) {
    if (pro_controllers == pads) return number(pads) + " PRO CONTROLLER";
    if (pads == 1) return "1 GAMEPAD";
    return number(pads) + " GAMEPADS";
}

void draw_title(Canvas& canvas, const Session& session, const SpriteSet& sprites) {
    const float t = session.animation_time;
    const Progress& progress = session.progress;
    const bool duel = is_duel(progress.mode);
    const bool two_humans = mode_humans(progress.mode) == 2;

    draw_title_background(canvas, sprites);
    draw_text_centred(canvas, 20, "ZOBRA", gold, 4);
    draw_text(canvas, 6, 5, "BUILD " + std::string(build_number), muted, 1);
    draw_text_centred(canvas, 52, "ZUENDEN. WEGLAUFEN. NICHT UMDREHEN.", muted, 1);
    draw_parade(canvas, sprites, t);

    if (session.screen == Screen::Naming)
        draw_text_centred(canvas, 86,
                          "NAME: " + session.naming_text + (even(frames(t, 3.0f)) ? "<" : " "),
                          gold, 1);
    else
        draw_text_centred(canvas, 86, player_line(progress), text_colour, 1);

    if (duel)
        draw_duel_choice(canvas, session, t);
    else
        draw_level_choice(canvas, session, t);

    std::string mode_line = "HOCH: " + std::string(mode_name(progress.mode));
    if (!duel) mode_line += "   RUNTER: " + std::string(difficulty_name(progress.difficulty));
    draw_text_centred(canvas, 151, mode_line, text_colour, 1);

    if (session.pads.gamepads != 0) {
        const std::string pads =
            pad_count_line(session.pads.gamepads, session.pads.pro_controllers);
        draw_text(canvas, 314 - text_width(pads), 5, pads, text_colour, 1);
    }

    if (two_humans) {
        // The two players stand either side of the mode line.
        const std::int32_t h = text_width(mode_line) / 2;
        const std::uint8_t f6 = static_cast<std::uint8_t>(frames(t, 6.0f) % 2);
        canvas.draw_sprite(lookup_sprite(sprites, SpriteKey::digger(Dir::Right, 0, f6)), 136 - h,
                           146);
        canvas.draw_sprite(lookup_sprite(sprites, SpriteKey::digger(Dir::Left, 1, f6)), 168 + h,
                           146);
        draw_text_centred(canvas, 162, "1: PFEILE + LEER/STRG R.   2: WASD + Q/STRG L.", muted, 1);
    } else {
        draw_text_centred(canvas, 162, "PFEILE: LAUFEN   LEERTASTE: LADUNG ZUENDEN", muted, 1);
    }
    draw_text_centred(canvas, 172,
                      std::string("R: NEU   P: PAUSE   M: MUSIK ") +
                          (progress.music_off ? "AUS" : "AN") + "   ESC: ZURUECK",
                      muted, 1);
    draw_text_centred(canvas, 182,
                      std::string("TAB: SPIELER   N: NAME   ") +
                          (progress.all_open ? "F9: WIEDER SPERREN" : "F9: ALLE OEFFNEN"),
                      muted, 1);
}

// ---------------------------------------------------------------------------
// The play screen.

// Where the camera puts the arena: cell (x, y) appears at
// (16 x − left, 16 y − top + 24), and only the cells that can show are drawn.
struct View {
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t first_row = 0, end_row = 0;
    std::int32_t first_column = 0, end_column = 0;

    std::int32_t screen_x(std::int32_t x, std::int32_t nudge = 0) const {
        return on_screen(std::int64_t{tile_pixels} * x - left + nudge);
    }
    std::int32_t screen_y(std::int32_t y, std::int32_t nudge = 0) const {
        return on_screen(std::int64_t{tile_pixels} * y - top + hud_rows + nudge);
    }
};

View view_of(const Session& session) {
    View v;
    v.left = rounded(session.camera.x);
    v.top = rounded(session.camera.y);
    const std::int32_t row = floor_div(v.top, tile_pixels);
    const std::int32_t column = floor_div(v.left, tile_pixels);
    v.first_row = std::max(row, 1) - 1;
    // One row and column more on each side than fit, for the movers sliding in.
    v.end_row = std::min(session.match.arena.height, row + play_view_height / tile_pixels + 2);
    v.first_column = std::max(column, 1) - 1;
    v.end_column = std::min(session.match.arena.width, column + play_view_width / tile_pixels + 2);
    return v;
}

template <typename CellAction>
void for_visible_cells(const View& v, CellAction action) {
    for (std::int32_t y = v.first_row; y < v.end_row; ++y)
        for (std::int32_t x = v.first_column; x < v.end_column; ++x) action(x, y);
}

SpriteKey pickup_key(PickupKind kind, float t, std::int32_t x, std::int32_t y) {
    switch (kind) {
        case PickupKind::Charge:
            return SpriteKey::charge();
        case PickupKind::Reach:
            return SpriteKey::reach(static_cast<std::uint8_t>(frames(t, 6.0f) % 2));
        case PickupKind::Boots:
            return SpriteKey::boots();
        case PickupKind::Crystal: {
            // The glint runs across the crystals in a diagonal wave.
            const std::uint64_t phase =
                (std::uint64_t{frames(t, 9.0f)} + 3 * static_cast<std::uint64_t>(x) +
                 5 * static_cast<std::uint64_t>(y)) %
                6;
            return SpriteKey::crystal(static_cast<std::uint8_t>(phase));
        }
    }
    panic("a pickup is one of the four kinds");
}

void draw_tiles(Canvas& canvas, const Session& session, const SpriteSet& sprites, const View& v) {
    const Arena& arena = session.match.arena;
    const float t = session.animation_time;
    const Sprite& floor = lookup_sprite(sprites, SpriteKey::floor());
    const bool hatch_glows = !arena.duel && arena.creatures.empty();
    for_visible_cells(v, [&](std::int32_t x, std::int32_t y) {
        const std::int32_t sx = v.screen_x(x);
        const std::int32_t sy = v.screen_y(y);
        canvas.draw_sprite(floor, sx, sy);
        const Tile tile = arena.tile(x, y);
        switch (tile.kind) {
            case TileKind::Empty:
                return;
            case TileKind::Steel:
                canvas.draw_sprite(lookup_sprite(sprites, SpriteKey::steel()), sx, sy);
                return;
            case TileKind::Brick:
                canvas.draw_sprite(lookup_sprite(sprites, SpriteKey::brick()), sx, sy);
                return;
            case TileKind::Dirt:
                canvas.draw_sprite(lookup_sprite(sprites, SpriteKey::dirt()), sx, sy);
                return;
            case TileKind::Pickup:
                canvas.draw_sprite(lookup_sprite(sprites, pickup_key(tile.item(), t, x, y)), sx,
                                   sy);
                return;
            case TileKind::Hatch:
                canvas.draw_sprite(
                    lookup_sprite(sprites, hatch_glows
                                               ? SpriteKey::hatch_open(
                                                     static_cast<std::uint8_t>(frames(t, 6.0f) % 4))
                                               : SpriteKey::hatch_shut()),
                    sx, sy);
                return;
        }
    });
}

void draw_charges(Canvas& canvas, const Session& session, const SpriteSet& sprites, const View& v) {
    const float t = session.animation_time;
    for (const Charge& charge : session.match.arena.charges) {
        // The spark speeds up in the last moments before the blast.
        const float rate = charge.fuse < fast_flicker_fuse ? 16.0f : 7.0f;
        const auto flicker = static_cast<std::uint8_t>(frames(t, rate) % 2);
        canvas.draw_sprite(lookup_sprite(sprites, SpriteKey::fuse(flicker)), v.screen_x(charge.x),
                           v.screen_y(charge.y));
    }
}

void draw_mover(Canvas& canvas, const Sprite& sprite, const Mover& mover, float q, const View& v) {
    const Offset offset = render_offset(mover, q);
    canvas.draw_sprite(sprite, v.screen_x(mover.x, rounded(16.0f * offset.x)),
                       v.screen_y(mover.y, rounded(16.0f * offset.y)));
}

void draw_movers(Canvas& canvas, const Session& session, const SpriteSet& sprites, const View& v) {
    const Arena& arena = session.match.arena;
    const float q = tick_fraction(session);
    const auto w8 = static_cast<std::uint8_t>(frames(session.animation_time, 8.0f) % 4);
    for (const Creature& creature : arena.creatures) {
        const SpriteKey key =
            creature_sprite(creature.kind, step_frame(creature.step_timer, creature.step_len), w8);
        draw_mover(canvas, lookup_sprite(sprites, key), creature, q, v);
    }
    for (std::size_t i = 0; i < arena.diggers.size(); ++i) {
        const Digger& digger = arena.diggers[i];
        if (digger.state != DiggerState::Alive) continue;
        const std::uint8_t frame =
            digger.step_timer == 0 ? 0 : step_frame(digger.step_timer, digger.step_len);
        draw_mover(canvas,
                   lookup_sprite(sprites, SpriteKey::digger(digger.facing,
                                                            static_cast<std::uint8_t>(i), frame)),
                   digger, q, v);
    }
}

void draw_fire(Canvas& canvas, const Session& session, const SpriteSet& sprites, const View& v) {
    const Arena& arena = session.match.arena;
    for_visible_cells(v, [&](std::int32_t x, std::int32_t y) {
        const std::uint8_t left = arena.fire(x, y);
        if (left == 0) return;
        // Fresh fire is the big white flash; it darkens as it burns out.
        const auto stage = static_cast<std::uint8_t>(left <= 8 ? (8 - left) / 2 : 0);
        canvas.draw_sprite(lookup_sprite(sprites, SpriteKey::blast(stage)), v.screen_x(x),
                           v.screen_y(y));
    });
}

// ---------------------------------------------------------------------------
// The heads-up display.

std::string short_label(const Arena& arena, std::size_t i) {
    return (arena.diggers[i].bot ? "COM " : "SP ") + number(i + 1);
}

std::string long_label(const Arena& arena, std::size_t i) {
    const bool bot = i < arena.diggers.size() && arena.diggers[i].bot;
    return (bot ? "COMPUTER " : "SPIELER ") + number(i + 1);
}

Rgb status_colour(const Digger& digger, std::size_t i) {
    return digger.state == DiggerState::Alive ? player_colours[i] : muted;
}

void draw_hud(Canvas& canvas, const Session& session) {
    const Arena& arena = session.match.arena;
    const float t = session.animation_time;
    canvas.fill_rect(0, 0, screen_width, hud_rows, hud_background);
    canvas.fill_rect(0, hud_rows - 1, screen_width, 1, hud_line);

    const std::uint32_t seconds =
        arena.time_left / ticks_per_second + (arena.time_left % ticks_per_second != 0 ? 1 : 0);
    const bool warn = arena.outcome == Outcome::Running && seconds <= clock_warning_seconds &&
                      even(frames(t, 4.0f));
    const Rgb clock_colour = warn ? warning : text_colour;
    const std::string clock = "ZEIT " + padded(seconds, 3);

    if (arena.duel) {
        draw_text(canvas, 4, 3,
                  "DUELL " + std::string(chosen_place(session).name) + "   RUNDE " +
                      number(std::uint64_t{session.match.duel_round} + 1),
                  text_colour, 1);
        draw_right_aligned(canvas, 3, clock, clock_colour);
        for (std::size_t i = 0; i < arena.diggers.size(); ++i)
            draw_text(canvas, 4 + 78 * static_cast<std::int32_t>(i), 13,
                      short_label(arena, i) + ": " + number(session.match.duel_wins[i]) + "/" +
                          number(duel_wins_to_end),
                      status_colour(arena.diggers[i], i), 1);
        return;
    }

    draw_text(canvas, 4, 3,
              number(session.level_index + 1) + " " + std::string(chosen_level(session).name),
              text_colour, 1);
    draw_right_aligned(canvas, 3, "PUNKTE " + padded(arena.score, 5), text_colour);
    std::int32_t x = 4;
    for (std::size_t i = 0; i < arena.diggers.size(); ++i) {
        const Digger& digger = arena.diggers[i];
        const int charges_left = std::max(0, int{digger.max_charges} - int{digger.charges_out});
        std::string status = "L";
        status += number(static_cast<std::uint64_t>(charges_left));
        status += " W";
        status += number(digger.reach);
        if (digger.boots) status += " S";
        draw_text(canvas, x, 13, status, status_colour(digger, i), 1);
        x += text_width(status) + 10;
    }
    if (!arena.creatures.empty())
        draw_text(canvas, x + 4, 13, "NOCH " + padded(arena.creatures.size(), 2), teal, 1);
    else if (arena.outcome == Outcome::Running && even(frames(t, 3.0f)))
        draw_text(canvas, x + 4, 13, "LUKE OFFEN!", gold, 1);
    draw_right_aligned(canvas, 13, clock, clock_colour);
}

// ---------------------------------------------------------------------------
// The panels over the arena.

void draw_panel(Canvas& canvas, std::string_view title, Rgb title_colour,
                const std::vector<std::string>& lines) {
    const auto n = static_cast<std::int32_t>(lines.size());
    const std::int32_t top = 71 - 6 * n;
    canvas.dim_rows(top + 24, 12 * n + 34, 70);
    draw_text_centred(canvas, top + 32, title, title_colour, 2);
    for (std::int32_t k = 0; k < n; ++k)
        draw_text_centred(canvas, top + 54 + 12 * k, lines[static_cast<std::size_t>(k)],
                          text_colour, 1);
}

std::string tally(const Session& session) {
    std::string text;
    for (std::size_t i = 0; i < session.match.arena.diggers.size(); ++i) {
        if (i > 0) text += " : ";
        text += number(session.match.duel_wins[i]);
    }
    return text;
}

void draw_duel_panel(Canvas& canvas, const Session& session) {
    const Arena& arena = session.match.arena;
    const auto& wins = session.match.duel_wins;
    const auto champion = std::find_if(wins.begin(), wins.end(),
                                       [](std::uint32_t w) { return w >= duel_wins_to_end; });
    if (champion != wins.end()) {
        const auto i = static_cast<std::size_t>(champion - wins.begin());
        draw_panel(canvas, long_label(arena, i) + " GEWINNT!", gold,
                   {"ENDSTAND " + tally(session), "LEERTASTE ODER TIPPEN: ZUM TITEL"});
    } else if (arena.has_winner) {
        if (arena.winner >= arena.diggers.size()) panic("the round's winner is one of the diggers");
        draw_panel(canvas, "RUNDE AN " + long_label(arena, arena.winner),
                   player_colours[arena.winner],
                   {"STAND " + tally(session), "LEERTASTE ODER TIPPEN: WEITER"});
    } else {
        draw_panel(canvas, "UNENTSCHIEDEN", text_colour,
                   {std::string(session.match.time_up ? "ZEIT ABGELAUFEN" : "KEINER STEHT MEHR") +
                        "   STAND " + tally(session),
                    "LEERTASTE ODER TIPPEN: WEITER"});
    }
}

void draw_level_won_panel(Canvas& canvas, const Session& session) {
    const std::size_t i = static_cast<std::size_t>(session.level_index);
    const std::vector<std::uint32_t>& best = session.progress.best;
    const std::uint32_t best_score = i < best.size() ? best[i] : 0;
    draw_panel(
        canvas, "GESCHAFFT!", gold,
        {"PUNKTE " + number(session.match.arena.score) + "   BESTWERT " + number(best_score),
         i + 1 >= level_count ? "ALLE STOLLEN GESCHAFFT!" : "LEERTASTE ODER TIPPEN: WEITER"});
}

// The pause panel comes at once; a result waits a moment so that the end
// of the round can be seen first.
// A replay says so along the bottom, and at its end whether the match came
// out as it was recorded.
void draw_playback_line(Canvas& canvas, const Playback& playback) {
    std::string line = "WIEDERHOLUNG   F: SCHNELL";
    if (!playback.verdict.matched())
        line = "WIEDERHOLUNG WEICHT AB BEI TICK " + number(playback.verdict.first_bad_tick());
    else if (playback.done() && playback.replay.ending == ReplayEnding::Crashed)
        line = "WIEDERHOLUNG BIS ZUM ABSTURZ: TICK " + number(playback.replay.inputs.size());
    else if (playback.done())
        line = "WIEDERHOLUNG ZU ENDE: ALLES STIMMT";
    draw_text_centred(canvas, screen_height - 10, line, playback.verdict.matched() ? gold : warning,
                      1);
}

void draw_panel_of_screen(Canvas& canvas, const Session& session) {
    if (session.screen == Screen::Pause) {
        draw_panel(canvas, "PAUSE", text_colour, {"P: WEITER"});
        return;
    }
    if (session.screen == Screen::Play || session.end_timer < panel_delay_seconds) return;
    switch (session.screen) {
        case Screen::Lost:
            draw_panel(canvas, session.match.time_up ? "ZEIT ABGELAUFEN!" : "DAS WAR NICHTS!",
                       warning, {"LEERTASTE ODER TIPPEN: NOCHMAL"});
            return;
        case Screen::LevelWon:
            draw_level_won_panel(canvas, session);
            return;
        case Screen::DuelRoundOver:
            draw_duel_panel(canvas, session);
            return;
        default:
            return;
    }
}

// ---------------------------------------------------------------------------
// The online screen.

std::string chooser(std::string_view label, std::string_view value) {
    return std::string(label) + ": < " + std::string(value) + " >";
}

void draw_online_menu(Canvas& canvas, const Online& online, float t) {
    const std::array<std::string, online_item_count> rows = {
        "RAUM OEFFNEN",
        "RAUM BETRETEN",
        "SCHNELLES SPIEL",
        "ZUSCHAUEN",
        chooser("SPIELER AN DIESEM GERAET", number(online.players)),
        chooser("PLATZ", duel_places[online.place % duel_place_count].name),
        chooser("STAERKE", difficulty_name(online.difficulty)),
    };
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const bool chosen = static_cast<std::size_t>(online.item) == i;
        draw_text_centred(canvas, 56 + 11 * static_cast<std::int32_t>(i),
                          chosen && even(frames(t, 3.0f)) ? "> " + rows[i] + " <" : rows[i],
                          chosen ? gold : text_colour, 1);
    }
    draw_text_centred(canvas, 140, online.message, warning, 1);
    draw_text_centred(
        canvas, 152,
        online.relay.empty() ? "OEFFNEN: DIESES SPIEL IST DER SERVER" : "SERVER: " + online.relay,
        muted, 1);
    draw_text_centred(canvas, 172, "HOCH/RUNTER: WAEHLEN   LINKS/RECHTS: AENDERN", muted, 1);
    draw_text_centred(canvas, 182, "EINGABE: LOS   ESC: ZURUECK", muted, 1);
}

void draw_online_typing(Canvas& canvas, const Online& online, float t) {
    const std::string cursor = even(frames(t, 3.0f)) ? "<" : " ";
    const bool code = online.field == OnlineField::Code;
    if (online.relay.empty())
        draw_text_centred(canvas, 70, "ADRESSE: " + online.address + (code ? " " : cursor),
                          code ? text_colour : gold, 1);
    if (code || online.action == OnlineItem::Join || online.action == OnlineItem::Watch)
        draw_text_centred(canvas, 90, "RAUMCODE: " + online.code + (code ? cursor : " "),
                          code ? gold : text_colour, 1);
    draw_text_centred(canvas, 172, "TIPPEN ODER PFEILE   EINGABE: WEITER", muted, 1);
    draw_text_centred(canvas, 182, "ESC: ZURUECK", muted, 1);
}

void draw_online_room(Canvas& canvas, const Online& online, float t) {
    const std::optional<net::Lobby>& lobby =
        online.client ? online.client->lobby() : std::optional<net::Lobby>();
    if (online.step == OnlineStep::Connecting || !lobby) {
        draw_text_centred(canvas, 80, "VERBINDE ...", text_colour, 1);
        draw_text_centred(canvas, 182, "ESC: ABBRUCH", muted, 1);
        return;
    }
    draw_text_centred(canvas, 56, "RAUM " + net::room_code_text(lobby->code), gold, 2);
    if (!online.shown_address.empty())
        draw_text_centred(canvas, 76, "ADRESSE: " + online.shown_address, teal, 1);
    draw_text_centred(canvas, 88,
                      std::string(duel_places[lobby->place % duel_place_count].name) + "   " +
                          std::string(difficulty_name(lobby->difficulty)),
                      text_colour, 1);
    for (std::size_t i = 0; i < lobby->seats.size(); ++i) {
        const net::LobbySeat& seat = lobby->seats[i];
        const bool yours = ((lobby->your_seats >> i) & 1u) != 0;
        std::string line =
            number(i + 1) + "  " +
            (seat.person ? (seat.name.empty() ? "SPIELER" : seat.name) : std::string("COMPUTER"));
        if (yours) line += "  < DU";
        draw_text_centred(canvas, 104 + 10 * static_cast<std::int32_t>(i), line,
                          yours ? gold : text_colour, 1);
    }
    if (lobby->watchers > 0)
        draw_text_centred(canvas, 142, "ZUSCHAUER: " + number(lobby->watchers), muted, 1);
    if (lobby->host)
        draw_text_centred(canvas, 154, "EINGABE: SPIEL STARTEN",
                          even(frames(t, 2.5f)) ? gold : text_colour, 1);
    else
        draw_text_centred(canvas, 154,
                          online.client->watching() ? "DU SCHAUST ZU: WARTE AUF DEN START"
                                                    : "WARTE AUF DEN GASTGEBER",
                          text_colour, 1);
    draw_text_centred(canvas, 182, "ESC: RAUM VERLASSEN", muted, 1);
}

void draw_online(Canvas& canvas, const Session& session, const SpriteSet& sprites) {
    const Online& online = session.online;
    const float t = session.animation_time;
    draw_title_background(canvas, sprites);
    draw_text_centred(canvas, 20, "ONLINE-DUELL", gold, 3);
    switch (online.step) {
        case OnlineStep::Menu:
            draw_online_menu(canvas, online, t);
            return;
        case OnlineStep::Typing:
            draw_online_typing(canvas, online, t);
            return;
        case OnlineStep::Connecting:
        case OnlineStep::Room:
            draw_online_room(canvas, online, t);
            return;
        case OnlineStep::Result:
            draw_text_centred(canvas, 80, online.message, gold, 2);
            draw_text_centred(canvas, 182, "EINGABE: WEITER", muted, 1);
            return;
    }
}

// Who a match between machines waits for, along the bottom.
void draw_waiting_line(Canvas& canvas, std::uint8_t seats) {
    std::string line = "WARTE AUF";
    for (std::size_t i = 0; i < max_seats; ++i)
        if (((seats >> i) & 1u) != 0) line += " SP " + number(i + 1);
    draw_text_centred(canvas, screen_height - 10, line, warning, 1);
}

void draw_play(Canvas& canvas, const Session& session, const SpriteSet& sprites) {
    if (session.match.arena.diggers.size() > max_diggers)
        panic("an arena has at most four diggers");
    canvas.fill_rect(0, hud_rows, play_view_width, play_view_height, black);
    const View v = view_of(session);
    draw_tiles(canvas, session, sprites, v);
    draw_charges(canvas, session, sprites, v);
    draw_movers(canvas, session, sprites, v);
    draw_fire(canvas, session, sprites, v);
    draw_hud(canvas, session);
    draw_panel_of_screen(canvas, session);
    if (session.playback) draw_playback_line(canvas, *session.playback);
    // Online: whom the match waits for, a connection being made again, or
    // that this machine only watches.
    const net::OnlineClient* client = session.online.client.get();
    if (client && client->phase() == net::ClientPhase::Reconnecting)
        draw_text_centred(canvas, screen_height - 10, "VERBINDUNG WIRD WIEDERHERGESTELLT", warning,
                          1);
    else if (session.online.waiting_for != 0)
        draw_waiting_line(canvas, session.online.waiting_for);
    else if (client && client->watching())
        draw_text_centred(canvas, screen_height - 10, "ZUSCHAUER", muted, 1);
}

}  // namespace

std::optional<std::string_view> notice_text(const ShellNotices& notices) {
    if (notices.save_failed) return "SPEICHERN GEHT NICHT";
    if (notices.second_copy) return "ZWEITE KOPIE: SPEICHERT NICHT";
    if (notices.started_over) return "SPIELSTAND NEU BEGONNEN";
    if (notices.save_unlocked) return "SPIELSTAND NICHT GESPERRT";
    return std::nullopt;
}

void draw_view(Canvas& canvas, const Session& session, const SpriteSet& sprites,
               const ShellNotices& notices) {
    if (shows_arena(session.screen)) {
        draw_play(canvas, session, sprites);
        return;
    }
    if (session.screen == Screen::Online)
        draw_online(canvas, session, sprites);
    else
        draw_title(canvas, session, sprites);
    // On the steel strip along the bottom, where nothing else is written.
    if (const std::optional<std::string_view> text = notice_text(notices))
        draw_text_centred(canvas, screen_height - tile_pixels / 2, *text, warning, 1);
}

}  // namespace zobra
