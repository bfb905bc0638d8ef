#pragma once
// Replays: a match's setup and every human digger's input per tick, with a
// check of the match's state every second and at the end, in a small
// versioned byte format (docs/replay-format.md describes it byte by byte).
// A recorder keeps the stream encoded as the match goes, so that a crash
// report can write it out without allocating.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "core/match.h"

namespace zobra {

inline constexpr std::string_view game_version = "0.1.0";
// Format 2 adds the seats of a duel between machines; a match on one machine
// is still written in format 1.
inline constexpr std::uint16_t replay_format_first = 1;
inline constexpr std::uint16_t replay_format_version = 2;
inline constexpr std::size_t replay_size_max = 16u << 20;     // bytes of a replay file
inline constexpr std::uint32_t replay_ticks_max = 20u << 20;  // about twelve days
inline constexpr std::string_view replay_text_begin = "-----BEGIN ZOBRA REPLAY-----";
inline constexpr std::string_view replay_text_end = "-----END ZOBRA REPLAY-----";

// How a recorded match ended.
enum class ReplayEnding : std::uint8_t {
    Completed = 0,  // its end was confirmed
    Left = 1,       // the player left or restarted before that
    Crashed = 2,    // the game stopped on an internal error; no end hash
};

struct Replay {
    std::string version{game_version};  // of the game that recorded it
    std::uint64_t rules = 0;            // `rules_hash` of that game
    MatchSetup setup;
    std::uint64_t seed = 0;  // the first arena's generator state, as a check
    std::string player;      // the current player's name, maybe empty
    std::vector<TickInput> inputs;
    std::vector<std::uint32_t> checks;  // low half of the state hash after every 20th tick
    ReplayEnding ending = ReplayEnding::Completed;
    bool won = false;  // a level won, or a duel won by a human digger
    std::uint32_t score = 0;
    std::uint64_t end_hash = 0;  // the state hash after the last tick
    friend bool operator==(const Replay&, const Replay&) = default;
};

// Encodes a whole replay.
std::vector<std::uint8_t> encode_replay(const Replay& replay);

// Decodes a replay file, or its text form inside a crash report; on failure
// the one message that says why. A replay of other rules is refused unless
// `any_rules` (for reading what a folder of replays holds).
std::variant<Replay, std::string> decode_replay(std::span<const std::uint8_t> bytes,
                                                bool any_rules = false);

// The text form: the bytes as base64 between the begin and end lines.
std::string replay_text(std::span<const std::uint8_t> bytes);

// Records a match as it is played. `start` takes the match as it begins;
// `record` each tick's input with the match after that tick; `finish` the
// end. The encoded bytes so far are always at hand.
class ReplayRecorder {
  public:
    void start(const Match& match, std::string_view player);
    void record(const TickInput& input, const Match& after);
    // The whole file.
    std::vector<std::uint8_t> finish(ReplayEnding ending, const Match& match);
    bool recording() const { return recording_; }
    std::uint32_t ticks() const { return ticks_; }

    // The crash report's text form of the replay so far, ending as crashed
    // at the current tick, written in pieces through `sink` without
    // allocating.
    void write_crash_text(void (*sink)(void* context, const char* text, std::size_t size),
                          void* context) const;

  private:
    void flush_run();
    std::vector<std::uint8_t> bytes_;  // header and finished runs and checks
    std::uint32_t run_input_ = 0;
    std::uint32_t run_length_ = 0;
    std::uint32_t ticks_ = 0;
    MatchSetup setup_;  // says whose input a tick holds
    bool recording_ = false;
};

// Holds a match played from a replay against the replay's checks, tick by
// tick: the one judge for the headless check and the window alike.
class ReplayVerdict {
  public:
    // After the replay's input number `played` (counting from 1) left the
    // match so. False once there is nothing more to play: the input has run
    // out, or the match is over with input still to come (which no recorder
    // writes, and so counts as a disagreement).
    bool after_tick(const Replay& replay, std::size_t played, const Match& match);
    bool matched() const { return matched_; }
    std::uint32_t first_bad_tick() const { return first_bad_tick_; }

  private:
    void differs(std::size_t tick);
    std::uint32_t next_check_ = 0;
    bool matched_ = true;
    std::uint32_t first_bad_tick_ = 0;
};

// What playing a replay to its end found.
struct ReplayCheck {
    bool matched = true;               // every check and the end hash agree
    std::uint32_t first_bad_tick = 0;  // the tick of the first disagreement
    std::uint64_t end_hash = 0;        // the state hash after the last tick
    Match match;                       // as the replay left it
};

// Plays the replay headless, as fast as it goes.
ReplayCheck check_replay(const Replay& replay);

// The whole state hash after every 20th tick, and after the last: the
// replay's hash stream, to hold one platform's play against another's.
std::vector<std::uint64_t> hash_stream(const Replay& replay);

// A hash as sixteen lower-case hexadecimal digits.
std::string hash_text(std::uint64_t hash);

}  // namespace zobra
