#pragma once
// The game's state machine: the title and naming screens, play, pause and
// the end screens, the duel matches, and the fixed 0.05 s steps that advance
// the arena. The shell hands it everything a frame brings (the `FrameInput`
// with its typed text and pad counts, and the frame time) and gets back, as
// one value, what it must do: play the frame's sounds, save, or leave. The
// views read the session's fields and draw the screen it is on.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/arena.h"
#include "core/progress.h"
#include "game/input.h"

namespace zobra {

inline constexpr float step_seconds = 0.05f;
inline constexpr float end_screen_guard_seconds = 0.5f;  // before confirm counts
inline constexpr float repeat_delay_seconds = 0.45f;     // title screen left/right
inline constexpr float repeat_interval_seconds = 0.06f;
inline constexpr float camera_follow_per_second = 7.0f;
inline constexpr std::uint32_t duel_wins_to_end = 3;

// The screen that is up. It alone decides what a frame's input does and
// what the views draw.
enum class Screen : std::uint8_t {
    Title,          // the menu
    Naming,         // typing a name over the title
    Play,           // the arena running
    Pause,          // the arena frozen under the pause panel
    LevelWon,       // a solo or pair level finished
    Lost,           // every digger of a level dead; fire and creatures go on
    DuelRoundOver,  // a duel round decided
};

// The screens that show the arena.
constexpr bool shows_arena(Screen screen) {
    return screen != Screen::Title && screen != Screen::Naming;
}

// The arena events of a frame, each kind once, in the order they first came.
class EventList {
  public:
    void add(Event event) {
        for (std::size_t i = 0; i < count_; ++i)
            if (events_[i] == event) return;
        events_[count_++] = event;
    }
    const Event* begin() const { return events_.data(); }
    const Event* end() const { return events_.data() + count_; }
    std::size_t size() const { return count_; }
    bool contains(Event event) const {
        for (Event e : *this)
            if (e == event) return true;
        return false;
    }

  private:
    std::array<Event, 16> events_{};
    std::size_t count_ = 0;
};

// What the shell must do after a frame.
struct FrameOutcome {
    EventList events;    // their sounds go to the audio output
    bool save = false;   // the progress changed: write it now
    bool leave = false;  // the player left by the title: end the program
};

// What a digger takes into the next level after a win.
struct Carry {
    bool boots = false;
    std::uint8_t max_charges = 1;
    std::uint8_t reach = 2;
    friend bool operator==(const Carry&, const Carry&) = default;
};

// A camera position: the arena pixel shown at the play view's top-left.
struct CameraPos {
    float x = 0.0f;
    float y = 0.0f;
    friend bool operator==(const CameraPos&, const CameraPos&) = default;
};

// Everything about the game in progress. Plain data on the game thread: the
// views read any field; only the session's operations (and the screenshot
// script, which stages its scenes) change them.
struct Session {
    Screen screen = Screen::Title;
    Progress progress;
    Arena arena;                         // also held on the title screen
    std::string naming_text;             // the name being typed, on the naming screen
    std::uint64_t level_index = 0;       // 0 … 39
    std::uint64_t duel_arena_index = 0;  // 0 … 4
    CameraPos camera;
    PadCounts pads;  // this frame's pads, for the title
    std::array<std::uint32_t, 4> duel_wins{};
    float tick_time = 0.0f;       // frame time not yet used by steps
    float animation_time = 0.0f;  // all frame times added up
    float end_timer = 0.0f;       // since the outcome was decided
    std::uint32_t duel_round = 0;
    float repeat_time = 0.0f;  // left or right held on the title
    std::array<bool, 2> latched_fire{};
    std::array<std::optional<Carry>, 2> carry{};
    std::array<std::optional<Dir>, 2> latched_dir{};
    bool time_up = false;  // the clock of this arena ran out

    // On the title screen with the saved player's next level.
    explicit Session(Progress loaded);

    // One frame of game logic; dt is at most 0.1 s.
    FrameOutcome update(const FrameInput& input, float dt);
    // Play: the catalogue level in solo and pair, a new duel in the duels.
    void start_level(std::uint64_t index);
    // One 0.05 s step of the arena for players 1 and 2, with its
    // bookkeeping; the heard events and a wanted save go into `out`.
    void step(const DiggerInput& player1, const DiggerInput& player2, FrameOutcome& out);
    // Back to the title screen; the arena stays as it is.
    void leave_play() { screen = Screen::Title; }

  private:
    void update_naming(const FrameInput& input, FrameOutcome& out);
    void update_title(const FrameInput& input, float dt, FrameOutcome& out);
    void update_play(const FrameInput& input, float dt, FrameOutcome& out);
    std::optional<Dir> title_repeat(const FrameInput& input, float dt);
    void continue_after_end();
    void reset_arena();
    void run_step(const FrameInput& input, FrameOutcome& out);

    std::array<DiggerInput, 2> player_inputs(const FrameInput& input);
    std::vector<DiggerInput> digger_inputs(const DiggerInput& player1,
                                           const DiggerInput& player2) const;
    EventList audible_steps() const;
    void settle(Event event, FrameOutcome& out);
    void score_duel_round();
    void record_level_win(FrameOutcome& out);
};

// How far the next step has come (0 … 1), for drawing movers between cells;
// 1 once the arena is finished and no step runs any more.
float tick_fraction(const Session& session);

// Where the camera is heading: the middle of the human diggers, kept inside
// the arena, or a small arena centred.
CameraPos camera_target(const Session& session);

}  // namespace zobra
