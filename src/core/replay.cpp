#include "core/replay.h"

#include <algorithm>
#include <array>
#include <bit>
#include <optional>

namespace zobra {

namespace {

constexpr std::array<std::uint8_t, 8> magic = {'Z', 'O', 'B', 'R', 'A', 'R', 'P', 'L'};
constexpr std::size_t text_field_max = 64;  // bytes of the version or the player's name

// ---------------------------------------------------------------------------
// Ticks as numbers: four bits a person's seat (the direction, 0 for none or
// 1 + `Dir`, and the drop flag above it), then the confirm flag, then, in a
// duel between machines, four bits for the seats the computer takes over.

struct InputLayout {
    std::uint8_t seats = 1;  // the people's seats, each a nibble in seat order
    bool takeovers = false;  // the computer may take seats over

    explicit InputLayout(const MatchSetup& setup)
        : seats(people_seats(setup)), takeovers(setup.seats != 0) {}
    std::uint32_t people() const { return static_cast<std::uint32_t>(std::popcount(seats)); }
    std::uint8_t bits() const {
        return static_cast<std::uint8_t>(4 * people() + 1 + (takeovers ? max_seats : 0));
    }
};

std::uint32_t pack_input(const TickInput& input, InputLayout layout) {
    std::uint32_t packed = 0;
    std::uint32_t at = 0;
    for (std::size_t i = 0; i < max_seats; ++i) {
        if (((layout.seats >> i) & 1u) == 0) continue;
        packed |= std::uint32_t{pack_seat(input.diggers[i])} << at;
        at += 4;
    }
    if (input.confirm) packed |= 1u << at;
    if (layout.takeovers) packed |= (std::uint32_t{input.to_computer} & layout.seats) << (at + 1);
    return packed;
}

std::optional<TickInput> unpack_input(std::uint32_t packed, InputLayout layout) {
    TickInput input;
    std::uint32_t at = 0;
    for (std::size_t i = 0; i < max_seats; ++i) {
        if (((layout.seats >> i) & 1u) == 0) continue;
        const std::optional<DiggerInput> seat =
            unpack_seat(static_cast<std::uint8_t>((packed >> at) & 15u));
        at += 4;
        if (!seat) return std::nullopt;
        input.diggers[i] = *seat;
    }
    input.confirm = ((packed >> at) & 1u) != 0;
    if (layout.takeovers) {
        input.to_computer = static_cast<std::uint8_t>((packed >> (at + 1)) & 15u);
        if ((input.to_computer & ~layout.seats) != 0) return std::nullopt;
    }
    return input;
}

// ---------------------------------------------------------------------------
// Bytes: little-endian fixed-width numbers and LEB128 varints.

class Writer {
  public:
    explicit Writer(std::vector<std::uint8_t>& out) : out_(out) {}
    void byte(std::uint8_t b) { out_.push_back(b); }
    void fixed(std::uint64_t value, int bytes) {
        for (int i = 0; i < bytes; ++i) byte(static_cast<std::uint8_t>(value >> (8 * i)));
    }
    void varint(std::uint64_t value) {
        while (value >= 0x80) {
            byte(static_cast<std::uint8_t>(value | 0x80));
            value >>= 7;
        }
        byte(static_cast<std::uint8_t>(value));
    }
    void text(std::string_view s) {
        const std::size_t n = std::min(s.size(), text_field_max);
        byte(static_cast<std::uint8_t>(n));
        for (std::size_t i = 0; i < n; ++i) byte(static_cast<std::uint8_t>(s[i]));
    }

  private:
    std::vector<std::uint8_t>& out_;
};

class Reader {
  public:
    explicit Reader(std::span<const std::uint8_t> in) : in_(in) {}
    bool failed() const { return failed_; }
    bool at_end() const { return pos_ == in_.size(); }
    std::uint8_t byte() {
        if (pos_ >= in_.size()) {
            failed_ = true;
            return 0;
        }
        return in_[pos_++];
    }
    std::uint64_t fixed(int bytes) {
        std::uint64_t value = 0;
        for (int i = 0; i < bytes; ++i) value |= std::uint64_t{byte()} << (8 * i);
        return value;
    }
    std::uint64_t varint() {
        std::uint64_t value = 0;
        for (int shift = 0; shift < 64; shift += 7) {
            const std::uint8_t b = byte();
            value |= std::uint64_t{b & 0x7Fu} << shift;
            if ((b & 0x80) == 0) return value;
        }
        failed_ = true;
        return 0;
    }
    std::string text() {
        const std::size_t n = byte();
        if (n > text_field_max) failed_ = true;
        std::string s;
        for (std::size_t i = 0; i < n && !failed_; ++i) s.push_back(static_cast<char>(byte()));
        return s;
    }

  private:
    std::span<const std::uint8_t> in_;
    std::size_t pos_ = 0;
    bool failed_ = false;
};

void write_header(Writer& w, const Replay& r) {
    for (const std::uint8_t m : magic) w.byte(m);
    // A match on one machine keeps the first format, which every replay
    // of such a match before duels between machines was written in.
    const bool seated = r.setup.seats != 0;
    w.fixed(seated ? replay_format_version : replay_format_first, 2);
    w.text(r.version);
    w.fixed(r.rules, 8);
    w.byte(static_cast<std::uint8_t>(r.setup.mode));
    w.byte(static_cast<std::uint8_t>(r.setup.difficulty));
    w.byte(r.setup.place);
    w.byte(static_cast<std::uint8_t>(std::popcount(people_seats(r.setup))));
    if (seated) w.byte(r.setup.seats);
    for (const std::optional<Carry>& c : r.setup.carry) {
        w.byte(c ? static_cast<std::uint8_t>(1u | (c->boots ? 2u : 0u)) : std::uint8_t{0});
        w.byte(c ? c->max_charges : std::uint8_t{0});
        w.byte(c ? c->reach : std::uint8_t{0});
    }
    w.fixed(r.seed, 8);
    w.text(r.player);
}

// The end: the end token, how it ended, the won flag, the tick count, the
// score and the end hash.
void write_end(Writer& w, ReplayEnding ending, bool won, std::uint32_t ticks, std::uint32_t score,
               std::uint64_t end_hash) {
    w.varint(0);
    w.byte(static_cast<std::uint8_t>(ending));
    w.byte(won ? 1 : 0);
    w.fixed(ticks, 4);
    w.fixed(score, 4);
    w.fixed(end_hash, 8);
}

std::uint64_t run_token(std::uint32_t input, std::uint32_t length, std::uint8_t bits) {
    return ((std::uint64_t{length - 1} << bits) | input) + 1;
}

// ---------------------------------------------------------------------------
// Base64, with its lines 76 characters long.

constexpr std::string_view base64_digits =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Turns bytes into base64 lines through a sink, holding only a line.
class Base64Lines {
  public:
    using Sink = void (*)(void* context, const char* text, std::size_t size);
    Base64Lines(Sink sink, void* context) : sink_(sink), context_(context) {}
    void add(std::uint8_t b) {
        group_[held_++] = b;
        if (held_ == 3) emit_group(3);
    }
    void finish() {
        if (held_ > 0) emit_group(held_);
        if (used_ > 0) flush_line();
    }

  private:
    void emit_group(std::size_t n) {
        for (std::size_t i = n; i < 3; ++i) group_[i] = 0;
        const std::uint32_t v =
            std::uint32_t{group_[0]} << 16 | std::uint32_t{group_[1]} << 8 | group_[2];
        for (std::size_t i = 0; i < 4; ++i) {
            const char c = i <= n ? base64_digits[(v >> (18 - 6 * i)) & 63u] : '=';
            line_[used_++] = c;
        }
        held_ = 0;
        if (used_ == 76) flush_line();
    }
    void flush_line() {
        line_[used_++] = '\n';
        sink_(context_, line_.data(), used_);
        used_ = 0;
    }
    Sink sink_;
    void* context_;
    std::array<std::uint8_t, 3> group_{};
    std::size_t held_ = 0;
    std::array<char, 80> line_{};
    std::size_t used_ = 0;
};

void append_text(void* context, const char* text, std::size_t size) {
    static_cast<std::string*>(context)->append(text, size);
}

int base64_value(char c) {
    const std::size_t at = base64_digits.find(c);
    return at == std::string_view::npos ? -1 : static_cast<int>(at);
}

// The bytes of the text form found anywhere in `text`, or nothing.
std::optional<std::vector<std::uint8_t>> from_text(std::string_view text) {
    const std::size_t begin = text.find(replay_text_begin);
    if (begin == std::string_view::npos) return std::nullopt;
    const std::size_t from = begin + replay_text_begin.size();
    const std::size_t end = text.find(replay_text_end, from);
    if (end == std::string_view::npos) return std::nullopt;
    std::vector<std::uint8_t> bytes;
    std::uint32_t bits = 0;
    int count = 0;
    for (std::size_t i = from; i < end; ++i) {
        const char c = text[i];
        if (c == '\n' || c == '\r' || c == ' ' || c == '\t') continue;
        if (c == '=') break;
        const int v = base64_value(c);
        if (v < 0) return std::nullopt;
        bits = (bits << 6) | static_cast<std::uint32_t>(v);
        count += 6;
        if (count >= 8) {
            count -= 8;
            bytes.push_back(static_cast<std::uint8_t>(bits >> count));
        }
    }
    return bytes;
}

std::string describe_version(std::string_view version) {
    return version.empty() ? std::string("another version") : "version " + std::string(version);
}

}  // namespace

// ---------------------------------------------------------------------------
// Whole files.

std::vector<std::uint8_t> encode_replay(const Replay& replay) {
    std::vector<std::uint8_t> out;
    Writer w(out);
    write_header(w, replay);
    const InputLayout layout(replay.setup);
    const std::uint8_t bits = layout.bits();
    std::size_t check = 0;
    std::size_t i = 0;
    while (i < replay.inputs.size()) {
        // A run never crosses a check, which follows every 20th tick.
        const std::size_t second_end = (i / ticks_per_second + 1) * ticks_per_second;
        const std::uint32_t packed = pack_input(replay.inputs[i], layout);
        std::size_t j = i + 1;
        while (j < replay.inputs.size() && j < second_end &&
               pack_input(replay.inputs[j], layout) == packed)
            ++j;
        w.varint(run_token(packed, static_cast<std::uint32_t>(j - i), bits));
        i = j;
        // A replay made by hand without its checks gets zeros, which its
        // reader then finds wrong instead of misreading the bytes after.
        if (i % ticks_per_second == 0)
            w.fixed(check < replay.checks.size() ? replay.checks[check++] : 0u, 4);
    }
    write_end(w, replay.ending, replay.won, static_cast<std::uint32_t>(replay.inputs.size()),
              replay.score, replay.end_hash);
    return out;
}

std::variant<Replay, std::string> decode_replay(std::span<const std::uint8_t> bytes,
                                                bool any_rules) {
    if (bytes.size() > replay_size_max)
        return std::string("is larger than any replay (over 16 MiB)");
    auto has_magic = [](std::span<const std::uint8_t> b) {
        return b.size() >= magic.size() && std::equal(magic.begin(), magic.end(), b.begin());
    };
    std::optional<std::vector<std::uint8_t>> decoded_text;
    if (!has_magic(bytes)) {
        const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        decoded_text = from_text(text);
        if (!decoded_text || !has_magic(*decoded_text)) return std::string("is not a replay");
        bytes = *decoded_text;
    }

    Reader r(bytes);
    for (std::size_t i = 0; i < magic.size(); ++i) r.byte();
    const std::uint64_t format = r.fixed(2);
    if (r.failed()) return std::string("is cut short");
    if (format != replay_format_first && format != replay_format_version)
        return "is in replay format " + std::to_string(format) + ", this game reads formats " +
               std::to_string(replay_format_first) + " and " +
               std::to_string(replay_format_version);

    Replay replay;
    replay.version = r.text();
    replay.rules = r.fixed(8);
    if (r.failed()) return std::string("is cut short");
    if (replay.rules != rules_hash() && !any_rules)
        return "was recorded under other rules (" + describe_version(replay.version) +
               " of the game): this game cannot play it";

    const std::uint8_t mode = r.byte();
    const std::uint8_t difficulty = r.byte();
    replay.setup.place = r.byte();
    const std::uint8_t humans = r.byte();
    if (format != replay_format_first) replay.setup.seats = r.byte();
    if (mode > 3 || difficulty > 2) return std::string("names an unknown mode or difficulty");
    replay.setup.mode = static_cast<Mode>(mode);
    replay.setup.difficulty = static_cast<Difficulty>(difficulty);
    if (format != replay_format_first &&
        (!is_duel(replay.setup.mode) || replay.setup.seats == 0 || replay.setup.seats > 15))
        return std::string("names seats no duel has");
    if (humans != std::popcount(people_seats(replay.setup)))
        return std::string("names more or fewer players than its mode has");
    const std::uint64_t places = is_duel(replay.setup.mode) ? duel_place_count : level_count;
    if (replay.setup.place >= places) return std::string("names an unknown level or duel place");
    for (std::optional<Carry>& c : replay.setup.carry) {
        const std::uint8_t flags = r.byte();
        const std::uint8_t charges = r.byte();
        const std::uint8_t reach = r.byte();
        if (flags > 3 || ((flags & 1u) != 0 && (charges > item_cap || reach > item_cap)))
            return std::string("holds a broken carried item");
        if (flags & 1u) c = Carry{(flags & 2u) != 0, charges, reach};
    }
    replay.seed = r.fixed(8);
    replay.player = r.text();
    if (r.failed()) return std::string("is cut short");

    const InputLayout layout(replay.setup);
    const std::uint8_t bits = layout.bits();
    for (;;) {
        const std::uint64_t token = r.varint();
        if (r.failed()) return std::string("is cut short");
        if (token == 0) break;
        const std::uint64_t value = token - 1;
        const std::uint64_t length = (value >> bits) + 1;
        const std::optional<TickInput> input =
            unpack_input(static_cast<std::uint32_t>(value & ((1u << bits) - 1)), layout);
        const std::size_t done = replay.inputs.size();
        const std::size_t second_end = (done / ticks_per_second + 1) * ticks_per_second;
        if (!input || length > second_end - done) return std::string("holds broken input");
        replay.inputs.insert(replay.inputs.end(), static_cast<std::size_t>(length), *input);
        if (replay.inputs.size() > replay_ticks_max) return std::string("holds broken input");
        if (replay.inputs.size() % ticks_per_second == 0)
            replay.checks.push_back(static_cast<std::uint32_t>(r.fixed(4)));
    }
    const std::uint8_t ending = r.byte();
    const std::uint8_t won = r.byte();
    const std::uint64_t ticks = r.fixed(4);
    replay.score = static_cast<std::uint32_t>(r.fixed(4));
    replay.end_hash = r.fixed(8);
    if (r.failed()) return std::string("is cut short");
    if (ending > 2 || won > 1) return std::string("has a broken end");
    replay.ending = static_cast<ReplayEnding>(ending);
    replay.won = won != 0;
    if (ticks != replay.inputs.size())
        return ticks < replay.inputs.size() ? std::string("holds inputs past its end")
                                            : std::string("is cut short");
    if (!r.at_end()) return std::string("has bytes past its end");
    return replay;
}

std::string replay_text(std::span<const std::uint8_t> bytes) {
    std::string text(replay_text_begin);
    text += '\n';
    Base64Lines lines(&append_text, &text);
    for (const std::uint8_t b : bytes) lines.add(b);
    lines.finish();
    text += replay_text_end;
    text += '\n';
    return text;
}

// ---------------------------------------------------------------------------
// Recording.

void ReplayRecorder::start(const Match& match, std::string_view player) {
    Replay header;
    header.rules = rules_hash();
    header.setup = match.setup;
    header.seed = match.arena.rng.state;
    header.player = std::string(player.substr(0, text_field_max));
    bytes_.clear();
    bytes_.reserve(64u << 10);  // an hour of play: a crash report never waits for it to grow
    Writer w(bytes_);
    write_header(w, header);
    setup_ = match.setup;
    run_input_ = 0;
    run_length_ = 0;
    ticks_ = 0;
    recording_ = true;
}

void ReplayRecorder::flush_run() {
    if (run_length_ == 0) return;
    Writer(bytes_).varint(run_token(run_input_, run_length_, InputLayout(setup_).bits()));
    run_length_ = 0;
}

void ReplayRecorder::record(const TickInput& input, const Match& after) {
    if (!recording_) return;
    const std::uint32_t packed = pack_input(input, InputLayout(setup_));
    if (run_length_ > 0 && packed != run_input_) flush_run();
    run_input_ = packed;
    ++run_length_;
    ++ticks_;
    if (ticks_ % ticks_per_second == 0) {
        flush_run();
        Writer(bytes_).fixed(state_hash(after) & 0xFFFFFFFFu, 4);
    }
}

std::vector<std::uint8_t> ReplayRecorder::finish(ReplayEnding ending, const Match& match) {
    flush_run();
    std::vector<std::uint8_t> out = std::move(bytes_);
    Writer w(out);
    write_end(w, ending, match.humans_won(), ticks_, match.arena.score, state_hash(match));
    bytes_.clear();
    recording_ = false;
    return out;
}

void ReplayRecorder::write_crash_text(void (*sink)(void*, const char*, std::size_t),
                                      void* context) const {
    if (!recording_) return;
    sink(context, replay_text_begin.data(), replay_text_begin.size());
    sink(context, "\n", 1);
    Base64Lines lines(sink, context);
    for (const std::uint8_t b : bytes_) lines.add(b);
    // The open run and the end, built on the stack.
    std::array<std::uint8_t, 40> tail{};
    std::size_t used = 0;
    auto put = [&](std::uint64_t value, int n) {
        for (int i = 0; i < n; ++i) tail[used++] = static_cast<std::uint8_t>(value >> (8 * i));
    };
    auto put_varint = [&](std::uint64_t value) {
        while (value >= 0x80) {
            tail[used++] = static_cast<std::uint8_t>(value | 0x80);
            value >>= 7;
        }
        tail[used++] = static_cast<std::uint8_t>(value);
    };
    if (run_length_ > 0) put_varint(run_token(run_input_, run_length_, InputLayout(setup_).bits()));
    put_varint(0);
    put(static_cast<std::uint8_t>(ReplayEnding::Crashed), 1);
    put(0, 1);
    put(ticks_, 4);
    put(0, 4);
    put(0, 8);
    for (std::size_t i = 0; i < used; ++i) lines.add(tail[i]);
    lines.finish();
    sink(context, replay_text_end.data(), replay_text_end.size());
    sink(context, "\n", 1);
}

// ---------------------------------------------------------------------------
// Playing headless.

void ReplayVerdict::differs(std::size_t tick) {
    if (!matched_) return;
    matched_ = false;
    first_bad_tick_ = static_cast<std::uint32_t>(tick);
}

bool ReplayVerdict::after_tick(const Replay& replay, std::size_t played, const Match& match) {
    if (played % ticks_per_second == 0 && next_check_ < replay.checks.size() &&
        static_cast<std::uint32_t>(state_hash(match)) != replay.checks[next_check_++])
        differs(played);
    const bool more = played < replay.inputs.size();
    if (more && match.phase == MatchPhase::Over) {
        differs(played);
        return false;
    }
    if (!more && replay.ending != ReplayEnding::Crashed && state_hash(match) != replay.end_hash)
        differs(played);
    return more;
}

ReplayCheck check_replay(const Replay& replay) {
    ReplayCheck result;
    result.match = Match(replay.setup);
    ReplayVerdict verdict;
    // Another catalogue grew another arena: nothing of it can agree.
    bool same_start = result.match.arena.rng.state == replay.seed;
    for (std::size_t i = 0; same_start && i < replay.inputs.size(); ++i) {
        result.match.advance(replay.inputs[i]);
        if (!verdict.after_tick(replay, i + 1, result.match)) break;
    }
    result.matched = same_start && verdict.matched();
    result.first_bad_tick = verdict.first_bad_tick();
    result.end_hash = state_hash(result.match);
    return result;
}

std::vector<std::uint64_t> hash_stream(const Replay& replay) {
    std::vector<std::uint64_t> hashes;
    Match match(replay.setup);
    for (std::size_t i = 0; i < replay.inputs.size(); ++i) {
        match.advance(replay.inputs[i]);
        if ((i + 1) % ticks_per_second == 0) hashes.push_back(state_hash(match));
    }
    hashes.push_back(state_hash(match));
    return hashes;
}

std::string hash_text(std::uint64_t hash) {
    std::string text(16, '0');
    for (std::size_t i = 0; i < 16; ++i) text[15 - i] = "0123456789abcdef"[(hash >> (4 * i)) & 15u];
    return text;
}

}  // namespace zobra
