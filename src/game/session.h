#pragma once
// The game's state machine: the title and naming screens, play, pause and
// the end screens, and the fixed 0.05 s ticks that advance the match. The shell hands it everything
// a frame brings (the `FrameInput` with its typed text and pad counts, and the frame time) and gets
// back, as one value, what it must do: play the frame's sounds, save, or leave. The views read the
// session's fields and draw the screen it is on.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/arena.h"
#include "core/match.h"
#include "core/progress.h"
#include "core/replay.h"
#include "game/input.h"
#include "game/online.h"

namespace zobra {

inline constexpr float tick_seconds = 0.05f;
inline constexpr float repeat_delay_seconds = 0.45f;  // title screen left/right
inline constexpr float repeat_interval_seconds = 0.06f;
inline constexpr float camera_follow_per_second = 7.0f;
inline constexpr float fast_forward_factor = 8.0f;           // ticks a tick's time with F held
inline constexpr std::uint32_t fast_forward_ticks_max = 16;  // at most this many a frame

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
    Online,         // the online screen: rooms, before and after a match
};

// The screens that show the arena.
constexpr bool shows_arena(Screen screen) {
    return screen != Screen::Title && screen != Screen::Naming && screen != Screen::Online;
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

// A match that ended, as its replay file, for the shell to keep.
struct FinishedReplay {
    std::vector<std::uint8_t> bytes;
    MatchSetup setup;
    bool won = false;
    std::uint32_t score = 0;
};

// What the shell must do after a frame.
struct FrameOutcome {
    EventList events;    // their sounds go to the audio output
    bool save = false;   // the progress changed: write it now
    bool leave = false;  // the player left by the title (or the replay): end the program
    std::vector<FinishedReplay> replays;  // matches that ended in this frame
    std::optional<RelayWish> relay;       // open this connection to a relay
    bool relay_closed = false;            // close the connection (and the game's own relay)
    std::optional<std::string> log_line;  // an online event for the log
};

// A camera position: the arena pixel shown at the play view's top-left.
struct CameraPos {
    float x = 0.0f;
    float y = 0.0f;
    friend bool operator==(const CameraPos&, const CameraPos&) = default;
};

// A replay being shown: where it has come to and what it found.
struct Playback {
    Replay replay;
    std::size_t next = 0;   // the input of the next tick
    ReplayVerdict verdict;  // whether the match has come out as recorded so far
    bool done() const { return next >= replay.inputs.size(); }
};

// Everything about the game in progress that a frame needs: the screen, the
// title's choices and the typing, the camera and the animation clock, and
// the match, which only ever moves a tick at a time through `run_tick`.
// Plain data on the game thread: the views read any field; only the
// session's operations (and the screenshot script, which stages its scenes)
// change them.
struct Session {
    Screen screen = Screen::Title;
    Progress progress;
    Match match;                         // its arena also shows on the title screen
    std::string naming_text;             // the name being typed, on the naming screen
    std::uint64_t level_index = 0;       // 0 … 39
    std::uint64_t duel_arena_index = 0;  // 0 … 4
    CameraPos camera;
    PadCounts pads;               // this frame's pads, for the title
    float tick_time = 0.0f;       // frame time not yet used by ticks
    float animation_time = 0.0f;  // all frame times added up
    float end_timer = 0.0f;       // since the outcome was decided
    float repeat_time = 0.0f;     // left or right held on the title
    std::array<bool, 2> latched_drop{};
    std::array<std::optional<Dir>, 2> latched_dir{};
    bool latched_confirm = false;
    ReplayRecorder recorder;           // the match being played
    std::optional<Playback> playback;  // the replay being shown instead
    Online online;                     // the online screen and the match between machines

    // On the title screen with the saved player's next level.
    explicit Session(Progress loaded);

    // One frame of game logic; dt is at most 0.1 s.
    FrameOutcome update(const FrameInput& input, float dt);
    // Play: the catalogue level in solo and pair, a new duel in the duels.
    void start_level(std::uint64_t index);
    // Shows a replay instead of play: its match from the start, its input.
    void start_playback(Replay replay);
    // One tick of the match, the only way it moves: the heard events and a
    // wanted save go into `out`.
    void run_tick(const TickInput& input, FrameOutcome& out);
    // Back to the title screen; the arena stays as it is.
    void leave_play();
    // The match being recorded, ended as left (the program is closing).
    std::optional<FinishedReplay> end_recording();

  private:
    void update_naming(const FrameInput& input, FrameOutcome& out);
    void update_title(const FrameInput& input, float dt, FrameOutcome& out);
    void update_play(const FrameInput& input, float dt, FrameOutcome& out);
    void update_online(const FrameInput& input, FrameOutcome& out);
    void update_online_menu(const FrameInput& input, FrameOutcome& out);
    void update_online_typing(const FrameInput& input, FrameOutcome& out);
    void update_online_play(const FrameInput& input, float dt, FrameOutcome& out);
    void connect_online(OnlineItem action, std::string address, FrameOutcome& out);
    void follow_online_link(FrameOutcome& out);
    void end_online(std::string message, FrameOutcome& out);
    std::optional<Dir> title_repeat(const FrameInput& input, float dt);
    void start_match(const MatchSetup& setup);
    void show_new_arena();
    void after_match();
    void finish_recording(ReplayEnding ending);
    bool fast_forward(const FrameInput& input) const;
    void latch_presses(const FrameInput& input, float dt);
    void follow_camera(float dt);

    TickInput tick_input(const FrameInput& input);
    EventList audible_steps() const;
    void settle(FrameOutcome& out);

    std::vector<FinishedReplay> finished_;  // replays ended outside a frame's outcome
};

// How far the next tick has come (0 … 1), for drawing movers between cells;
// 1 once the arena is finished and stands still.
float tick_fraction(const Session& session);

// Where the camera is heading: the middle of the human diggers, kept inside
// the arena, or a small arena centred.
CameraPos camera_target(const Session& session);

}  // namespace zobra
