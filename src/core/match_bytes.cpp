// A match as bytes, for sending it whole to a machine whose copy went astray:
// every field in a fixed order, little-endian and fixed-width. The reader
// checks every count, range and position, so that no bytes from another
// machine can put a mover outside its grid or an enum out of its range.

#include <algorithm>
#include <optional>

#include "core/match.h"

namespace zobra {

namespace {

constexpr std::uint8_t match_bytes_version = 1;
constexpr std::int32_t side_max = 255;  // the largest arena side a reader takes

class Out {
  public:
    explicit Out(std::vector<std::uint8_t>& bytes) : bytes_(bytes) {}
    void u8(std::uint32_t v) { bytes_.push_back(static_cast<std::uint8_t>(v)); }
    void u16(std::uint32_t v) { fixed(v, 2); }
    void u32(std::uint32_t v) { fixed(v, 4); }
    void i32(std::int32_t v) { fixed(static_cast<std::uint32_t>(v), 4); }
    void u64(std::uint64_t v) { fixed(v, 8); }
    void carry(const std::optional<Carry>& c) {
        u8(c ? 1u | (c->boots ? 2u : 0u) : 0u);
        u8(c ? c->max_charges : 0u);
        u8(c ? c->reach : 0u);
    }
    void mover(const Mover& m) {
        i32(m.x);
        i32(m.y);
        i32(m.prev_x);
        i32(m.prev_y);
        u8(m.step_timer);
        u8(m.step_len);
    }

  private:
    void fixed(std::uint64_t v, int n) {
        for (int i = 0; i < n; ++i) bytes_.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    }
    std::vector<std::uint8_t>& bytes_;
};

class In {
  public:
    explicit In(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
    bool ok() const { return ok_; }
    bool done() const { return ok_ && at_ == bytes_.size(); }
    void check(bool condition) { ok_ = ok_ && condition; }
    std::uint8_t u8() {
        if (at_ >= bytes_.size()) {
            ok_ = false;
            return 0;
        }
        return bytes_[at_++];
    }
    // A byte no larger than `max`.
    std::uint8_t upto(std::uint8_t max) {
        const std::uint8_t v = u8();
        check(v <= max);
        return std::min(v, max);
    }
    bool flag() { return upto(1) == 1; }
    std::uint16_t u16() { return static_cast<std::uint16_t>(fixed(2)); }
    std::uint32_t u32() { return static_cast<std::uint32_t>(fixed(4)); }
    std::int32_t i32() { return static_cast<std::int32_t>(u32()); }
    std::uint64_t u64() { return fixed(8); }
    std::size_t left() const { return bytes_.size() - at_; }
    std::optional<Carry> carry() {
        const std::uint8_t flags = upto(3);
        const std::uint8_t charges = upto(item_cap);
        const std::uint8_t reach = upto(item_cap);
        if ((flags & 1u) == 0) return std::nullopt;
        return Carry{(flags & 2u) != 0, charges, reach};
    }
    void mover(Mover& m, const Arena& a) {
        m.x = i32();
        m.y = i32();
        m.prev_x = i32();
        m.prev_y = i32();
        m.step_timer = u8();
        m.step_len = u8();
        check(a.inside(m.x, m.y) && a.inside(m.prev_x, m.prev_y) && m.step_len > 0);
    }

  private:
    std::uint64_t fixed(int n) {
        std::uint64_t v = 0;
        for (int i = 0; i < n; ++i) v |= std::uint64_t{u8()} << (8 * i);
        return v;
    }
    std::span<const std::uint8_t> bytes_;
    std::size_t at_ = 0;
    bool ok_ = true;
};

void put_arena(Out& o, const Arena& a) {
    o.i32(a.width);
    o.i32(a.height);
    for (const Tile& t : a.tiles) {
        o.u8(static_cast<std::uint8_t>(t.kind));
        o.u8(t.payload);
    }
    for (const std::uint8_t f : a.fire_left) o.u8(f);
    o.u16(static_cast<std::uint32_t>(a.charges.size()));
    for (const Charge& c : a.charges) {
        o.i32(c.x);
        o.i32(c.y);
        o.u16(c.fuse);
        o.u8(c.reach);
        o.u8(c.owner);
    }
    o.u16(static_cast<std::uint32_t>(a.creatures.size()));
    for (const Creature& c : a.creatures) {
        o.mover(c);
        o.u8(static_cast<std::uint8_t>(c.heading));
        o.u8(static_cast<std::uint8_t>(c.kind));
    }
    o.u8(static_cast<std::uint32_t>(a.diggers.size()));
    for (const Digger& d : a.diggers) {
        o.mover(d);
        o.u8(d.max_charges);
        o.u8(d.charges_out);
        o.u8(d.reach);
        o.u8(static_cast<std::uint8_t>(d.facing));
        o.u8(static_cast<std::uint8_t>(d.state));
        o.u8(d.boots ? 1 : 0);
        o.u8(d.bot ? 1 : 0);
    }
    o.i32(a.leash_x);
    o.i32(a.leash_y);
    o.u64(a.rng.state);
    o.u32(a.ticks);
    o.u32(a.time_left);
    o.u32(a.score);
    o.u32(a.creature_pace);
    o.u8(a.has_winner ? 1 : 0);
    o.u8(a.winner);
    o.u8(a.duel ? 1 : 0);
    o.u8(a.hatch_open ? 1 : 0);
    o.u8(static_cast<std::uint8_t>(a.outcome));
}

bool take_arena(In& in, Arena& a) {
    a.width = in.i32();
    a.height = in.i32();
    in.check(a.width > 0 && a.height > 0 && a.width <= side_max && a.height <= side_max);
    if (!in.ok()) return false;
    const std::size_t cells =
        static_cast<std::size_t>(a.width) * static_cast<std::size_t>(a.height);
    in.check(in.left() >= cells * 3);
    if (!in.ok()) return false;
    a.tiles.resize(cells);
    for (Tile& t : a.tiles) {
        t.kind = static_cast<TileKind>(in.upto(static_cast<std::uint8_t>(TileKind::Hatch)));
        t.payload = in.upto(static_cast<std::uint8_t>(Hidden::Hatch));
    }
    a.fire_left.resize(cells);
    for (std::uint8_t& f : a.fire_left) f = in.u8();

    const std::size_t charges = in.u16();
    in.check(charges <= cells);
    for (std::size_t i = 0; i < charges && in.ok(); ++i) {
        Charge c;
        c.x = in.i32();
        c.y = in.i32();
        c.fuse = in.u16();
        c.reach = in.u8();
        c.owner = in.upto(3);
        in.check(a.inside(c.x, c.y));
        a.charges.push_back(c);
    }
    const std::size_t creatures = in.u16();
    in.check(creatures <= cells);
    for (std::size_t i = 0; i < creatures && in.ok(); ++i) {
        Creature c;
        in.mover(c, a);
        c.heading = static_cast<Dir>(in.upto(3));
        c.kind = static_cast<CreatureKind>(in.upto(creature_kind_count - 1));
        a.creatures.push_back(c);
    }
    const std::size_t diggers = in.u8();
    in.check(diggers >= 1 && diggers <= max_seats);
    for (std::size_t i = 0; i < diggers && in.ok(); ++i) {
        Digger d;
        in.mover(d, a);
        d.max_charges = in.upto(item_cap);
        d.charges_out = in.u8();
        d.reach = in.upto(item_cap);
        d.facing = static_cast<Dir>(in.upto(3));
        d.state = static_cast<DiggerState>(in.upto(2));
        d.boots = in.flag();
        d.bot = in.flag();
        a.diggers.push_back(d);
    }
    for (const Charge& c : a.charges) in.check(c.owner < a.diggers.size());
    a.leash_x = in.i32();
    a.leash_y = in.i32();
    a.rng.state = in.u64();
    in.check(a.rng.state != 0);
    a.ticks = in.u32();
    a.time_left = in.u32();
    a.score = in.u32();
    a.creature_pace = in.u32();
    a.has_winner = in.flag();
    a.winner = in.upto(3);
    a.duel = in.flag();
    a.hatch_open = in.flag();
    a.outcome = static_cast<Outcome>(in.upto(2));
    return in.ok();
}

}  // namespace

std::vector<std::uint8_t> encode_match(const Match& m) {
    std::vector<std::uint8_t> bytes;
    bytes.reserve(64 + m.arena.tiles.size() * 3);
    Out o(bytes);
    o.u8(match_bytes_version);
    o.u8(static_cast<std::uint8_t>(m.setup.mode));
    o.u8(static_cast<std::uint8_t>(m.setup.difficulty));
    o.u8(m.setup.place);
    o.u8(m.setup.seats);
    for (const std::optional<Carry>& c : m.setup.carry) o.carry(c);
    put_arena(o, m.arena);
    for (const std::uint32_t w : m.duel_wins) o.u32(w);
    o.u32(m.duel_round);
    for (const std::optional<Carry>& c : m.carry) o.carry(c);
    o.u8(static_cast<std::uint8_t>(m.phase));
    o.u32(m.ticks);
    o.u32(m.end_ticks);
    o.u8(m.time_up ? 1 : 0);
    o.u8(m.computer_seats);
    return bytes;
}

std::optional<Match> decode_match(std::span<const std::uint8_t> bytes) {
    In in(bytes);
    in.check(in.u8() == match_bytes_version);
    Match m;
    m.setup.mode = static_cast<Mode>(in.upto(3));
    m.setup.difficulty = static_cast<Difficulty>(in.upto(2));
    m.setup.place = in.u8();
    m.setup.seats = in.upto(15);
    in.check(m.setup.place < (is_duel(m.setup.mode) ? duel_place_count : level_count));
    for (std::optional<Carry>& c : m.setup.carry) c = in.carry();
    if (!in.ok() || !take_arena(in, m.arena)) return std::nullopt;
    for (std::uint32_t& w : m.duel_wins) w = in.u32();
    m.duel_round = in.u32();
    for (std::optional<Carry>& c : m.carry) c = in.carry();
    m.phase = static_cast<MatchPhase>(in.upto(static_cast<std::uint8_t>(MatchPhase::Over)));
    m.ticks = in.u32();
    m.end_ticks = in.u32();
    m.time_up = in.flag();
    m.computer_seats = in.upto(15);
    if (!in.done()) return std::nullopt;
    return m;
}

}  // namespace zobra
