#pragma once
// The replays folder beside the save: every level run and duel match played
// is kept there as a file of its own, "YYYYMMDD-HHMMSS-level05-solo.zrp"
// (UTC), and the folder is pruned to the newest 50 and the best won run of
// each level for the current player. Files it cannot read as replays are
// never removed.

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "core/replay.h"

namespace zobra {

inline constexpr std::size_t replays_kept_newest = 50;
inline constexpr std::string_view replay_extension = ".zrp";

// "replays" beside the save file.
std::filesystem::path replay_folder(const std::filesystem::path& save_path);

// The file name for a match of this setup finished at `when`.
std::string replay_file_name(const MatchSetup& setup, std::time_t when);

// Writes the replay into the folder (made if needed) under a name not yet
// taken, then prunes the folder for `player`. On failure the reason, for the
// error stream.
std::optional<std::string> keep_replay(const std::filesystem::path& folder,
                                       std::span<const std::uint8_t> bytes, const MatchSetup& setup,
                                       std::string_view player, std::time_t when);

// The replays to remove from a folder holding these files (name and
// content, newest last by name): all but the newest `replays_kept_newest`
// and, for each level, the best completed won run of `player`.
std::vector<std::string> replays_to_prune(
    const std::vector<std::pair<std::string, Replay>>& replays, std::string_view player);

// Reads a replay file (or a crash report holding one); on failure the one
// message that says why.
std::variant<Replay, std::string> read_replay_file(const std::filesystem::path& path);

}  // namespace zobra
