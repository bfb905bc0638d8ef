// The Pro Controller's report decoder against any bytes a device could send.
// Report 3F needs 8 bytes and report 30 needs 9; every other report, and
// one too short, gives no state. A state depends on those first bytes only
// (the decoder never looks further), and the diagonals of the simple
// report's hat count as sideways.

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "fuzz_check.h"
#include "procon/procon.h"

using namespace zobra;
using fuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    const std::span<const std::uint8_t> report(bytes, size);
    const std::optional<PadState> state = decode_report(report);

    const std::size_t needed = size == 0 ? 0 : report[0] == 0x3f ? 8 : report[0] == 0x30 ? 9 : 0;
    require(state.has_value() == (needed > 0 && size >= needed),
            "reports 3F and 30 of their full length, and only they, give a state");
    if (!state) return 0;

    // A copy of just the needed bytes, on the heap, so that any read beyond
    // them is caught.
    const std::span<const std::uint8_t> first = report.first(needed);
    const std::vector<std::uint8_t> prefix(first.begin(), first.end());
    require(decode_report(prefix) == state, "only the report's first bytes decide the state");
    require(!to_text(*state).empty(), "every state has a text for the log");

    if (report[0] == 0x3f && report[3] < 8) {
        constexpr Dir hat_dirs[8] = {Dir::Up,   Dir::Right, Dir::Right, Dir::Right,
                                     Dir::Down, Dir::Left,  Dir::Left,  Dir::Left};
        require(state->dir == hat_dirs[report[3]], "the hat's eight positions steer");
    }
    return 0;
}
