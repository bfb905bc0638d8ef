#include "support/arena_picture.h"

#include <algorithm>
#include <map>

#include "core/panic.h"

namespace zobra::testing {

namespace {

constexpr std::string_view item_letters = "CRBY";     // by PickupKind
constexpr std::string_view hidden_letters = "crby";   // by the item a brick hides
constexpr std::string_view creature_letters = "mwg";  // by CreatureKind

char tile_letter(Tile t) {
    switch (t.kind) {
        case TileKind::Empty:
            return '.';
        case TileKind::Steel:
            return '#';
        case TileKind::Brick:
            if (t.hidden() == Hidden::Nothing) return 'X';
            if (t.hidden() == Hidden::Hatch) return 'h';
            return t.payload < hidden_letters.size() ? hidden_letters[t.payload] : '?';
        case TileKind::Dirt:
            return ':';
        case TileKind::Pickup:
            return t.payload < item_letters.size() ? item_letters[t.payload] : '?';
        case TileKind::Hatch:
            return 'H';
    }
    return '?';
}

}  // namespace

Arena arena_from_picture(const std::vector<std::string_view>& rows, std::uint64_t seed) {
    if (rows.empty() || rows[0].empty()) panic("an arena picture needs at least one cell");
    Arena a(static_cast<std::int32_t>(rows[0].size()), static_cast<std::int32_t>(rows.size()),
            seed);
    std::map<int, Digger> diggers;
    for (std::int32_t y = 0; y < a.height; ++y) {
        const std::string_view row = rows[static_cast<std::size_t>(y)];
        if (row.size() != rows[0].size()) panic("arena picture rows differ in length");
        for (std::int32_t x = 0; x < a.width; ++x) {
            const char ch = row[static_cast<std::size_t>(x)];
            Tile tile = Tile::empty();
            if (ch == '#')
                tile = Tile::steel();
            else if (ch == 'X')
                tile = Tile::brick(Hidden::Nothing);
            else if (ch == ':')
                tile = Tile::dirt();
            else if (ch == 'h')
                tile = Tile::brick(Hidden::Hatch);
            else if (const auto hidden = hidden_letters.find(ch); hidden != std::string_view::npos)
                tile = Tile::brick(hides(static_cast<PickupKind>(hidden)));
            else if (ch == 'H')
                tile = Tile::hatch();
            else if (const auto item = item_letters.find(ch); item != std::string_view::npos)
                tile = Tile::pickup(static_cast<PickupKind>(item));
            else if (ch >= '1' && ch <= '4') {
                if (diggers.contains(ch - '1')) panic("digger drawn twice");
                diggers[ch - '1'].place({x, y});
            } else if (const auto kind = creature_letters.find(ch);
                       kind != std::string_view::npos) {
                Creature creature;
                creature.place({x, y});
                creature.kind = static_cast<CreatureKind>(kind);
                a.creatures.push_back(creature);
            } else if (ch == '*')
                a.charges.push_back({.x = x, .y = y});
            else if (ch != '.')
                panic(std::string("unknown arena picture character '") + ch + "'");
            a.set_tile(x, y, tile);
        }
    }
    for (std::size_t i = 0; i < diggers.size(); ++i) {
        if (!diggers.contains(static_cast<int>(i)))
            panic("diggers must be numbered from 1 without gaps");
        a.diggers.push_back(diggers[static_cast<int>(i)]);
    }
    if (!a.charges.empty()) {
        if (a.diggers.empty()) panic("a charge needs digger 1 to own it");
        a.diggers[0].charges_out = static_cast<std::uint8_t>(a.charges.size());
        a.diggers[0].max_charges = std::max(a.diggers[0].max_charges, a.diggers[0].charges_out);
    }
    return a;
}

std::vector<std::string> arena_picture(const Arena& a) {
    std::vector<std::string> rows;
    for (std::int32_t y = 0; y < a.height; ++y) {
        std::string row;
        for (std::int32_t x = 0; x < a.width; ++x) row += tile_letter(a.tile(x, y));
        rows.push_back(row);
    }
    const auto put = [&](std::int32_t x, std::int32_t y, char ch) {
        if (a.inside(x, y)) rows[static_cast<std::size_t>(y)][static_cast<std::size_t>(x)] = ch;
    };
    for (const Charge& c : a.charges) put(c.x, c.y, '*');
    for (const Creature& c : a.creatures)
        put(c.x, c.y, creature_letters[static_cast<std::size_t>(c.kind) % creature_letters.size()]);
    for (std::size_t i = 0; i < a.diggers.size(); ++i)
        if (a.diggers[i].state == DiggerState::Alive)
            put(a.diggers[i].x, a.diggers[i].y, static_cast<char>('1' + i));
    return rows;
}

std::vector<std::string> fire_picture(const Arena& a) {
    std::vector<std::string> rows;
    for (std::int32_t y = 0; y < a.height; ++y) {
        std::string row;
        for (std::int32_t x = 0; x < a.width; ++x) {
            const std::uint8_t f = a.fire(x, y);
            row += f == 0 ? '.' : f > 9 ? '+' : static_cast<char>('0' + f);
        }
        rows.push_back(row);
    }
    return rows;
}

}  // namespace zobra::testing
