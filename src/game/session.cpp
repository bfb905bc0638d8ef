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

// The camera offset along one axis: centred on p and kept inside the arena,
// or half the shortfall when the arena is smaller than the view.
float fit(float p, std::int32_t cells, std::int32_t view) {
    const float view_size = static_cast<float>(view);
    const float span = tile_size * static_cast<float>(cells) - view_size;
    if (span <= 0.0f) return span / 2.0f;
    return std::min(std::max(p + 8.0f - view_size / 2.0f, 0.0f), span);
}

bool is_left_or_right(std::optional<Dir> dir) { return dir == Dir::Left || dir == Dir::Right; }

}  // namespace

Session::Session(Progress loaded) : progress(std::move(loaded)) {
    level_index = std::min<std::uint64_t>(level_count - 1, progress.solved);
    // The title screen shows a solo level whatever mode was saved.
    match = Match(
        MatchSetup{Mode::Solo, progress.difficulty, static_cast<std::uint8_t>(level_index), {}});
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
    } else {
        if (input.music) {
            progress.music_off = !progress.music_off;
            out.save = !playback;
        }
        if (online.link && !playback) follow_online_link(out);
        if (screen == Screen::Title)
            update_title(input, dt, out);
        else if (screen == Screen::Online)
            update_online(input, out);
        else if (online.client)
            update_online_play(input, dt, out);
        else
            update_play(input, dt, out);
    }
    for (FinishedReplay& replay : finished_) out.replays.push_back(std::move(replay));
    finished_.clear();
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
// after a pause one more every 0.06 s, at most one a frame.
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
    if (input.online) {
        online.step = OnlineStep::Menu;
        online.message.clear();
        screen = Screen::Online;
        return;
    }
    if (input.confirm && (duel || level_open(progress, static_cast<std::size_t>(level_index))))
        start_level(level_index);
    if (input.back) out.leave = true;
}

void Session::update_play(const FrameInput& input, float dt, FrameOutcome& out) {
    if (input.back) {
        if (playback) out.leave = true;
        leave_play();
        return;
    }
    if (input.restart && !playback) {
        start_level(level_index);
        return;
    }
    if (input.pause && screen == Screen::Play)
        screen = Screen::Pause;
    else if (input.pause && screen == Screen::Pause)
        screen = Screen::Play;
    if (screen == Screen::Pause) return;

    latch_presses(input, dt);

    // Held F runs the ticks of a replay, or of a duel round no human
    // digger is left alive in, eight times as fast.
    const bool fast = fast_forward(input);
    tick_time += fast ? dt * fast_forward_factor : dt;
    std::uint32_t ran = 0;
    while (tick_time >= tick_seconds && screen != Screen::Title) {
        tick_time -= tick_seconds;
        if (playback) {
            if (playback->done()) {
                tick_time = 0.0f;
                break;
            }
            run_tick(playback->replay.inputs[playback->next++], out);
        } else {
            run_tick(tick_input(input), out);
        }
        if (++ran == fast_forward_ticks_max) tick_time = 0.0f;
    }

    follow_camera(dt);
}

// Presses wait here for the next tick, so that one shorter than a frame or
// falling between two ticks still acts. A confirm waits only on an end
// screen.
void Session::latch_presses(const FrameInput& input, float dt) {
    for (std::size_t slot = 0; slot < 2; ++slot) {
        if (input.pressed_dir[slot]) latched_dir[slot] = input.pressed_dir[slot];
        latched_drop[slot] = latched_drop[slot] || input.drop[slot];
    }
    if (screen != Screen::Play) {
        end_timer += dt;
        latched_confirm = latched_confirm || input.confirm;
    }
}

void Session::follow_camera(float dt) {
    const CameraPos target = camera_target(*this);
    const float k = std::min(dt * camera_follow_per_second, 1.0f);
    camera.x += (target.x - camera.x) * k;
    camera.y += (target.y - camera.y) * k;
}

bool Session::fast_forward(const FrameInput& input) const {
    if (!input.fast) return false;
    if (playback) return true;
    if (!match.duel() || match.phase != MatchPhase::Running) return false;
    for (std::uint32_t i = 0; i < match.humans() && i < match.arena.diggers.size(); ++i)
        if (match.arena.diggers[i].state == DiggerState::Alive) return false;
    return true;
}

void Session::start_level(std::uint64_t index) {
    if (!is_duel(progress.mode)) level_index = index;
    start_match(MatchSetup{
        progress.mode,
        progress.difficulty,
        static_cast<std::uint8_t>(is_duel(progress.mode) ? duel_arena_index : level_index),
        {}});
}

void Session::start_match(const MatchSetup& setup) {
    finish_recording(ReplayEnding::Left);
    match = Match(setup);
    recorder.start(match, progress.name);
    show_new_arena();
}

void Session::start_playback(Replay replay) {
    finish_recording(ReplayEnding::Left);
    progress.mode = replay.setup.mode;
    progress.difficulty = replay.setup.difficulty;
    if (is_duel(replay.setup.mode))
        duel_arena_index = replay.setup.place;
    else
        level_index = replay.setup.place;
    match = Match(replay.setup);
    playback = Playback{std::move(replay), 0, {}};
    show_new_arena();
}

void Session::leave_play() {
    finish_recording(ReplayEnding::Left);
    playback.reset();
    screen = Screen::Title;
}

// A fresh arena on screen: nothing pending, the camera jumps to it.
void Session::show_new_arena() {
    screen = Screen::Play;
    tick_time = 0.0f;
    latched_dir = {};
    latched_drop = {};
    latched_confirm = false;
    end_timer = 0.0f;
    camera = camera_target(*this);
}

void Session::finish_recording(ReplayEnding ending) {
    if (!recorder.recording()) return;
    FinishedReplay replay;
    replay.setup = match.setup;
    replay.score = match.arena.score;
    replay.bytes = recorder.finish(ending, match);
    replay.won = match.humans_won();
    finished_.push_back(std::move(replay));
}

std::optional<FinishedReplay> Session::end_recording() {
    finish_recording(ReplayEnding::Left);
    if (finished_.empty()) return std::nullopt;
    FinishedReplay replay = std::move(finished_.back());
    finished_.clear();
    return replay;
}

// ---------------------------------------------------------------------------
// A tick.

// The players' inputs for a tick: with one human both input slots steer
// player 1, with two each slot its own player. A latched press wins over a
// held key; the press is only used up by a digger that can still move.
TickInput Session::tick_input(const FrameInput& input) {
    const std::array<bool, 2> drops = std::exchange(latched_drop, {});
    TickInput tick;
    tick.confirm = std::exchange(latched_confirm, false);
    const std::uint32_t humans = match.humans();
    const Arena& arena = match.arena;
    for (std::size_t j = 0; j < humans; ++j) {
        DiggerInput& player = tick.diggers[j];
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
            player.drop = player.drop || drops[s];
        }
    }
    return tick;
}

void Session::run_tick(const TickInput& input, FrameOutcome& out) {
    const EventList heard = audible_steps();
    const MatchPhase before = match.phase;
    const TickReport report = match.advance(input);
    recorder.record(input, match);
    if (playback && !playback->verdict.after_tick(playback->replay, playback->next, match))
        playback->next = playback->replay.inputs.size();
    for (const Event event : report.events) {
        const bool is_step = event == Event::CreatureStep || event == Event::WispStep;
        if (is_step && !heard.contains(event)) continue;
        out.events.add(event);
    }
    if (report.decided) settle(out);
    if (match.phase == MatchPhase::Over) {
        after_match();
    } else if (before == MatchPhase::RoundOver && match.phase == MatchPhase::Running) {
        show_new_arena();  // the next duel round
    }
}

// Creature steps are only heard from creatures in or next to the view, each
// kind's step sound from its own kind.
EventList Session::audible_steps() const {
    EventList heard;
    for (const Creature& creature : match.arena.creatures) {
        const float sx = tile_size * static_cast<float>(creature.x) - camera.x;
        const float sy = tile_size * static_cast<float>(creature.y) - camera.y;
        if (sx > -tile_size && sx < static_cast<float>(play_view_width) && sy > -tile_size &&
            sy < static_cast<float>(play_view_height))
            heard.add(traits(creature.kind).step_sound);
    }
    return heard;
}

// A decided level or round: the screen that shows it, and a won level kept
// in the progress.
void Session::settle(FrameOutcome& out) {
    end_timer = 0.0f;
    switch (match.phase) {
        case MatchPhase::LevelWon:
            screen = Screen::LevelWon;
            if (!playback && record_win(progress, match.setup.place, match.arena.score))
                out.save = true;
            break;
        case MatchPhase::Lost:
            screen = Screen::Lost;
            break;
        case MatchPhase::RoundOver:
            screen = Screen::DuelRoundOver;
            break;
        default:
            break;
    }
}

// A confirmed end: the same level again, the next level with what the
// diggers carried, or back to the title when the duel or the last level is
// done. A replay stays on its end screen.
void Session::after_match() {
    finish_recording(ReplayEnding::Completed);
    if (playback) return;
    if (match.duel()) {
        screen = Screen::Title;
        return;
    }
    if (screen == Screen::Lost) {
        start_level(level_index);
        return;
    }
    if (level_index + 1 >= level_count) {
        screen = Screen::Title;
        return;
    }
    const Carried carried = match.carry;
    level_index = level_index + 1;
    start_match(MatchSetup{progress.mode, progress.difficulty,
                           static_cast<std::uint8_t>(level_index), carried});
}

// ---------------------------------------------------------------------------
// The camera.

float tick_fraction(const Session& session) {
    if (session.match.arena.outcome == Outcome::Finished) return 1.0f;
    return std::clamp(session.tick_time / tick_seconds, 0.0f, 1.0f);
}

CameraPos camera_target(const Session& session) {
    const Arena& arena = session.match.arena;
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
