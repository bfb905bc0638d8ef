// The tune's note-line parser against any text, line by line (a line feed
// starts the next line). A token that is no rest, hold or note name is an
// internal error by design; the panic handler below turns it into an
// expected outcome, which must happen exactly when such a token is there.
// Otherwise every token gives one step, checked against the grammar worked
// out here independently: rests are silent, holds age the step before, and
// a note is its letter's semitone, one more for a sharp, plus twelve times a
// signed 32-bit octave, the sum in 32 bits.

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/panic.h"
#include "fuzz_check.h"
#include "sound/music.h"

namespace {

using namespace zobra;
using fuzz::require;

struct LeadRefused {};

[[noreturn]] void refuse(const std::string& description) {
    require(description.ends_with("lead notes are note names"), "a refused lead names the reason");
    throw LeadRefused{};
}

std::optional<std::int64_t> octave_of(std::string_view text) {
    bool negative = false;
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) return std::nullopt;
    std::int64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
        if (value > std::int64_t{1} << 32) value = std::int64_t{1} << 32;  // far out of range
    }
    value = negative ? -value : value;
    if (value < std::numeric_limits<std::int32_t>::min() ||
        value > std::numeric_limits<std::int32_t>::max())
        return std::nullopt;
    return value;
}

std::optional<std::int32_t> note_of(std::string_view token) {
    constexpr std::string_view letters = "CDEFGAB";
    constexpr std::int64_t semitones[] = {0, 2, 4, 5, 7, 9, 11};
    if (token.empty() || letters.find(token[0]) == std::string_view::npos) return std::nullopt;
    std::int64_t note = semitones[letters.find(token[0])];
    token.remove_prefix(1);
    if (!token.empty() && token[0] == '#') {
        ++note;
        token.remove_prefix(1);
    }
    const std::optional<std::int64_t> octave = octave_of(token);
    if (!octave) return std::nullopt;
    note += 12 * *octave;
    if (note < std::numeric_limits<std::int32_t>::min() ||
        note > std::numeric_limits<std::int32_t>::max())
        return std::nullopt;
    return static_cast<std::int32_t>(note);
}

std::vector<std::string_view> split(std::string_view text, char at) {
    std::vector<std::string_view> parts;
    while (true) {
        const std::size_t end = text.find(at);
        parts.push_back(text.substr(0, end));
        if (end == std::string_view::npos) return parts;
        text.remove_prefix(end + 1);
    }
}

// The steps the grammar gives, or none when a token is not allowed.
std::optional<std::vector<LeadStep>> expected_steps(const std::vector<std::string_view>& lines) {
    std::vector<LeadStep> steps;
    LeadStep previous;
    for (std::string_view line : lines)
        for (std::string_view token : split(line, ' ')) {
            LeadStep step;
            if (token == ".") {
                step = {false, previous.note, 0};
            } else if (token == "-") {
                step = {previous.sounding, previous.note, previous.age + 1};
            } else if (const std::optional<std::int32_t> note = note_of(token)) {
                step = {true, *note, 0};
            } else {
                return std::nullopt;
            }
            steps.push_back(step);
            previous = step;
        }
    return steps;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    set_panic_handler(&refuse);
    const std::string text(reinterpret_cast<const char*>(bytes), size);
    const std::vector<std::string_view> lines = split(text, '\n');

    std::optional<std::vector<LeadStep>> parsed;
    try {
        parsed = parse_lead(lines);
    } catch (const LeadRefused&) {
    }
    const std::optional<std::vector<LeadStep>> expected = expected_steps(lines);
    require(parsed.has_value() == expected.has_value(),
            "the parser refuses exactly the lines with a token that is no note name");
    if (parsed) require(*parsed == *expected, "every token gives the step the grammar says");
    return 0;
}
