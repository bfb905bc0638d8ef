// The replay reader against any bytes a file or a crash report could hold:
// it gives a replay or the one message that says why not, without a crash,
// a huge allocation or a hang. A replay it accepts is written again by the
// encoder into bytes that read back as the same replay, and encoding that
// gives the same bytes once more. Its first ticks play headless without
// fault, as the game would show them.
//
// The same bytes also steer a recording: inputs of any kind for any mode,
// recorded tick by tick, must read back from the finished file as exactly
// the human diggers' part of them, the file must be what the encoder
// writes for that replay, and the crash report's text form of the same
// recording must read back as the same inputs and checks, ending crashed.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <optional>
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

// What a recording keeps of an input: the human diggers' directions and
// drops, and the confirm.
TickInput humans_part(const TickInput& input, std::uint32_t humans) {
    TickInput kept;
    for (std::uint32_t i = 0; i < humans; ++i) kept.diggers[i] = input.diggers[i];
    kept.confirm = input.confirm;
    return kept;
}

void append(void* context, const char* text, std::size_t size) {
    static_cast<std::string*>(context)->append(text, size);
}

void check_recording(FuzzedDataProvider& data) {
    const auto mode = static_cast<Mode>(data.ConsumeIntegralInRange<int>(0, 3));
    const std::uint64_t places = is_duel(mode) ? duel_place_count : level_count;
    MatchSetup setup{.mode = mode,
                     .difficulty = static_cast<Difficulty>(data.ConsumeIntegralInRange<int>(0, 2)),
                     .place = static_cast<std::uint8_t>(
                         data.ConsumeIntegralInRange<std::uint64_t>(0, places - 1))};
    if (!is_duel(mode))
        for (std::optional<Carry>& carry : setup.carry)
            if (data.ConsumeBool())
                carry = Carry{data.ConsumeBool(),
                              data.ConsumeIntegralInRange<std::uint8_t>(1, item_cap),
                              data.ConsumeIntegralInRange<std::uint8_t>(1, item_cap)};
    const Match match(setup);
    ReplayRecorder recorder;
    recorder.start(match, data.ConsumeRandomLengthString(80));
    // Runs of one input, as players hold keys; the match after each tick is
    // the one at the start, which only the checks' values depend on.
    std::vector<TickInput> inputs;
    while (data.remaining_bytes() > 0 && inputs.size() < 400) {
        TickInput input;
        for (DiggerInput& digger : input.diggers) {
            const auto dir = data.ConsumeIntegralInRange<int>(0, 4);
            if (dir < 4) digger.dir = static_cast<Dir>(dir);
            digger.drop = data.ConsumeBool();
        }
        input.confirm = data.ConsumeBool();
        for (auto held = data.ConsumeIntegralInRange<int>(1, 45); held > 0; --held) {
            recorder.record(input, match);
            inputs.push_back(humans_part(input, match.humans()));
        }
    }
    std::string text;
    recorder.write_crash_text(&append, &text);
    const auto ending = static_cast<ReplayEnding>(data.ConsumeIntegralInRange<int>(0, 1));
    const std::vector<std::uint8_t> bytes = recorder.finish(ending, match);

    const std::variant<Replay, std::string> read = decode_replay(bytes);
    const Replay* replay = std::get_if<Replay>(&read);
    require(replay != nullptr, "a recording reads back");
    require(replay->setup == setup && replay->ending == ending, "a recording keeps its setup");
    require(replay->inputs == inputs, "a recording keeps the human diggers' inputs");
    require(replay->checks.size() == inputs.size() / ticks_per_second,
            "a recording has a check after every second");
    require(encode_replay(*replay) == bytes, "a recording is what the encoder writes");

    const std::variant<Replay, std::string> crashed =
        decode_replay(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
    const Replay* from_text = std::get_if<Replay>(&crashed);
    require(from_text != nullptr, "a crash report's replay reads back");
    require(from_text->ending == ReplayEnding::Crashed && from_text->inputs == replay->inputs &&
                from_text->checks == replay->checks && from_text->player == replay->player,
            "a crash report's replay is the recording so far");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    check(bytes, false);
    check(bytes, true);
    FuzzedDataProvider provider(data, size);
    check_recording(provider);
    return 0;
}
