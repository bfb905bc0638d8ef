#include "core/progress.h"

#include <algorithm>
#include <utility>

namespace zobra {

bool record_win(Progress& progress, std::size_t level, std::uint32_t score) {
    if (level >= level_count) return false;
    bool changed = false;
    if (level + 1 > progress.solved) {
        progress.solved = level + 1;
        changed = true;
    }
    if (progress.best.size() <= level) progress.best.resize(level + 1, 0);
    if (progress.best[level] < score) {
        progress.best[level] = score;
        changed = true;
    }
    return changed;
}

bool level_open(const Progress& progress, std::size_t level) {
    return progress.all_open || level <= progress.solved;
}

std::size_t next_player(Progress& progress) {
    // The slot arithmetic wraps like the save file's 64-bit numbers, so even a
    // slot number far outside the ring lands back inside it.
    const std::uint64_t target = (progress.slot + 1) % player_slots;

    auto& others = progress.others;
    others.push_back(Profile{progress.slot, std::move(progress.name), progress.solved,
                             std::move(progress.best)});

    const auto found = std::find_if(others.begin(), others.end(),
                                    [&](const Profile& p) { return p.slot == target; });
    Profile next{target, {}, 0, {}};
    if (found != others.end()) {
        next = std::move(*found);
        others.erase(found);
    }
    progress.slot = next.slot;
    progress.name = std::move(next.name);
    progress.solved = next.solved;
    progress.best = std::move(next.best);

    std::erase_if(others, [](const Profile& p) { return p.name.empty() && p.solved == 0; });

    return static_cast<std::size_t>(std::min<std::uint64_t>(progress.solved, level_count - 1));
}

std::string name_from_text(std::string_view text) {
    std::string name;
    for (const char c : text) {
        if (name.size() == name_length_max) break;
        if (c >= 'a' && c <= 'z')
            name.push_back(static_cast<char>(c - 'a' + 'A'));
        else if ((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))
            name.push_back(c);
    }
    return name;
}

void type_into_name(std::string& name, std::string_view typed, std::uint64_t backspaces) {
    name.resize(name.size() -
                static_cast<std::size_t>(std::min<std::uint64_t>(backspaces, name.size())));
    name = name_from_text(name + std::string(typed));
}

void set_name(Progress& progress, std::string_view text) { progress.name = name_from_text(text); }

std::uint64_t solved_shown(const Progress& progress) {
    return std::min<std::uint64_t>(progress.solved, level_count);
}

std::uint32_t best_total(const Progress& progress) {
    std::uint32_t total = 0;
    for (const std::uint32_t score : progress.best) total += score;
    return total;
}

}  // namespace zobra
