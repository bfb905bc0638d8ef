#include "net/protocol.h"

#include <algorithm>
#include <cctype>

namespace zobra::net {

namespace {

// The type byte of each message, in the order of `Message`'s alternatives:
// a client's from 1, the relay's from 32.
constexpr std::array<std::uint8_t, std::variant_size_v<Message>> type_bytes = {
    1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 32, 33, 34, 35, 36, 37, 38, 39};

class Writer {
  public:
    void u8(std::uint32_t v) { out.push_back(static_cast<std::uint8_t>(v)); }
    void u16(std::uint32_t v) { fixed(v, 2); }
    void u32(std::uint32_t v) { fixed(v, 4); }
    void u64(std::uint64_t v) { fixed(v, 8); }
    void text(std::string_view s) {
        const std::size_t n = std::min(s.size(), name_size_max);
        u8(static_cast<std::uint32_t>(n));
        out.insert(out.end(), s.begin(), s.begin() + static_cast<std::ptrdiff_t>(n));
    }
    void code(const RoomCode& c) {
        for (const char ch : c) u8(static_cast<std::uint8_t>(ch));
    }
    std::vector<std::uint8_t> out;

  private:
    void fixed(std::uint64_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    }
};

class Reader {
  public:
    explicit Reader(std::span<const std::uint8_t> in) : in_(in) {}
    bool ok() const { return !failed_ && pos_ == in_.size(); }
    std::uint8_t u8() {
        if (pos_ >= in_.size()) {
            failed_ = true;
            return 0;
        }
        return in_[pos_++];
    }
    std::uint16_t u16() { return static_cast<std::uint16_t>(fixed(2)); }
    std::uint32_t u32() { return static_cast<std::uint32_t>(fixed(4)); }
    std::uint64_t u64() { return fixed(8); }
    std::string text() {
        const std::size_t n = u8();
        if (n > name_size_max || n > left()) {
            failed_ = true;
            return {};
        }
        std::string s(reinterpret_cast<const char*>(in_.data() + pos_), n);
        pos_ += n;
        return s;
    }
    RoomCode code() {
        RoomCode c{};
        for (char& ch : c) ch = static_cast<char>(u8());
        if (!parse_room_code(std::string_view(c.data(), c.size()))) failed_ = true;
        return c;
    }
    Difficulty difficulty() {
        const std::uint8_t d = u8();
        if (d > 2) failed_ = true;
        return static_cast<Difficulty>(std::min<std::uint8_t>(d, 2));
    }
    std::uint8_t players() {
        const std::uint8_t p = u8();
        if (p < 1 || p > local_seats_max) failed_ = true;
        return p;
    }
    std::uint8_t seat_mask() {
        const std::uint8_t m = u8();
        if (m > 15) failed_ = true;
        return m;
    }
    // A count of items of `size` bytes each, at most `max`.
    std::size_t count(std::size_t max, std::size_t size) {
        const std::size_t n = u8();
        if (n > max || n * size > left()) failed_ = true;
        return failed_ ? 0 : n;
    }
    std::size_t left() const { return in_.size() - pos_; }
    void fail() { failed_ = true; }
    std::span<const std::uint8_t> rest() {
        const auto r = in_.subspan(pos_);
        pos_ = in_.size();
        return r;
    }

  private:
    std::uint64_t fixed(int bytes) {
        std::uint64_t v = 0;
        for (int i = 0; i < bytes; ++i) v |= std::uint64_t{u8()} << (8 * i);
        return v;
    }
    std::span<const std::uint8_t> in_;
    std::size_t pos_ = 0;
    bool failed_ = false;
};

// Each message's fields, written and read in the same order.
void put(Writer& w, const Hello& m) {
    w.u32(m.version);
    w.u64(m.rules);
    w.text(m.name);
}
void put(Writer& w, const OpenRoom& m) {
    w.u8(m.place);
    w.u8(static_cast<std::uint8_t>(m.difficulty));
    w.u8(m.players);
}
void put(Writer& w, const JoinRoom& m) {
    w.code(m.code);
    w.u8(m.players);
}
void put(Writer& w, const QuickMatch& m) { w.u8(m.players); }
void put(Writer&, const StartMatch&) {}
void put(Writer& w, const Inputs& m) {
    w.u32(m.confirmed);
    w.u32(m.first);
    const std::size_t n = std::min(m.ticks.size(), ticks_per_message);
    w.u8(static_cast<std::uint32_t>(n));
    for (std::size_t i = 0; i < n; ++i) w.u16(m.ticks[i]);
}
void put(Writer& w, const HashReport& m) {
    w.u32(m.tick);
    w.u64(m.hash);
}
void put(Writer&, const Leave&) {}
void put(Writer& w, const Ping& m) { w.u32(m.sent); }
void put(Writer& w, const Watch& m) { w.code(m.code); }
void put(Writer& w, const Rejoin& m) {
    w.code(m.code);
    w.u64(m.token);
}
void put(Writer& w, const Welcome& m) {
    w.u32(m.client);
    w.u64(m.token);
}
void put(Writer& w, const Refused& m) { w.u8(static_cast<std::uint8_t>(m.reason)); }
void put(Writer& w, const Lobby& m) {
    w.code(m.code);
    w.u8(m.place);
    w.u8(static_cast<std::uint8_t>(m.difficulty));
    w.u8(m.your_seats);
    w.u8(m.host ? 1 : 0);
    for (const LobbySeat& s : m.seats) {
        w.u8(s.person ? 1 : 0);
        w.text(s.name);
    }
    w.u8(m.watchers);
}
void put(Writer& w, const Started& m) {
    w.u8(m.setup.place);
    w.u8(static_cast<std::uint8_t>(m.setup.difficulty));
    w.u8(m.setup.seats);
    w.u8(m.your_seats);
}
void put(Writer& w, const Confirmed& m) {
    w.u32(m.first);
    const std::size_t n = std::min(m.ticks.size(), ticks_per_message);
    w.u8(static_cast<std::uint32_t>(n));
    for (std::size_t i = 0; i < n; ++i) {
        const ConfirmedTick& t = m.ticks[i];
        w.u16(t.seats);
        w.u8((t.confirm ? 1u : 0u) | std::uint32_t{t.to_computer & 15u} << 4);
        w.u8(t.late & 15u);
    }
}
void put(Writer& w, const State& m) {
    w.u32(m.tick);
    w.out.insert(
        w.out.end(), m.match.begin(),
        m.match.begin() + static_cast<std::ptrdiff_t>(std::min(m.match.size(), state_size_max)));
}
void put(Writer& w, const Ended& m) {
    w.u32(m.ticks);
    w.u64(m.hash);
}
void put(Writer& w, const Pong& m) {
    w.u32(m.echo);
    w.u32(m.match_ms);
}

bool valid_seats(std::uint16_t seats) {
    for (int i = 0; i < 4; ++i)
        if (!unpack_seat(static_cast<std::uint8_t>((seats >> (4 * i)) & 15u))) return false;
    return true;
}

void take(Reader& r, Hello& m) {
    m.version = r.u32();
    m.rules = r.u64();
    m.name = r.text();
}
void take(Reader& r, OpenRoom& m) {
    m.place = r.u8();
    if (m.place >= duel_place_count) r.fail();
    m.difficulty = r.difficulty();
    m.players = r.players();
}
void take(Reader& r, JoinRoom& m) {
    m.code = r.code();
    m.players = r.players();
}
void take(Reader& r, QuickMatch& m) { m.players = r.players(); }
void take(Reader&, StartMatch&) {}
void take(Reader& r, Inputs& m) {
    m.confirmed = r.u32();
    m.first = r.u32();
    const std::size_t n = r.count(ticks_per_message, 2);
    for (std::size_t i = 0; i < n; ++i) {
        const LocalInput input = r.u16();
        if (input >= 0x200 || !valid_seats(input & 0xFFu)) r.fail();
        m.ticks.push_back(input);
    }
}
void take(Reader& r, HashReport& m) {
    m.tick = r.u32();
    m.hash = r.u64();
}
void take(Reader&, Leave&) {}
void take(Reader& r, Ping& m) { m.sent = r.u32(); }
void take(Reader& r, Watch& m) { m.code = r.code(); }
void take(Reader& r, Rejoin& m) {
    m.code = r.code();
    m.token = r.u64();
}
void take(Reader& r, Welcome& m) {
    m.client = r.u32();
    m.token = r.u64();
}
void take(Reader& r, Refused& m) {
    const std::uint8_t reason = r.u8();
    if (reason < 1 || reason > 6) r.fail();
    m.reason = static_cast<RefusedReason>(reason);
}
void take(Reader& r, Lobby& m) {
    m.code = r.code();
    m.place = r.u8();
    if (m.place >= duel_place_count) r.fail();
    m.difficulty = r.difficulty();
    m.your_seats = r.seat_mask();
    const std::uint8_t host = r.u8();
    if (host > 1) r.fail();
    m.host = host == 1;
    for (LobbySeat& s : m.seats) {
        const std::uint8_t person = r.u8();
        if (person > 1) r.fail();
        s.person = person == 1;
        s.name = r.text();
    }
    m.watchers = r.u8();
}
void take(Reader& r, Started& m) {
    m.setup.mode = Mode::DuelSolo;
    m.setup.place = r.u8();
    if (m.setup.place >= duel_place_count) r.fail();
    m.setup.difficulty = r.difficulty();
    m.setup.seats = r.seat_mask();
    m.your_seats = r.seat_mask();
    if (m.setup.seats == 0 || (m.your_seats & ~m.setup.seats) != 0) r.fail();
}
void take(Reader& r, Confirmed& m) {
    m.first = r.u32();
    const std::size_t n = r.count(ticks_per_message, 4);
    for (std::size_t i = 0; i < n; ++i) {
        ConfirmedTick t;
        t.seats = r.u16();
        const std::uint8_t flags = r.u8();
        t.late = r.u8();
        t.confirm = (flags & 1u) != 0;
        t.to_computer = static_cast<std::uint8_t>(flags >> 4);
        if ((flags & 0x0Eu) != 0 || t.late > 15 || !valid_seats(t.seats)) r.fail();
        m.ticks.push_back(t);
    }
}
void take(Reader& r, State& m) {
    m.tick = r.u32();
    if (r.left() > state_size_max) r.fail();
    const auto rest = r.rest();
    m.match.assign(rest.begin(), rest.end());
}
void take(Reader& r, Ended& m) {
    m.ticks = r.u32();
    m.hash = r.u64();
}
void take(Reader& r, Pong& m) {
    m.echo = r.u32();
    m.match_ms = r.u32();
}

template <std::size_t I>
std::optional<Message> decode_as(std::uint8_t type, Reader& r) {
    if constexpr (I == std::variant_size_v<Message>) {
        return std::nullopt;
    } else {
        if (type != type_bytes[I]) return decode_as<I + 1>(type, r);
        std::variant_alternative_t<I, Message> m;
        take(r, m);
        if (!r.ok()) return std::nullopt;
        return Message(std::move(m));
    }
}

}  // namespace

std::optional<RoomCode> parse_room_code(std::string_view text) {
    RoomCode code{};
    if (text.size() != code.size()) return std::nullopt;
    for (std::size_t i = 0; i < code.size(); ++i) {
        const char c = static_cast<char>(std::toupper(static_cast<unsigned char>(text[i])));
        if (room_code_letters.find(c) == std::string_view::npos) return std::nullopt;
        code[i] = c;
    }
    return code;
}

std::string room_code_text(const RoomCode& code) { return std::string(code.data(), code.size()); }

std::vector<std::uint8_t> encode(const Message& message) {
    Writer w;
    w.u8(type_bytes[message.index()]);
    std::visit([&w](const auto& m) { put(w, m); }, message);
    return std::move(w.out);
}

std::optional<Message> decode(std::span<const std::uint8_t> bytes) {
    if (bytes.empty() || bytes.size() > message_size_max) return std::nullopt;
    Reader r(bytes.subspan(1));
    return decode_as<0>(bytes[0], r);
}

TickInput tick_input(const ConfirmedTick& tick) {
    TickInput input;
    for (std::size_t i = 0; i < max_seats; ++i)
        input.diggers[i] = unpack_seat(static_cast<std::uint8_t>((tick.seats >> (4 * i)) & 15u))
                               .value_or(DiggerInput{});
    input.confirm = tick.confirm;
    input.to_computer = tick.to_computer;
    return input;
}

ConfirmedTick confirmed_tick(const TickInput& input, std::uint8_t late) {
    ConfirmedTick tick;
    for (std::size_t i = 0; i < max_seats; ++i)
        tick.seats =
            static_cast<std::uint16_t>(tick.seats | pack_seat(input.diggers[i]) << (4 * i));
    tick.confirm = input.confirm;
    tick.to_computer = input.to_computer;
    tick.late = late;
    return tick;
}

}  // namespace zobra::net
