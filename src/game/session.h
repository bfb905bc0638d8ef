#pragma once
// The game's state machine: the title and naming screens, play, pause and
// the end screens, the duel matches, and the fixed 0.05 s steps that advance
// the arena. The shell hands it one `FrameInput` and the frame time per
// frame and reads back the events, the save request and the leave request.
// No screen variable: the screen follows from a few fields (see
// `current_screen`).

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

// The screens as the views draw them.
enum class Screen : std::uint8_t { Title, Naming, Play, Pause, LevelWon, Lost, DuelRoundOver };

// Everything about the game in progress. Plain data on the game thread.
struct Session {
    Progress progress;
    Arena arena;                             // also held on the title screen
    std::vector<Event> events;               // this frame's, each kind once, in order
    std::optional<std::string> naming_text;  // present while the naming screen is up
    std::uint64_t level_index = 0;           // 0 … 39
    std::uint64_t duel_arena_index = 0;      // 0 … 4
    float camera_x = 0.0f;
    float camera_y = 0.0f;
    std::uint64_t gamepads = 0;         // pads in this frame's list
    std::uint64_t pro_controllers = 0;  // of which Pro Controllers
    std::array<std::uint32_t, 4> duel_wins{};
    float tick_time = 0.0f;       // frame time not yet used by steps
    float animation_time = 0.0f;  // all frame times added up
    float end_timer = 0.0f;       // since the outcome was decided
    std::uint32_t duel_round = 0;
    float repeat_time = 0.0f;  // left or right held on the title
    std::array<bool, 2> latched_fire{};
    std::array<std::optional<Carry>, 2> carry{};
    std::array<std::optional<Dir>, 2> latched_dir{};
    bool save_wanted = false;
    bool in_play = false;
    bool paused = false;
    bool time_up = false;  // the clock of this arena ran out
    bool leave = false;    // Esc on the title screen

    // On the title screen with the saved player's next level.
    explicit Session(Progress loaded);

    // One frame of game logic; dt is at most 0.1 s.
    void update(const FrameInput& input, float dt);
    // Play: the catalogue level in solo and pair, a new duel in the duels.
    void start_level(std::uint64_t index);
    // One 0.05 s step of the arena for players 1 and 2, with its bookkeeping.
    void step(const DiggerInput& player1, const DiggerInput& player2);

  private:
    void update_title(const FrameInput& input, float dt);
    void update_play(const FrameInput& input, float dt);
    void continue_after_end();
    void reset_arena();
    void run_step(const FrameInput& input);
};

// Where the camera is heading: the middle of the human diggers, kept inside
// the arena, or a small arena centred.
CameraPos camera_target(const Session& session);

Screen current_screen(const Session& session);

}  // namespace zobra
