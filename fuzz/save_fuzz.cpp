// The save reader against any bytes a file could hold. Whatever it accepts
// must survive a save and a reload unchanged: the written text reads back as
// the same record and is written again byte for byte the same. The same
// bytes also build a record directly (names of any valid UTF-8), which must
// come back from its own written text.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>
#include <variant>

#include "files/save.h"
#include "fuzz_check.h"

namespace {

using namespace zobra;
using fuzz::require;

void require_round_trip(const Progress& progress) {
    const std::string written = encode_progress(progress);
    const std::variant<Progress, std::string> again = decode_progress(written);
    const Progress* back = std::get_if<Progress>(&again);
    require(back != nullptr, "a written save reads back");
    require(*back == progress, "a written save reads back as the same record");
    require(encode_progress(*back) == written, "a record read back is written the same way");
}

// Whether a record stays within what the reader accepts: at most 40 best
// scores a player and 7 other players (names of the lengths made here always do).
bool within_bounds(const Progress& progress) {
    if (progress.best.size() > save_best_entries_max) return false;
    if (progress.others.size() > save_others_max) return false;
    for (const Profile& other : progress.others)
        if (other.best.size() > save_best_entries_max) return false;
    return true;
}

// A record the game could hold comes back from its own text, its players
// on slots of their own; one beyond the bounds (no play makes one) is
// refused when read, with a fault named.
void require_round_trip_or_refusal(const Progress& progress) {
    if (within_bounds(progress)) {
        const std::variant<Progress, std::string> read = decode_progress(encode_progress(progress));
        const Progress* back = std::get_if<Progress>(&read);
        require(back != nullptr, "a record within the bounds reads back");
        require(*back == with_slots_normalised(progress),
                "a record reads back with its players on slots of their own");
        require_round_trip(*back);
        // Switching players never makes the record unreadable.
        Progress played = *back;
        for (std::uint64_t step = 0; step < player_slots; ++step) {
            next_player(played);
            set_name(played, "P");
            require_round_trip(played);
        }
        return;
    }
    const std::variant<Progress, std::string> read = decode_progress(encode_progress(progress));
    const std::string* fault = std::get_if<std::string>(&read);
    require(fault != nullptr && !fault->empty(), "a record beyond the bounds is refused");
}

void append_utf8(std::string& text, std::uint32_t code) {
    if (code < 0x80) {
        text += static_cast<char>(code);
    } else if (code < 0x800) {
        text += static_cast<char>(0xC0 | code >> 6);
        text += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        text += static_cast<char>(0xE0 | code >> 12);
        text += static_cast<char>(0x80 | (code >> 6 & 0x3F));
        text += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        text += static_cast<char>(0xF0 | code >> 18);
        text += static_cast<char>(0x80 | (code >> 12 & 0x3F));
        text += static_cast<char>(0x80 | (code >> 6 & 0x3F));
        text += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// Any text without surrogates: control characters, quotes and backslashes
// included, so that every escape the writer makes is read back.
std::string any_name(FuzzedDataProvider& data) {
    std::string name;
    const std::size_t length = data.ConsumeIntegralInRange<std::size_t>(0, 12);
    for (std::size_t i = 0; i < length; ++i) {
        std::uint32_t code = data.ConsumeBool()
                                 ? data.ConsumeIntegralInRange<std::uint32_t>(0, 0x7F)
                                 : data.ConsumeIntegralInRange<std::uint32_t>(0, 0x10FFFF);
        if (code >= 0xD800 && code <= 0xDFFF) code -= 0x800;
        append_utf8(name, code);
    }
    return name;
}

std::vector<std::uint32_t> any_scores(FuzzedDataProvider& data) {
    std::vector<std::uint32_t> best(data.ConsumeIntegralInRange<std::size_t>(0, 42));
    for (std::uint32_t& score : best) score = data.ConsumeIntegral<std::uint32_t>();
    return best;
}

Progress any_progress(FuzzedDataProvider& data) {
    Progress progress;
    progress.slot = data.ConsumeIntegral<std::uint64_t>();
    progress.name = any_name(data);
    progress.solved = data.ConsumeIntegral<std::uint64_t>();
    progress.best = any_scores(data);
    progress.music_off = data.ConsumeBool();
    progress.mode = static_cast<Mode>(data.ConsumeIntegralInRange<int>(0, 3));
    progress.difficulty = static_cast<Difficulty>(data.ConsumeIntegralInRange<int>(0, 2));
    progress.others.resize(data.ConsumeIntegralInRange<std::size_t>(0, 8));
    for (Profile& other : progress.others) {
        other.slot = data.ConsumeIntegral<std::uint64_t>();
        other.name = any_name(data);
        other.solved = data.ConsumeIntegral<std::uint64_t>();
        other.best = any_scores(data);
    }
    progress.all_open = data.ConsumeBool();
    return progress;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(bytes), size);
    const std::variant<Progress, std::string> decoded = decode_progress(text);
    if (const Progress* progress = std::get_if<Progress>(&decoded))
        require_round_trip(*progress);
    else
        require(!std::get<std::string>(decoded).empty(), "a rejected save names its fault");

    FuzzedDataProvider data(bytes, size);
    require_round_trip_or_refusal(any_progress(data));
    return 0;
}
