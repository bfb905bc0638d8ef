#pragma once
// What the game remembers about its players: how far the current player has
// come through the forty levels, the best score of each won level, up to seven
// other players waiting in their slots, and the choices last made on the title
// screen. The save file stores it; the session changes it through the
// operations below and saves whenever one of them reports a change.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/levels.h"

namespace zobra {

constexpr std::uint64_t player_slots = 8;
constexpr std::size_t name_length_max = 10;

// A stored player other than the current one.
struct Profile {
    std::uint64_t slot = 0;
    std::string name;
    std::uint64_t solved = 0;
    std::vector<std::uint32_t> best;

    bool operator==(const Profile&) const = default;
};

// The whole record. `solved` is one more than the highest level index ever won;
// `best` holds a score per level index and is only as long as the highest
// level won + 1. The current player never appears in `others`.
struct Progress {
    std::uint64_t slot = 0;
    std::string name;
    std::uint64_t solved = 0;
    std::vector<std::uint32_t> best;
    bool music_off = false;
    Mode mode = Mode::Solo;
    Difficulty difficulty = Difficulty::Normal;
    std::vector<Profile> others;
    bool all_open = false;

    bool operator==(const Progress&) const = default;
};

// Records a won level and its score; true when solved or a best score grew.
// A level index outside the catalogue is ignored.
bool record_win(Progress& progress, std::size_t level, std::uint32_t score);

// Whether the level may be started in solo or pair play.
bool level_open(const Progress& progress, std::size_t level);

// Moves on to the next of the eight slots (a ring), forgetting players who
// never won a level nor got a name. Returns the level the title screen should
// now show: the new player's next level to play. Always a change.
std::size_t next_player(Progress& progress);

// Replaces the current player's name by the filtered text. Always a change.
void set_name(Progress& progress, std::string_view text);

// The name a typed text gives: its first ten ASCII letters and digits, the
// letters as capitals; everything else is skipped.
std::string name_from_text(std::string_view text);

// Typing on the naming screen: the Backspaces first (stopping at an empty
// name), then the typed text under the same rules as `name_from_text`.
void type_into_name(std::string& name, std::string_view typed, std::uint64_t backspaces);

// The title screen's figures: the solved count capped at the number of levels,
// and the sum of all best scores (wrapping as 32-bit).
std::uint64_t solved_shown(const Progress& progress);
std::uint32_t best_total(const Progress& progress);

}  // namespace zobra
