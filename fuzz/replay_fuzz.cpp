// The replay reader against any bytes a file or a crash report could hold:
// it gives a replay or the one message that says why not, without a crash,
// a huge allocation or a hang. A replay it accepts is written again by the
// encoder into bytes that read back as the same replay, and encoding that
// gives the same bytes once more. Its first ticks play headless without
// fault, as the game would show them.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "core/replay.h"
#include "fuzz_check.h"

namespace {

using namespace zobra;
using fuzz::require;

// Enough ticks to start every kind of match; a whole replay would take
// too long an input.
constexpr std::size_t ticks_played = 40;

void require_round_trip(const Replay& replay, bool any_rules) {
    const std::vector<std::uint8_t> written = encode_replay(replay);
    const std::variant<Replay, std::string> again = decode_replay(written, any_rules);
    const Replay* back = std::get_if<Replay>(&again);
    require(back != nullptr, "a written replay reads back");
    require(*back == replay, "a written replay reads back as the same replay");
    require(encode_replay(*back) == written, "a replay read back is written the same way");

    // The text form a crash report carries reads back the same too.
    const std::string text = replay_text(written);
    const std::variant<Replay, std::string> from_text = decode_replay(
        std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()), any_rules);
    const Replay* text_back = std::get_if<Replay>(&from_text);
    require(text_back != nullptr && *text_back == replay,
            "a replay's text form reads back as the same replay");
}

void require_plays(const Replay& replay) {
    Replay start = replay;
    if (start.inputs.size() > ticks_played) start.inputs.resize(ticks_played);
    const ReplayCheck check = check_replay(start);
    require(check.match.ticks <= start.inputs.size(), "a replay plays no more ticks than it holds");
}

void check(std::span<const std::uint8_t> bytes, bool any_rules) {
    const std::variant<Replay, std::string> decoded = decode_replay(bytes, any_rules);
    if (const Replay* replay = std::get_if<Replay>(&decoded)) {
        require(replay->inputs.size() <= replay_ticks_max, "a replay holds at most its tick limit");
        require_round_trip(*replay, any_rules);
        if (replay->rules == rules_hash()) require_plays(*replay);
    } else {
        require(!std::get<std::string>(decoded).empty(), "a refused replay names its fault");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    check(bytes, false);
    check(bytes, true);
    return 0;
}
