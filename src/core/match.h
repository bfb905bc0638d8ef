#pragma once
// The match: everything one level run or one duel match is, as one value.
// It starts from a `MatchSetup`, advances one tick at a time on a
// `TickInput` (what the human diggers do, and whether a player confirmed an
// end screen), and reads nothing else: no clock, no frame time, no screen.
// Two matches that started alike and were given the same inputs are equal,
// on every compiler and machine, and so are their `state_hash`es.
//
// A level run ends when a player confirms its end (won or lost); a duel
// match runs round after round until one digger has won three rounds and
// the last round's end is confirmed.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "core/arena.h"
#include "core/levels.h"

namespace zobra {

inline constexpr std::uint32_t duel_wins_to_end = 3;
// Ticks after a level or round is decided before a confirm counts (half a
// second).
inline constexpr std::uint32_t end_guard_ticks = 10;
// The human diggers a match on one machine may have: digger 0 and 1.
inline constexpr std::size_t max_humans = 2;
// A duel's diggers, each in a seat that a person or the computer takes.
inline constexpr std::size_t max_seats = 4;

// What a digger takes into the next level after a win.
struct Carry {
    bool boots = false;
    std::uint8_t max_charges = 1;
    std::uint8_t reach = 2;
    friend bool operator==(const Carry&, const Carry&) = default;
};

using Carried = std::array<std::optional<Carry>, max_humans>;

// What a match starts from. `place` is the level index (0 … 39) for a level
// run and the duel place (0 … 4) for a duel.
struct MatchSetup {
    Mode mode = Mode::Solo;
    Difficulty difficulty = Difficulty::Normal;
    std::uint8_t place = 0;
    Carried carry{};
    // For a duel between machines, the seats people take (bit i for digger
    // i); 0 for play on one machine, where the mode's first one or two
    // diggers are the people's.
    std::uint8_t seats = 0;
    friend bool operator==(const MatchSetup&, const MatchSetup&) = default;
};

// The seats people take at the start of a match of this setup.
std::uint8_t people_seats(const MatchSetup& setup);

// One seat's input in four bits, as replays and the messages between
// machines hold it: the direction (0 for none, 1 + `Dir`) and the drop flag
// as bit 3; nothing for a nibble that names no direction.
std::uint8_t pack_seat(const DiggerInput& input);
std::optional<DiggerInput> unpack_seat(std::uint8_t nibble);

// One tick's input: digger i's for each human digger i, a confirm that
// goes on from an end screen once the guard has passed, and the seats whose
// people left, which the computer steers from this tick on.
struct TickInput {
    std::array<DiggerInput, max_seats> diggers{};
    bool confirm = false;
    std::uint8_t to_computer = 0;
    friend bool operator==(const TickInput&, const TickInput&) = default;
};

enum class MatchPhase : std::uint8_t {
    Running = 0,    // the arena is being played
    LevelWon = 1,   // the level's diggers escaped; the arena stands still
    Lost = 2,       // every digger of a level dead; fire and creatures go on
    RoundOver = 3,  // a duel round decided; the arena stands still
    Over = 4,       // the end was confirmed: the match is done
};

// What one tick of a match reports.
struct TickReport {
    std::vector<Event> events;  // the arena's events, in order
    bool decided = false;       // the level or round was decided in this tick
};

struct Match {
    MatchSetup setup;
    Arena arena;
    std::array<std::uint32_t, 4> duel_wins{};
    std::uint32_t duel_round = 0;
    Carried carry{};  // what the escaped diggers take along, once the level is won
    MatchPhase phase = MatchPhase::Running;
    std::uint32_t ticks = 0;          // ticks of the match so far
    std::uint32_t end_ticks = 0;      // ticks since the level or round was decided
    bool time_up = false;             // the clock of this arena ran out
    std::uint8_t computer_seats = 0;  // people's seats the computer took over

    // A placeholder without an arena.
    Match() = default;
    // The first arena of the setup, with its carried items.
    explicit Match(const MatchSetup& setup);

    // The people's seats at the start, and how many there are.
    std::uint8_t seats() const { return people_seats(setup); }
    std::uint32_t humans() const;
    bool duel() const { return is_duel(setup.mode); }
    // The duel has a digger with three round wins.
    bool duel_decided() const;
    // The level was won, or the duel by a human digger.
    bool humans_won() const;

    // One tick. Once the match is over nothing changes.
    TickReport advance(const TickInput& input);

    friend bool operator==(const Match&, const Match&) = default;
};

// Every computer digger's decision and the humans' inputs for one arena tick.
std::vector<DiggerInput> digger_inputs(const Arena& arena, const TickInput& input);

// A 64-bit digest of every field the rules read, taken over a fixed-width
// canonical form: the same on every compiler and machine.
std::uint64_t state_hash(const Arena& arena);
std::uint64_t state_hash(const Match& match);

// The match as bytes, for handing it whole to another machine, and back;
// nothing for bytes that are not a whole match with every position on its
// grid and every field in range.
std::vector<std::uint8_t> encode_match(const Match& match);
std::optional<Match> decode_match(std::span<const std::uint8_t> bytes);

// A digest of the rule tables and constants (the catalogue, the duel places,
// the creatures, the timings): a replay recorded under other rules has
// another one.
std::uint64_t rules_hash();

}  // namespace zobra
