// The rollback session as a property: matches between two or three clients
// and the relay over fake links with random delay, jitter, loss,
// duplication and reordering, random players, clients that drop (and may
// come back on a new connection), a spectator who may come at any moment,
// and copies spoiled on purpose. Every client that stays ends with the
// relay's end hash, every spoiled copy is found and mended, and every
// client's confirmed inputs replay to that hash. The test run plays 100 matches cut
// short at 300 to 900 ticks (ZOBRA_NET_MATCHES, ZOBRA_NET_TICKS); `make soak`
// plays a thousand whole ones (ZOBRA_NET_TICKS=0).

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <numeric>
#include <set>
#include <string>

#include "net/fake_link.h"

namespace zobra::net {
namespace {

constexpr std::uint64_t short_matches = 100;
constexpr std::uint64_t short_ticks = 600;

std::uint64_t from_env(const char* name, std::uint64_t otherwise) {
    const char* text = std::getenv(name);
    if (text == nullptr || *text == '\0') return otherwise;
    return std::strtoull(text, nullptr, 10);
}

// A person at the keys: a held direction that changes now and then, a
// charge now and then, and a confirm on an end screen after a while.
class RandomPlayer {
  public:
    explicit RandomPlayer(std::uint64_t seed) : rng_{arena_rng_start(seed)} {}
    std::array<DiggerInput, local_seats_max> keys() {
        std::array<DiggerInput, local_seats_max> keys{};
        for (std::size_t i = 0; i < local_seats_max; ++i) {
            if (rng_.below(12) == 0) {
                const std::uint32_t d = rng_.below(5);
                held_[i] = d == 4 ? std::nullopt : std::optional<Dir>(static_cast<Dir>(d));
            }
            keys[i].dir = held_[i];
            keys[i].drop = rng_.below(40) == 0;
        }
        return keys;
    }
    bool confirm(const Match& shown) {
        return shown.phase != MatchPhase::Running && rng_.below(50) == 0;
    }
    std::uint32_t below(std::uint32_t n) { return rng_.below(n); }

  private:
    Rng rng_;
    std::array<std::optional<Dir>, local_seats_max> held_{};
};

struct Outcome {
    std::uint32_t clients = 0;
    std::uint32_t stayed = 0;
    std::uint32_t came_back = 0;
    bool watched = false;
    std::uint32_t spoiled = 0;
    std::uint32_t recovered = 0;
    std::uint32_t desyncs_found = 0;   // the relay's log lines
    std::uint32_t desyncs_mended = 0;  // likewise
    std::uint64_t end_hash = 0;
    std::uint32_t end_ticks = 0;
    bool ended = false;
    Micros stalled = 0;  // the longest a client waited at a time
    std::vector<std::string> log;
};

// Plays one match with impairments, players and mishaps drawn from `seed`;
// `ticks_max` (0 for none) cuts it short.
Outcome play_match(std::uint64_t seed, std::uint32_t ticks_max) {
    Rng rng{arena_rng_start(seed)};
    Outcome o;
    RelayLimits limits;
    if (ticks_max != 0) limits.match_ticks_max = ticks_max;
    // Mishaps fall into the first minutes, or into the cut-short match.
    const std::uint32_t span = ticks_max != 0 ? ticks_max : 3000;
    FakeNetwork net(limits, seed, [&o](std::string_view line) { o.log.emplace_back(line); });
    const std::uint32_t clients = 2 + rng.below(2);
    o.clients = clients;
    std::vector<RandomPlayer> players;
    std::vector<std::uint8_t> counts;
    for (std::uint32_t i = 0; i < clients; ++i) {
        // 0-300 ms round trip, 20 ms jitter, 0-5 % loss, up to 2 % of
        // duplicates and of reordered datagrams, each direction its own.
        const Micros rtt = rng.below(301) * 1000;
        const auto impaired = [&] {
            return Impairment{rtt / 2, 20'000, rng.below(percent(5) + 1), rng.below(percent(2) + 1),
                              rng.below(percent(2) + 1)};
        };
        const Impairment up = impaired();
        net.add("P" + std::to_string(i), up, impaired());
        players.emplace_back(seed * 10 + i);
        counts.push_back(static_cast<std::uint8_t>(rng.below(3) == 0 ? 2 : 1));
    }
    // At most four people: the last ones may have to come alone.
    for (std::uint32_t i = clients; std::accumulate(counts.begin(), counts.end(), 0u) > max_seats;)
        counts[--i] = 1;
    const std::uint32_t people = std::accumulate(counts.begin(), counts.end(), 0u);

    // One client but the host may drop (cleanly or silently); copies may be
    // spoiled, up to twice each.
    const std::uint32_t dropper = rng.below(4) == 0 ? 1 + rng.below(clients - 1) : clients;
    const std::uint32_t drop_at = 20 + rng.below(span);
    const bool drop_silently = rng.below(2) == 0;
    // One dropped cleanly may come back: mostly within the drop time, else
    // to watch the match the computer took over.
    const Micros back_after =
        !drop_silently && rng.below(2) == 0 ? 100'000 + rng.below(4'000) * 1000 : 0;
    Micros dropped_at = 0;
    // A spectator, half the time: before the start or at any tick.
    const std::size_t spectator = rng.below(2) == 0 ? clients : SIZE_MAX;
    const std::uint32_t watch_at = rng.below(2) == 0 ? 0 : rng.below(span);
    if (spectator != SIZE_MAX) {
        const Impairment link{rng.below(150) * 1000, 20'000, rng.below(percent(5) + 1), 0, 0};
        net.add("W", link, link);
        players.emplace_back(seed * 10 + clients);
    }
    std::vector<std::vector<std::uint32_t>> spoil_at(clients);
    for (auto& at : spoil_at)
        for (int k = 0; k < 2; ++k)
            if (rng.below(6) == 0) at.push_back(10 + rng.below(span - 20));  // before the end

    std::vector<bool> gone(clients + 1, false), asked(clients + 1, false);
    std::vector<std::uint32_t> recovered(clients, 0), spoiled(clients, 0);
    std::vector<Micros> waiting_since(clients, 0);
    bool started = false;
    const auto frame = [&](std::size_t i, Micros now) {
        OnlineClient& c = net.client(i);
        const auto& code = net.client(0).lobby();
        if (i == spectator) {
            if (c.phase() == ClientPhase::Welcomed && !asked[i] && code &&
                net.client(0).shown().ticks >= watch_at) {
                c.watch_room(code->code);
                asked[i] = true;
            }
            c.update({}, false, now);
            return;
        }
        if (i == dropper && back_after != 0 && dropped_at != 0 && now >= dropped_at + back_after &&
            !net.open(i)) {
            net.reconnect(i);
            ++o.came_back;
        }
        if (gone[i]) return;
        // The lobby: the first opens a room, the others join it once its
        // code is known, and the host starts once everyone is in.
        if (c.phase() == ClientPhase::Welcomed && !asked[i] && (i == 0 || code)) {
            if (i == 0)
                c.open_room(static_cast<std::uint8_t>(seed % duel_place_count),
                            static_cast<Difficulty>(seed % 3), counts[0]);
            else
                c.join_room(code->code, counts[i]);
            asked[i] = true;
        }
        if (i == 0 && c.phase() == ClientPhase::InRoom && !started) {
            std::uint32_t in = 0;
            for (const LobbySeat& seat : c.lobby()->seats) in += seat.person ? 1 : 0;
            if (in == people) {
                c.start_match();
                started = true;
            }
        }
        const ClientUpdate u = c.update(players[i].keys(), players[i].confirm(c.shown()), now);
        recovered[i] += u.recovered ? 1 : 0;
        // A stall: frames that show no new tick because the match waits.
        if (u.ticks_run > 0 || u.waiting_for == 0) {
            waiting_since[i] = 0;
        } else if (waiting_since[i] == 0) {
            waiting_since[i] = now;
        } else if (i != dropper && (ticks_max == 0 || c.shown().ticks < ticks_max)) {
            // (Past a cut-short match's last tick only its end is to come.)
            o.stalled = std::max(o.stalled, now - waiting_since[i]);
        }
        if (c.phase() != ClientPhase::Playing) return;
        const std::uint32_t shown = c.shown().ticks;
        if (i == dropper && shown >= drop_at && dropped_at == 0) {
            dropped_at = now;
            gone[i] = back_after == 0;
            if (drop_silently)
                net.silence(i);
            else
                net.disconnect(i);
            return;
        }
        if (!spoil_at[i].empty() && shown >= spoil_at[i].back()) {
            c.spoil_for_test();
            ++spoiled[i];
            spoil_at[i].pop_back();
        }
    };
    // Long enough for the match, its drops and its end; most end sooner.
    const Micros limit = Micros{ticks_max != 0 ? ticks_max : 72'000} * 50'000 * 2 + 60'000'000;
    while (net.now() < limit) {
        net.run_until(net.now() + 1'000'000, frame);
        // Done when every client that stayed has the end and the room has
        // closed behind them.
        bool done = started && net.relay().rooms() == 0;
        for (std::uint32_t i = 0; i < net.size(); ++i)
            if (!gone[i] && net.client(i).phase() != ClientPhase::Ended) done = false;
        if (done) break;
    }
    // Every desync the relay finds is mended, unless its client drops
    // first: the relay's log says which.
    std::set<std::string> astray;
    for (const std::string& line : o.log) {
        const std::size_t of = line.find(" desync of ");
        if (of != std::string::npos) {
            const std::string who = line.substr(of + 11, line.find(')', of) - of - 10);
            if (line.find(" recovered ") != std::string::npos) {
                ++o.desyncs_mended;
                astray.erase(who);
            } else {
                ++o.desyncs_found;
                astray.insert(who);
            }
        }
        // (A client that came back is a new one: the old one's desync went with it.)
        for (const std::string_view gone_as : {" dropped ", " took back the seats of "}) {
            const std::size_t at = line.find(gone_as);
            if (at != std::string::npos)
                astray.erase(
                    line.substr(at + gone_as.size(), line.find(')', at) - at - gone_as.size() + 1));
        }
        const std::size_t at = line.find(" ended after ");
        if (at == std::string::npos) continue;
        o.ended = true;
        o.end_ticks = static_cast<std::uint32_t>(std::stoul(line.substr(at + 13)));
        o.end_hash = std::stoull(line.substr(line.find("hash ") + 5), nullptr, 16);
    }
    // (Nor can one be mended that went silent before the relay dropped it.)
    std::erase_if(astray, [&](const std::string& who) {
        for (std::uint32_t i = 0; i < clients; ++i)
            if (gone[i] && who.starts_with("P" + std::to_string(i) + " (")) return true;
        return false;
    });
    EXPECT_TRUE(astray.empty()) << "seed " << seed << ": " << *astray.begin();
    o.watched = spectator != SIZE_MAX;
    for (std::uint32_t i = 0; i < net.size(); ++i) {
        if (i < clients) o.recovered += recovered[i];
        if (i < clients && gone[i]) continue;
        // (One back after its room closed finds no match.)
        if (i == dropper && net.client(i).refused() == RefusedReason::NoRoom) continue;
        // (A spectator may have come too late for the match.)
        if (i == spectator && (!asked[i] || net.client(i).phase() == ClientPhase::Refused))
            continue;
        o.stayed += i < clients ? 1 : 0;
        if (i < clients) o.spoiled += spoiled[i];
        const OnlineClient& c = net.client(i);
        EXPECT_EQ(c.phase(), ClientPhase::Ended) << "seed " << seed << " client " << i;
        EXPECT_TRUE(c.end_matched()) << "seed " << seed << " client " << i;
        EXPECT_EQ(c.end_hash(), o.end_hash) << "seed " << seed << " client " << i;
        EXPECT_EQ(state_hash(c.shown()), o.end_hash) << "seed " << seed << " client " << i;
        // The confirmed inputs are the match: played again, they come to
        // the relay's end (this is the replay the game keeps).
        const std::vector<TickInput>& inputs = c.confirmed_inputs();
        EXPECT_EQ(inputs.size(), o.end_ticks) << "seed " << seed << " client " << i;
        Match again(c.shown().setup);
        for (const TickInput& input : inputs) again.advance(input);
        EXPECT_EQ(state_hash(again), o.end_hash) << "seed " << seed << " client " << i;
    }
    return o;
}

TEST(Rollback, EveryClientEndsWithTheRelaysHashAndEveryDesyncIsMended) {
    const std::uint64_t n = from_env("ZOBRA_NET_MATCHES", short_matches);
    const std::uint64_t ticks_max = from_env("ZOBRA_NET_TICKS", short_ticks);
    std::uint64_t spoiled = 0, found = 0, mended = 0, dropped = 0, ticks = 0, back = 0, watched = 0;
    Micros stalled = 0;
    const std::uint64_t first = from_env("ZOBRA_NET_FIRST", 1);
    for (std::uint64_t seed = first; seed < first + n; ++seed) {
        // Cut short at 300 to 900 ticks in the test run.
        const auto cap = static_cast<std::uint32_t>(
            ticks_max == 0 ? 0 : ticks_max / 2 + seed % 7 * ticks_max / 6);
        const Outcome o = play_match(seed, cap);
        ASSERT_TRUE(o.ended) << "seed " << seed;
        // Every client took the state as often as it was sent one.
        EXPECT_GE(o.recovered, o.desyncs_mended) << "seed " << seed;
        spoiled += o.spoiled;
        found += o.desyncs_found;
        mended += o.recovered;
        dropped += o.clients - o.stayed;
        back += o.came_back;
        watched += o.watched ? 1 : 0;
        ticks += o.end_ticks;
        stalled = std::max(stalled, o.stalled);
        if (::testing::Test::HasFailure()) {
            for (const std::string& line : o.log) std::printf("  %s\n", line.c_str());
            break;
        }
    }
    std::printf(
        "%llu matches, %llu ticks: %llu copies spoiled, %llu desyncs found, %llu states taken, "
        "%llu clients dropped, %llu came back, %llu watched, longest wait %llu ms\n",
        static_cast<unsigned long long>(n), static_cast<unsigned long long>(ticks),
        static_cast<unsigned long long>(spoiled), static_cast<unsigned long long>(found),
        static_cast<unsigned long long>(mended), static_cast<unsigned long long>(dropped),
        static_cast<unsigned long long>(back), static_cast<unsigned long long>(watched),
        static_cast<unsigned long long>(stalled / 1000));
}

}  // namespace
}  // namespace zobra::net
