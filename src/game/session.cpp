#include "game/session.h"

#include <algorithm>
#include <utility>

#include "core/bot.h"
#include "core/levels.h"

namespace zobra {

namespace {

constexpr float tile_pixels = 16.0f;
constexpr float view_width = 320.0f;  // the play view, in canvas pixels
constexpr float view_height = 176.0f;

Mode next_mode(Mode mode) { return static_cast<Mode>((static_cast<std::uint8_t>(mode) + 1) % 4); }

Difficulty next_difficulty(Difficulty difficulty) {
    return static_cast<Difficulty>((static_cast<std::uint8_t>(difficulty) + 1) % 3);
}

Arena catalogue_arena(std::uint64_t index, std::uint32_t humans, Difficulty difficulty) {
    return level_arena(level_catalogue()[static_cast<std::size_t>(index)], humans, difficulty);
}

// The camera offset along one axis: centred on p and kept inside the arena,
// or half the shortfall when the arena is smaller than the view.
float fit(float p, std::int32_t cells, float view) {
    const float span = tile_pixels * static_cast<float>(cells) - view;
    if (span <= 0.0f) return span / 2.0f;
    return std::min(std::max(p + 8.0f - view / 2.0f, 0.0f), span);
}

bool is_left_or_right(std::optional<Dir> dir) { return dir == Dir::Left || dir == Dir::Right; }

}  // namespace

Session::Session(Progress loaded) : progress(std::move(loaded)) {
    level_index = std::min<std::uint64_t>(level_count - 1, progress.solved);
    // The title screen shows a solo level whatever mode was saved.
    arena = catalogue_arena(level_index, 1, progress.difficulty);
    const CameraPos camera = camera_target(*this);
    camera_x = camera.x;
    camera_y = camera.y;
}

void Session::update(const FrameInput& input, float dt) {
    animation_time += dt;
    events.clear();

    if (naming_text) {
        if (input.confirm) {
            set_name(progress, *naming_text);
            naming_text.reset();
            save_wanted = true;
        } else if (input.back) {
            naming_text.reset();
        }
        return;
    }

    if (input.music) {
        progress.music_off = !progress.music_off;
        save_wanted = true;
    }
    if (in_play)
        update_play(input, dt);
    else
        update_title(input, dt);
}

void Session::update_title(const FrameInput& input, float dt) {
    // Holding left or right walks through the levels: once at the press,
    // then after a pause one step every 0.06 s, at most one a frame.
    const std::optional<Dir> held = input.held_dir[0] ? input.held_dir[0] : input.held_dir[1];
    if (is_left_or_right(held))
        repeat_time += dt;
    else
        repeat_time = 0.0f;
    std::optional<Dir> repeat;
    if (repeat_time > repeat_delay_seconds) {
        repeat = held;
        repeat_time -= repeat_interval_seconds;
    }

    if (input.open_all) {
        progress.all_open = !progress.all_open;
        save_wanted = true;
    }

    std::optional<Dir> menu = input.pressed_dir[0];
    if (!menu) menu = input.pressed_dir[1];
    if (!menu) menu = repeat;
    const bool duel = is_duel(progress.mode);
    if (menu == Dir::Up) {
        progress.mode = next_mode(progress.mode);
        save_wanted = true;
    } else if (menu == Dir::Down) {
        progress.difficulty = next_difficulty(progress.difficulty);
        save_wanted = true;
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
        save_wanted = true;
    }

    if (input.rename) {
        naming_text = std::string();
        return;
    }
    if (input.confirm && (duel || level_open(progress, static_cast<std::size_t>(level_index))))
        start_level(level_index);
    if (input.back) leave = true;
}

void Session::update_play(const FrameInput& input, float dt) {
    if (input.back) {
        in_play = false;
        return;
    }
    if (input.restart) {
        start_level(level_index);
        return;
    }
    if (arena.outcome == Outcome::Running && input.pause) paused = !paused;
    if (paused) return;

    // Presses wait here for the next step, so that one shorter than a frame
    // or falling between two steps still acts.
    for (std::size_t slot = 0; slot < 2; ++slot) {
        if (input.pressed_dir[slot]) latched_dir[slot] = input.pressed_dir[slot];
        latched_fire[slot] = latched_fire[slot] || input.fire[slot];
    }

    if (arena.outcome != Outcome::Running) {
        end_timer += dt;
        if (end_timer > end_screen_guard_seconds && input.confirm) {
            continue_after_end();
            return;
        }
    }

    if (arena.outcome != Outcome::Finished) {
        tick_time += dt;
        while (tick_time >= step_seconds) {
            tick_time -= step_seconds;
            run_step(input);
        }
    }

    const CameraPos target = camera_target(*this);
    const float k = std::min(dt * camera_follow_per_second, 1.0f);
    camera_x += (target.x - camera_x) * k;
    camera_y += (target.y - camera_y) * k;
}

// Confirm on an end screen: the same level again, the next duel round or
// level, or back to the title when the duel or the last level is done.
void Session::continue_after_end() {
    if (arena.outcome == Outcome::Lost) {
        start_level(level_index);
        return;
    }
    if (arena.duel) {
        const bool over = std::any_of(duel_wins.begin(), duel_wins.end(),
                                      [](std::uint32_t wins) { return wins >= duel_wins_to_end; });
        if (over) {
            in_play = false;
            return;
        }
        ++duel_round;
        arena = duel_arena(duel_arena_index, mode_humans(progress.mode), duel_round);
        reset_arena();
        return;
    }
    if (level_index + 1 >= level_count) {
        in_play = false;
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
    in_play = true;
    paused = false;
    tick_time = 0.0f;
    latched_dir = {};
    latched_fire = {};
    time_up = false;
    end_timer = 0.0f;
    const CameraPos camera = camera_target(*this);
    camera_x = camera.x;
    camera_y = camera.y;
}

// One step's input for the players: with one human both input slots steer
// player 1, with two each slot its own player. A latched press wins over a
// held key; the press is only used up by a digger that can still move.
void Session::run_step(const FrameInput& input) {
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
    step(players[0], players[1]);
}

void Session::step(const DiggerInput& player1, const DiggerInput& player2) {
    std::vector<DiggerInput> inputs(arena.diggers.size());
    for (std::size_t i = 0; i < arena.diggers.size(); ++i) {
        if (arena.diggers[i].bot)
            inputs[i] = bot_decide(arena, i);
        else if (i == 0)
            inputs[i] = player1;
        else if (i == 1)
            inputs[i] = player2;
    }

    // Creature steps are only heard from creatures in or next to the view.
    bool wisp_seen = false;
    bool other_seen = false;
    for (const Creature& creature : arena.creatures) {
        const float sx = tile_pixels * static_cast<float>(creature.x) - camera_x;
        const float sy = tile_pixels * static_cast<float>(creature.y) - camera_y;
        if (sx > -tile_pixels && sx < view_width && sy > -tile_pixels && sy < view_height) {
            if (creature.kind == CreatureKind::Wisp)
                wisp_seen = true;
            else
                other_seen = true;
        }
    }

    for (const Event event : arena.tick(inputs)) {
        if (event == Event::CreatureStep && !other_seen) continue;
        if (event == Event::WispStep && !wisp_seen) continue;
        if (std::find(events.begin(), events.end(), event) == events.end()) events.push_back(event);
        switch (event) {
            case Event::TimeUp:
                time_up = true;
                break;
            case Event::RoundOver:
                if (arena.duel) {
                    if (arena.has_winner && arena.winner < duel_wins.size())
                        ++duel_wins[arena.winner];
                } else {
                    for (std::size_t i = 0; i < carry.size(); ++i) {
                        carry[i].reset();
                        if (i < arena.diggers.size() &&
                            arena.diggers[i].state == DiggerState::Escaped) {
                            const Digger& d = arena.diggers[i];
                            carry[i] = Carry{d.boots, d.max_charges, d.reach};
                        }
                    }
                    if (record_win(progress, static_cast<std::size_t>(level_index), arena.score))
                        save_wanted = true;
                }
                end_timer = 0.0f;
                break;
            case Event::AllLost:
                end_timer = 0.0f;
                break;
            default:
                break;
        }
    }
}

CameraPos camera_target(const Session& session) {
    const Arena& arena = session.arena;
    auto followed = [&](const Digger& d, bool alive_only) {
        return !d.bot && (!alive_only || d.state == DiggerState::Alive);
    };
    const bool any_alive = std::any_of(arena.diggers.begin(), arena.diggers.end(),
                                       [&](const Digger& d) { return followed(d, true); });
    const float f = arena.outcome == Outcome::Finished
                        ? 1.0f
                        : std::clamp(session.tick_time / step_seconds, 0.0f, 1.0f);
    float sum_x = 0.0f;
    float sum_y = 0.0f;
    std::uint32_t n = 0;
    for (const Digger& d : arena.diggers) {
        if (!followed(d, any_alive)) continue;
        Offset offset;
        if (d.state == DiggerState::Alive) offset = render_offset(d, f);
        sum_x += tile_pixels * (static_cast<float>(d.x) + offset.x);
        sum_y += tile_pixels * (static_cast<float>(d.y) + offset.y);
        ++n;
    }
    const float count = static_cast<float>(std::max<std::uint32_t>(n, 1));
    return CameraPos{fit(sum_x / count, arena.width, view_width),
                     fit(sum_y / count, arena.height, view_height)};
}

Screen current_screen(const Session& session) {
    if (!session.in_play) return session.naming_text ? Screen::Naming : Screen::Title;
    if (session.paused) return Screen::Pause;
    switch (session.arena.outcome) {
        case Outcome::Running:
            return Screen::Play;
        case Outcome::Lost:
            return Screen::Lost;
        case Outcome::Finished:
            return session.arena.duel ? Screen::DuelRoundOver : Screen::LevelWon;
    }
    return Screen::Play;
}

}  // namespace zobra
