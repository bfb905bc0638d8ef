#include "support/arena_invariants.h"

#include <algorithm>
#include <array>
#include <sstream>

namespace zobra::testing {

namespace {

bool valid_hidden(std::uint8_t payload) {
    return payload <= static_cast<std::uint8_t>(Hidden::Nothing) ||
           payload == static_cast<std::uint8_t>(Hidden::Hatch);
}

}  // namespace

::testing::AssertionResult arena_invariants_hold(const Arena& a) {
    const auto fail = [&](auto&&... parts) {
        std::ostringstream text;
        text << "after tick " << a.ticks << ": ";
        (text << ... << parts);
        return ::testing::AssertionFailure() << text.str();
    };
    if (a.width < 1 || a.height < 1) return fail("size ", a.width, " x ", a.height);
    const auto cells = static_cast<std::size_t>(a.width) * static_cast<std::size_t>(a.height);
    if (a.tiles.size() != cells)
        return fail("tiles has ", a.tiles.size(), " entries for ", cells, " cells");
    if (a.fire_left.size() != cells)
        return fail("fire has ", a.fire_left.size(), " entries for ", cells, " cells");

    for (std::int32_t y = 0; y < a.height; ++y)
        for (std::int32_t x = 0; x < a.width; ++x) {
            const Tile t = a.tile(x, y);
            const bool ring = x == 0 || y == 0 || x == a.width - 1 || y == a.height - 1;
            if (ring && t.kind != TileKind::Steel)
                return fail("border cell (", x, ", ", y, ") is not steel");
            if (t.kind == TileKind::Brick && !valid_hidden(t.payload))
                return fail("brick at (", x, ", ", y, ") hides ", int(t.payload));
            if (t.kind == TileKind::Pickup &&
                t.payload > static_cast<std::uint8_t>(PickupKind::Crystal))
                return fail("item at (", x, ", ", y, ") of kind ", int(t.payload));
        }

    for (std::size_t i = 0; i < a.creatures.size(); ++i) {
        const Creature& c = a.creatures[i];
        if (!a.inside(c.x, c.y)) return fail("creature ", i, " outside at (", c.x, ", ", c.y, ")");
        for (std::size_t j = 0; j < i; ++j)
            if (a.creatures[j].x == c.x && a.creatures[j].y == c.y)
                return fail("creatures ", j, " and ", i, " share (", c.x, ", ", c.y, ")");
    }
    for (std::size_t i = 0; i < a.diggers.size(); ++i)
        if (!a.inside(a.diggers[i].x, a.diggers[i].y))
            return fail("digger ", i, " outside the grid");

    for (const Charge& c : a.charges) {
        if (c.owner >= a.diggers.size())
            return fail("a charge owned by digger ", int(c.owner), " who does not exist");
        if (!a.inside(c.x, c.y)) return fail("charge outside at (", c.x, ", ", c.y, ")");
    }
    for (std::size_t i = 0; i < a.diggers.size(); ++i) {
        const auto owned = std::count_if(a.charges.begin(), a.charges.end(),
                                         [&](const Charge& c) { return c.owner == i; });
        if (a.diggers[i].charges_out != owned)
            return fail("digger ", i, " has charges_out ", int(a.diggers[i].charges_out),
                        " but owns ", owned);
    }
    return ::testing::AssertionSuccess();
}

std::vector<Event> checked_tick(Arena& arena, std::span<const DiggerInput> inputs) {
    std::vector<Event> events = arena.tick(inputs);
    EXPECT_TRUE(arena_invariants_hold(arena));
    return events;
}

std::vector<Event> checked_tick(Arena& arena, std::initializer_list<DiggerInput> inputs) {
    return checked_tick(arena, std::span<const DiggerInput>(inputs.begin(), inputs.size()));
}

std::vector<Event> checked_ticks(Arena& arena, int count, std::span<const DiggerInput> inputs) {
    std::vector<Event> all;
    for (int n = 0; n < count; ++n) {
        const std::vector<Event> events = checked_tick(arena, inputs);
        all.insert(all.end(), events.begin(), events.end());
    }
    return all;
}

}  // namespace zobra::testing

namespace zobra {

namespace {
template <typename Enum, std::size_t N>
void print_name(Enum value, const std::array<const char*, N>& names, std::ostream* out) {
    const auto i = static_cast<std::size_t>(value);
    if (i < N)
        *out << names[i];
    else
        *out << "#" << i;
}
}  // namespace

void PrintTo(Event e, std::ostream* out) {
    print_name(
        e,
        std::array{"ChargeLit", "Explosion", "BrickBroken", "Dug", "PickedUp", "CreatureKilled",
                   "Gobbled", "CreatureStep", "WispStep", "HatchOpened", "DiggerEscaped",
                   "DiggerDied", "WallClosed", "TimeUp", "RoundOver", "AllLost"},
        out);
}
void PrintTo(DiggerState s, std::ostream* out) {
    print_name(s, std::array{"Alive", "Dead", "Escaped"}, out);
}
void PrintTo(Outcome o, std::ostream* out) {
    print_name(o, std::array{"Running", "Finished", "Lost"}, out);
}
void PrintTo(Dir d, std::ostream* out) {
    print_name(d, std::array{"Up", "Right", "Down", "Left"}, out);
}
void PrintTo(TileKind k, std::ostream* out) {
    print_name(k, std::array{"Empty", "Steel", "Brick", "Dirt", "Pickup", "Hatch"}, out);
}
void PrintTo(const Tile& t, std::ostream* out) {
    PrintTo(t.kind, out);
    *out << "(" << int(t.payload) << ")";
}

}  // namespace zobra
