#include "game/session.h"

#include <algorithm>
#include <utility>

#include "core/bot.h"
#include "core/levels.h"
#include "game/layout.h"

namespace zobra {

namespace {

constexpr float tile_size = static_cast<float>(tile_pixels);

Mode next_mode(Mode mode) { return static_cast<Mode>((static_cast<std::uint8_t>(mode) + 1) % 4); }

Difficulty next_difficulty(Difficulty difficulty) {
    return static_cast<Difficulty>((static_cast<std::uint8_t>(difficulty) + 1) % 3);
}

Arena catalogue_arena(std::uint64_t index, std::uint32_t humans, Difficulty difficulty) {
    return level_arena(level_catalogue()[static_cast<std::size_t>(index)], humans, difficulty);
}

// The camera offset along one axis: centred on p and kept inside the arena,
// or half the shortfall when the arena is smaller than the view.
float fit(float p, std::int32_t cells, std::int32_t view) {
    const float view_size = static_cast<float>(view);
    const float span = tile_size * static_cast<float>(cells) - view_size;
    if (span <= 0.0f) return span / 2.0f;
    return std::min(std::max(p + 8.0f - view_size / 2.0f, 0.0f), span);
}

bool is_left_or_right(std::optional<Dir> dir) { return dir == Dir::Left || dir == Dir::Right; }

bool duel_decided(const std::array<std::uint32_t, 4>& wins) {
    return std::any_of(wins.begin(), wins.end(),
                       [](std::uint32_t w) { return w >= duel_wins_to_end; });
}

}  // namespace

Session::Session(Progress loaded) : progress(std::move(loaded)) {
    level_index = std::min<std::uint64_t>(level_count - 1, progress.solved);
    // The title screen shows a solo level whatever mode was saved.
    arena = catalogue_arena(level_index, 1, progress.difficulty);
    camera = camera_target(*this);
}

// ---------------------------------------------------------------------------
// A frame.

FrameOutcome Session::update(const FrameInput& input, float dt) {
    FrameOutcome out;
    animation_time += dt;
    pads = input.pads;
    if (screen == Screen::Naming) {
        update_naming(input, out);
        return out;
    }
    if (input.music) {
        progress.music_off = !progress.music_off;
        out.save = true;
    }
    if (screen == Screen::Title)
        update_title(input, dt, out);
    else
        update_play(input, dt, out);
    return out;
}

// Typing goes into the name; confirm keeps it (Space types, it does not
// confirm), back drops it. Nothing else happens while a name is typed.
void Session::update_naming(const FrameInput& input, FrameOutcome& out) {
    type_into_name(naming_text, input.typed, input.backspaces);
    if (input.confirm_typing) {
        set_name(progress, naming_text);
        naming_text.clear();
        screen = Screen::Title;
        out.save = true;
    } else if (input.back) {
        naming_text.clear();
        screen = Screen::Title;
    }
}

// Holding left or right walks through the levels: once at the press, then
// after a pause one step every 0.06 s, at most one a frame.
std::optional<Dir> Session::title_repeat(const FrameInput& input, float dt) {
    const std::optional<Dir> held = input.held_dir[0] ? input.held_dir[0] : input.held_dir[1];
    if (is_left_or_right(held))
        repeat_time += dt;
    else
        repeat_time = 0.0f;
    if (repeat_time <= repeat_delay_seconds) return std::nullopt;
    repeat_time -= repeat_interval_seconds;
    return held;
}

void Session::update_title(const FrameInput& input, float dt, FrameOutcome& out) {
    const std::optional<Dir> repeat = title_repeat(input, dt);

    if (input.open_all) {
        progress.all_open = !progress.all_open;
        out.save = true;
    }

    std::optional<Dir> menu = input.pressed_dir[0];
    if (!menu) menu = input.pressed_dir[1];
    if (!menu) menu = repeat;
    const bool duel = is_duel(progress.mode);
    if (menu == Dir::Up) {
        progress.mode = next_mode(progress.mode);
        out.save = true;
    } else if (menu == Dir::Down) {
        progress.difficulty = next_difficulty(progress.difficulty);
        out.save = true;
    } else if (menu == Dir::Right) {
        if (duel)
            duel_arena_index = (duel_arena_index + 1) % duel_place_count;
        else if (level_index + 1 < level_count)
            ++level_index;
    } else if (menu == Dir::Left) {
        if (duel)
            duel_arena_index = (duel_arena_index + duel_place_count - 1) % duel_place_count;
        else if (level_index > 0)
            --level_index;
    }

    if (input.next_player) {
        level_index = next_player(progress);
        out.save = true;
    }

    if (input.rename) {
        naming_text.clear();
        screen = Screen::Naming;
        return;
    }
    if (input.confirm && (duel || level_open(progress, static_cast<std::size_t>(level_index))))
        start_level(level_index);
    if (input.back) out.leave = true;
}

void Session::update_play(const FrameInput& input, float dt, FrameOutcome& out) {
    if (input.back) {
        leave_play();
        return;
    }
    if (input.restart) {
        start_level(level_index);
        return;
    }
    if (input.pause && screen == Screen::Play)
        screen = Screen::Pause;
    else if (input.pause && screen == Screen::Pause)
        screen = Screen::Play;
    if (screen == Screen::Pause) return;

    // Presses wait here for the next step, so that one shorter than a frame
    // or falling between two steps still acts.
    for (std::size_t slot = 0; slot < 2; ++slot) {
        if (input.pressed_dir[slot]) latched_dir[slot] = input.pressed_dir[slot];
        latched_fire[slot] = latched_fire[slot] || input.fire[slot];
    }

    if (screen != Screen::Play) {
        end_timer += dt;
        if (end_timer > end_screen_guard_seconds && input.confirm) {
            continue_after_end();
            return;
        }
    }

    // A lost level burns and crawls on; a finished one stands still.
    if (arena.outcome != Outcome::Finished) {
        tick_time += dt;
        while (tick_time >= step_seconds) {
            tick_time -= step_seconds;
            run_step(input, out);
        }
    }

    const CameraPos target = camera_target(*this);
    const float k = std::min(dt * camera_follow_per_second, 1.0f);
    camera.x += (target.x - camera.x) * k;
    camera.y += (target.y - camera.y) * k;
}

// Confirm on an end screen: the same level again, the next duel round or
// level, or back to the title when the duel or the last level is done.
void Session::continue_after_end() {
    if (screen == Screen::Lost) {
        start_level(level_index);
        return;
    }
    if (screen == Screen::DuelRoundOver) {
        if (duel_decided(duel_wins)) {
            leave_play();
            return;
        }
        ++duel_round;
        arena = duel_arena(duel_arena_index, mode_humans(progress.mode), duel_round);
        reset_arena();
        return;
    }
    if (level_index + 1 >= level_count) {
        leave_play();
        return;
    }
    const std::array<std::optional<Carry>, 2> carried = carry;
    start_level(level_index + 1);
    for (std::size_t i = 0; i < carried.size() && i < arena.diggers.size(); ++i) {
        if (!carried[i]) continue;
        Digger& digger = arena.diggers[i];
        digger.max_charges = std::max(digger.max_charges, carried[i]->max_charges);
        digger.reach = std::max(digger.reach, carried[i]->reach);
        digger.boots = digger.boots || carried[i]->boots;
    }
}

void Session::start_level(std::uint64_t index) {
    carry = {};
    const std::uint32_t humans = mode_humans(progress.mode);
    if (is_duel(progress.mode)) {
        duel_wins = {};
        duel_round = 0;
        arena = duel_arena(duel_arena_index, humans, 0);
    } else {
        level_index = index;
        arena = catalogue_arena(index, humans, progress.difficulty);
    }
    reset_arena();
}

// A fresh arena on screen: nothing pending, the camera jumps to it.
void Session::reset_arena() {
    screen = Screen::Play;
    tick_time = 0.0f;
    latched_dir = {};
    latched_fire = {};
    time_up = false;
    end_timer = 0.0f;
    camera = camera_target(*this);
}

// ---------------------------------------------------------------------------
// A step.

void Session::run_step(const FrameInput& input, FrameOutcome& out) {
    const std::array<DiggerInput, 2> players = player_inputs(input);
    step(players[0], players[1], out);
}

// The players' inputs for a step: with one human both input slots steer
// player 1, with two each slot its own player. A latched press wins over a
// held key; the press is only used up by a digger that can still move.
std::array<DiggerInput, 2> Session::player_inputs(const FrameInput& input) {
    const std::array<bool, 2> fires = std::exchange(latched_fire, {});
    std::array<DiggerInput, 2> players{};
    const std::uint32_t humans = mode_humans(progress.mode);
    for (std::size_t j = 0; j < humans; ++j) {
        DiggerInput& player = players[j];
        const bool can_move =
            j < arena.diggers.size() && arena.diggers[j].state != DiggerState::Escaped;
        const std::size_t first = humans == 2 ? j : 0;
        const std::size_t last = humans == 2 ? j : 1;
        for (std::size_t s = first; s <= last; ++s) {
            if (can_move) {
                const std::optional<Dir> latched = std::exchange(latched_dir[s], std::nullopt);
                if (!player.dir) player.dir = latched;
            }
            if (!player.dir) player.dir = input.held_dir[s];
            player.drop = player.drop || fires[s];
        }
    }
    return players;
}

void Session::step(const DiggerInput& player1, const DiggerInput& player2, FrameOutcome& out) {
    const std::vector<DiggerInput> inputs = digger_inputs(player1, player2);
    const EventList heard = audible_steps();
    for (const Event event : arena.tick(inputs)) {
        const bool is_step = event == Event::CreatureStep || event == Event::WispStep;
        if (is_step && !heard.contains(event)) continue;
        out.events.add(event);
        settle(event, out);
    }
}

// The computer decides for its diggers; digger 0 and 1 follow the players.
std::vector<DiggerInput> Session::digger_inputs(const DiggerInput& player1,
                                                const DiggerInput& player2) const {
    std::vector<DiggerInput> inputs(arena.diggers.size());
    for (std::size_t i = 0; i < arena.diggers.size(); ++i) {
        if (arena.diggers[i].bot)
            inputs[i] = bot_decide(arena, i);
        else if (i == 0)
            inputs[i] = player1;
        else if (i == 1)
            inputs[i] = player2;
    }
    return inputs;
}

// Creature steps are only heard from creatures in or next to the view, each
// kind's step sound from its own kind.
EventList Session::audible_steps() const {
    EventList heard;
    for (const Creature& creature : arena.creatures) {
        const float sx = tile_size * static_cast<float>(creature.x) - camera.x;
        const float sy = tile_size * static_cast<float>(creature.y) - camera.y;
        if (sx > -tile_size && sx < static_cast<float>(play_view_width) && sy > -tile_size &&
            sy < static_cast<float>(play_view_height))
            heard.add(traits(creature.kind).step_sound);
    }
    return heard;
}

// What an event means beyond its sound: the clock's end, a decided round or
// level, and the screen that shows it.
void Session::settle(Event event, FrameOutcome& out) {
    switch (event) {
        case Event::TimeUp:
            time_up = true;
            break;
        case Event::RoundOver:
            end_timer = 0.0f;
            if (arena.duel) {
                score_duel_round();
                screen = Screen::DuelRoundOver;
            } else {
                record_level_win(out);
                screen = Screen::LevelWon;
            }
            break;
        case Event::AllLost:
            end_timer = 0.0f;
            screen = Screen::Lost;
            break;
        default:
            break;
    }
}

// A round with one survivor counts for it; a draw counts for nobody.
void Session::score_duel_round() {
    if (arena.has_winner && arena.winner < duel_wins.size()) ++duel_wins[arena.winner];
}

// The diggers that escaped take their items along, and the progress keeps
// the win.
void Session::record_level_win(FrameOutcome& out) {
    for (std::size_t i = 0; i < carry.size(); ++i) {
        carry[i].reset();
        if (i < arena.diggers.size() && arena.diggers[i].state == DiggerState::Escaped) {
            const Digger& d = arena.diggers[i];
            carry[i] = Carry{d.boots, d.max_charges, d.reach};
        }
    }
    if (record_win(progress, static_cast<std::size_t>(level_index), arena.score)) out.save = true;
}

// ---------------------------------------------------------------------------
// The camera.

float tick_fraction(const Session& session) {
    if (session.arena.outcome == Outcome::Finished) return 1.0f;
    return std::clamp(session.tick_time / step_seconds, 0.0f, 1.0f);
}

CameraPos camera_target(const Session& session) {
    const Arena& arena = session.arena;
    auto followed = [&](const Digger& d, bool alive_only) {
        return !d.bot && (!alive_only || d.state == DiggerState::Alive);
    };
    const bool any_alive = std::any_of(arena.diggers.begin(), arena.diggers.end(),
                                       [&](const Digger& d) { return followed(d, true); });
    const float f = tick_fraction(session);
    float sum_x = 0.0f;
    float sum_y = 0.0f;
    std::uint32_t n = 0;
    for (const Digger& d : arena.diggers) {
        if (!followed(d, any_alive)) continue;
        Offset offset;
        if (d.state == DiggerState::Alive) offset = render_offset(d, f);
        sum_x += tile_size * (static_cast<float>(d.x) + offset.x);
        sum_y += tile_size * (static_cast<float>(d.y) + offset.y);
        ++n;
    }
    const float count = static_cast<float>(std::max<std::uint32_t>(n, 1));
    return CameraPos{fit(sum_x / count, arena.width, play_view_width),
                     fit(sum_y / count, arena.height, play_view_height)};
}

}  // namespace zobra
