#include "files/replay_store.h"

#include <algorithm>
#include <chrono>
#include <map>
#include <set>
#include <system_error>

#include "files/os.h"

namespace zobra {

namespace {

const char* mode_word(Mode mode) {
    switch (mode) {
        case Mode::Solo:
            return "solo";
        case Mode::Pair:
            return "pair";
        case Mode::DuelSolo:
            return "duelsolo";
        case Mode::DuelPair:
            return "duelpair";
    }
    return "solo";
}

std::string two_digits(unsigned value) {
    std::string text = std::to_string(value);
    return text.size() < 2 ? "0" + text : text;
}

// The file's bytes, or nothing and why.
std::optional<std::string> read_bytes(const std::filesystem::path& path, std::string& why) {
    os::ReadResult read = os::read_regular_file(path, replay_size_max);
    if (read.missing)
        why = "does not exist";
    else if (read.too_large)
        why = "is larger than any replay (over 16 MiB)";
    else
        why = "cannot be read: " + read.error;
    return std::move(read.text);
}

std::span<const std::uint8_t> bytes_of(const std::string& text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

}  // namespace

std::filesystem::path replay_folder(const std::filesystem::path& save_path) {
    return save_path.parent_path() / "replays";
}

std::string replay_file_name(const MatchSetup& setup, std::time_t when) {
    using namespace std::chrono;
    const sys_seconds at{seconds{when}};
    const sys_days day = floor<days>(at);
    const year_month_day date{day};
    const hh_mm_ss<seconds> time{at - day};
    const std::string what = is_duel(setup.mode) ? "duel" + std::to_string(setup.place + 1)
                                                 : "level" + two_digits(setup.place + 1u);
    return std::to_string(static_cast<int>(date.year())) +
           two_digits(static_cast<unsigned>(date.month())) +
           two_digits(static_cast<unsigned>(date.day())) + "-" +
           two_digits(static_cast<unsigned>(time.hours().count())) +
           two_digits(static_cast<unsigned>(time.minutes().count())) +
           two_digits(static_cast<unsigned>(time.seconds().count())) + "-" + what + "-" +
           mode_word(setup.mode) + std::string(replay_extension);
}

std::vector<std::string> replays_to_prune(
    const std::vector<std::pair<std::string, Replay>>& replays, std::string_view player) {
    std::set<std::string> kept;
    const std::size_t count = replays.size();
    for (std::size_t i = count > replays_kept_newest ? count - replays_kept_newest : 0; i < count;
         ++i)
        kept.insert(replays[i].first);
    // The best run of each level: the highest score, the earliest of equals.
    std::map<std::uint8_t, std::pair<std::uint32_t, std::string>> best;
    for (const auto& [name, replay] : replays) {
        if (is_duel(replay.setup.mode) || !replay.won || replay.player != player ||
            replay.ending != ReplayEnding::Completed)
            continue;
        auto it = best.find(replay.setup.place);
        if (it == best.end() || replay.score > it->second.first)
            best[replay.setup.place] = {replay.score, name};
    }
    for (const auto& [place, entry] : best) kept.insert(entry.second);
    std::vector<std::string> pruned;
    for (const auto& [name, replay] : replays)
        if (!kept.contains(name)) pruned.push_back(name);
    return pruned;
}

std::optional<std::string> keep_replay(const std::filesystem::path& folder,
                                       std::span<const std::uint8_t> bytes, const MatchSetup& setup,
                                       std::string_view player, std::time_t when) {
    std::error_code code;
    std::filesystem::create_directories(folder, code);
    if (code) return "could not create " + os::utf8_of(folder) + ": " + code.message();

    // A later match ending in the same second gets letters after the time
    // ("191501b-…", … "191501z-…", "191501zb-…"), so that names still sort
    // in the order played.
    const std::string name = replay_file_name(setup, when);
    const std::size_t time_end = name.find('-', 9);
    std::filesystem::path path = folder / name;
    for (std::size_t n = 1; std::filesystem::exists(path, code); ++n) {
        if (n > 1000) return "no free name for " + name + " in " + os::utf8_of(folder);
        const std::string letters =
            std::string((n - 1) / 25, 'z') + static_cast<char>('b' + (n - 1) % 25);
        path = folder / (name.substr(0, time_end) + letters + name.substr(time_end));
    }
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    if (auto error = os::write_synced(path, text, true))
        return "could not write " + os::utf8_of(path) + ": " + *error;

    std::vector<std::pair<std::string, Replay>> replays;
    for (const auto& entry : std::filesystem::directory_iterator(folder, code)) {
        const std::string file = os::utf8_of(entry.path().filename());
        if (entry.path().extension() != replay_extension || !entry.is_regular_file(code)) continue;
        std::string why;
        const std::optional<std::string> text = read_bytes(entry.path(), why);
        if (!text) continue;
        auto replay = decode_replay(bytes_of(*text), true);
        if (auto* r = std::get_if<Replay>(&replay)) replays.emplace_back(file, std::move(*r));
    }
    std::sort(replays.begin(), replays.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const std::string& file : replays_to_prune(replays, player))
        std::filesystem::remove(folder / file, code);
    return std::nullopt;
}

std::variant<Replay, std::string> read_replay_file(const std::filesystem::path& path) {
    std::string why;
    const std::optional<std::string> text = read_bytes(path, why);
    std::variant<Replay, std::string> replay =
        text ? decode_replay(bytes_of(*text)) : std::variant<Replay, std::string>(why);
    if (auto* message = std::get_if<std::string>(&replay))
        *message = "replay " + os::utf8_of(path) + " " + *message;
    return replay;
}

}  // namespace zobra
