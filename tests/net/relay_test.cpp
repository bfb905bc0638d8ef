// The relay's rules, message by message: hellos, rooms and their codes,
// seats, quick matches, the host's start, the match clock, late and missing
// inputs, drops, hashes, the end, and what it does with garbage and floods.

#include "net/relay.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace zobra::net {
namespace {

// A relay driven by hand: messages in, decoded messages out.
struct Script {
    explicit Script(RelayLimits limits = {}, std::uint64_t seed = 7)
        : relay(limits, seed, [this](std::string_view line) { log.emplace_back(line); }) {}

    bool connect(ClientId id, const std::string& name) {
        if (!relay.connected(id, now)) return false;
        send(id, Hello{protocol_version, rules_hash(), name});
        return true;
    }
    void send(ClientId id, const Message& m) { relay.received(id, encode(m), now); }
    void at(Micros t) {
        now = t;
        relay.advance(now);
    }
    // What the relay sent since the last call, decoded.
    std::vector<std::pair<ClientId, Message>> sent() {
        std::vector<std::pair<ClientId, Message>> out;
        for (const Outgoing& o : relay.outbox()) {
            out.emplace_back(o.to, *decode(o.bytes));
            if (const auto* w = std::get_if<Welcome>(&out.back().second)) tokens[o.to] = w->token;
        }
        relay.outbox().clear();
        return out;
    }
    // The messages of one kind to one client since the last call to `sent`.
    template <class T>
    std::vector<T> to(ClientId id) {
        std::vector<T> found;
        for (auto& [who, m] : sent())
            if (who == id && std::holds_alternative<T>(m)) found.push_back(std::get<T>(m));
        return found;
    }
    template <class T>
    T last_to(ClientId id) {
        const std::vector<T> all = to<T>(id);
        EXPECT_FALSE(all.empty());
        return all.empty() ? T{} : all.back();
    }
    bool logged(const std::string& part) const {
        for (const std::string& line : log)
            if (line.find(part) != std::string::npos) return true;
        return false;
    }

    Micros now = 0;
    std::vector<std::string> log;
    std::map<ClientId, std::uint64_t> tokens;  // from the welcomes
    Relay relay;
};

// Two people in a started room: ANNA (client 1, seat 0) hosts, BERT
// (client 2, seat 1) joined.
struct Duel : Script {
    explicit Duel(RelayLimits limits = {}) : Script(limits) {
        connect(1, "ANNA");
        connect(2, "BERT");
        send(1, OpenRoom{2, Difficulty::Hard, 1});
        code = last_to<Lobby>(1).code;
        send(2, JoinRoom{code, 1});
        send(1, StartMatch{});
        sent();
    }
    // Seat input for `ticks` ticks from `first` on, a held direction.
    void inputs(ClientId id, std::uint32_t confirmed, std::uint32_t first, std::uint32_t ticks,
                Dir dir = Dir::Right) {
        Inputs m{confirmed, first, {}};
        for (std::uint32_t i = 0; i < ticks; ++i) m.ticks.push_back(pack_seat({false, dir}));
        send(id, m);
    }
    RoomCode code{};
};

TEST(Relay, AHelloIsWelcomedAndOtherVersionsRulesAndGarbageAreShownTheDoor) {
    Script s;
    ASSERT_TRUE(s.connect(1, "ANNA"));
    EXPECT_EQ(s.last_to<Welcome>(1).client, 1u);

    struct Case {
        const char* what;
        std::vector<std::uint8_t> bytes;
        std::optional<RefusedReason> reason;
    };
    const std::vector<Case> cases = {
        {"another version", encode(Hello{protocol_version + 1, rules_hash(), "X"}),
         RefusedReason::OtherVersion},
        {"other rules", encode(Hello{protocol_version, rules_hash() ^ 1, "X"}),
         RefusedReason::OtherRules},
        {"garbage", {0xFF, 1, 2, 3}, std::nullopt},
        {"nothing", {}, std::nullopt},
        {"a room before the hello", encode(OpenRoom{}), std::nullopt},
        {"a relay's message", encode(Welcome{3}), std::nullopt},
    };
    ClientId id = 10;
    for (const Case& c : cases) {
        ++id;
        ASSERT_TRUE(s.relay.connected(id, s.now)) << c.what;
        s.relay.received(id, c.bytes, s.now);
        const auto refusals = s.to<Refused>(id);
        if (c.reason) {
            ASSERT_EQ(refusals.size(), 1u) << c.what;
            EXPECT_EQ(refusals[0].reason, *c.reason) << c.what;
        } else {
            EXPECT_TRUE(refusals.empty()) << c.what;
        }
        EXPECT_EQ(s.relay.to_close(), std::vector<ClientId>{id}) << c.what;
        s.relay.to_close().clear();
    }
    // Garbage after a good hello closes too; the others stay.
    s.relay.received(1, std::vector<std::uint8_t>{35, 0}, s.now);
    EXPECT_EQ(s.relay.to_close(), std::vector<ClientId>{1});
    EXPECT_EQ(s.relay.clients(), 0u);
}

TEST(Relay, AConnectionThatNeverSaysHelloIsClosed) {
    Script s;
    ASSERT_TRUE(s.relay.connected(5, 0));
    s.at(9'000'000);
    EXPECT_TRUE(s.relay.to_close().empty());
    s.at(s.relay.next_wakeup());
    EXPECT_EQ(s.relay.to_close(), std::vector<ClientId>{5});
}

TEST(Relay, RoomsHaveCodesAndSeatsGoInOrder) {
    Script s;
    s.connect(1, "ANNA");
    s.connect(2, "BERT");
    s.connect(3, "CARL");
    s.connect(4, "DORA");
    s.sent();
    s.send(1, OpenRoom{3, Difficulty::Easy, 2});
    const Lobby opened = s.last_to<Lobby>(1);
    EXPECT_TRUE(parse_room_code(room_code_text(opened.code)));
    EXPECT_TRUE(opened.host);
    EXPECT_EQ(opened.your_seats, 0b0011);
    EXPECT_EQ(opened.place, 3);
    EXPECT_EQ(opened.difficulty, Difficulty::Easy);
    EXPECT_TRUE(s.logged("room " + room_code_text(opened.code) + " opened by ANNA (client 1)"));

    // Joining by code: the next free seats.
    s.send(2, JoinRoom{opened.code, 1});
    const auto out = s.sent();
    std::uint32_t lobbies = 0;
    for (const auto& [to, m] : out) {
        const Lobby& l = std::get<Lobby>(m);
        ++lobbies;
        EXPECT_EQ(l.your_seats, to == 1 ? 0b0011 : 0b0100);
        EXPECT_EQ(l.host, to == 1);
        EXPECT_EQ(l.seats[2], (LobbySeat{true, "BERT"}));
        EXPECT_FALSE(l.seats[3].person);
    }
    EXPECT_EQ(lobbies, 2u);

    // Two more do not fit into one seat; one does.
    s.send(3, JoinRoom{opened.code, 2});
    EXPECT_EQ(s.last_to<Refused>(3).reason, RefusedReason::RoomFull);
    s.send(3, JoinRoom{*parse_room_code("ZZZZ"), 1});
    EXPECT_EQ(s.last_to<Refused>(3).reason, RefusedReason::NoRoom);
    s.send(3, JoinRoom{opened.code, 1});
    EXPECT_EQ(s.last_to<Lobby>(3).your_seats, 0b1000);
    s.send(4, JoinRoom{opened.code, 1});
    EXPECT_EQ(s.last_to<Refused>(4).reason, RefusedReason::RoomFull);

    // Only the host starts; the match has every person's seat.
    s.send(2, StartMatch{});
    EXPECT_EQ(s.last_to<Refused>(2).reason, RefusedReason::NotAllowed);
    s.send(2, OpenRoom{});
    EXPECT_EQ(s.last_to<Refused>(2).reason, RefusedReason::NotAllowed);
    s.send(1, StartMatch{});
    std::uint32_t started = 0;
    for (const auto& [to, m] : s.sent()) {
        const Started& st = std::get<Started>(m);
        ++started;
        EXPECT_EQ(st.setup.seats, 0b1111);
        EXPECT_EQ(st.setup.mode, Mode::DuelSolo);
        EXPECT_EQ(st.setup.place, 3);
        EXPECT_EQ(st.your_seats, to == 1 ? 0b0011 : to == 2 ? 0b0100 : 0b1000);
    }
    EXPECT_EQ(started, 3u);
    EXPECT_EQ(s.relay.matches(), 1u);
    s.send(4, JoinRoom{opened.code, 1});
    EXPECT_EQ(s.last_to<Refused>(4).reason, RefusedReason::RoomFull);
}

TEST(Relay, TheSameSeedGivesTheSameCodes) {
    std::vector<std::string> codes[2];
    for (auto& list : codes) {
        Script s({}, 99);
        for (ClientId id = 1; id <= 5; ++id) {
            s.connect(id, "P");
            s.send(id, OpenRoom{});
            list.push_back(room_code_text(s.last_to<Lobby>(id).code));
        }
    }
    EXPECT_EQ(codes[0], codes[1]);
    EXPECT_NE(codes[0][0], codes[0][1]);
}

TEST(Relay, TheHostsSeatPassesOnAndAnEmptyRoomCloses) {
    Script s;
    s.connect(1, "ANNA");
    s.connect(2, "BERT");
    s.send(1, OpenRoom{});
    const RoomCode code = s.last_to<Lobby>(1).code;
    s.send(2, JoinRoom{code, 1});
    s.sent();
    s.send(1, Leave{});
    const Lobby after = s.last_to<Lobby>(2);
    EXPECT_TRUE(after.host);
    EXPECT_FALSE(after.seats[0].person);  // seat 0 is free again
    s.relay.disconnected(2, s.now);
    EXPECT_EQ(s.relay.rooms(), 0u);
    EXPECT_TRUE(s.logged("room " + room_code_text(code) + " closed"));
}

TEST(Relay, AQuickMatchStartsAsSoonAsTwoMachinesWait) {
    Script s;
    for (ClientId id = 1; id <= 3; ++id) s.connect(id, "P" + std::to_string(id));
    s.sent();
    s.send(1, QuickMatch{2});
    EXPECT_EQ(s.last_to<Lobby>(1).your_seats, 0b0011);
    EXPECT_EQ(s.relay.matches(), 0u);
    s.send(2, QuickMatch{1});
    const auto started = s.to<Started>(2);
    ASSERT_EQ(started.size(), 1u);
    EXPECT_EQ(started[0].setup.seats, 0b0111);
    EXPECT_EQ(started[0].your_seats, 0b0100);
    s.send(3, QuickMatch{1});
    EXPECT_EQ(s.relay.rooms(), 2u);
    EXPECT_EQ(s.relay.matches(), 1u);
}

TEST(Relay, TheLimitsOnRoomsAndClientsHold) {
    RelayLimits limits;
    limits.clients_max = 3;
    limits.rooms_max = 2;
    limits.lobby_idle = 1'000'000;
    Script s(limits);
    for (ClientId id = 1; id <= 3; ++id) ASSERT_TRUE(s.connect(id, "P"));
    EXPECT_FALSE(s.relay.connected(4, s.now));
    s.send(1, OpenRoom{});
    s.send(2, OpenRoom{});
    s.sent();
    s.send(3, OpenRoom{});
    EXPECT_EQ(s.last_to<Refused>(3).reason, RefusedReason::RelayFull);
    // A room nobody starts closes, and says so.
    s.at(s.relay.next_wakeup());
    EXPECT_EQ(s.relay.rooms(), 0u);
    EXPECT_EQ(s.last_to<Refused>(1).reason, RefusedReason::NoRoom);
}

TEST(Relay, AFloodOfRequestsClosesTheFlooderOnly) {
    Duel d;
    d.connect(3, "FLOOD");
    for (int i = 0; i < 1000; ++i) d.send(3, JoinRoom{d.code, 1});
    EXPECT_EQ(d.relay.to_close(), std::vector<ClientId>{3});
    std::size_t pongs = 0;
    for (int i = 0; i < 1000; ++i) d.send(1, Ping{1});
    for (const auto& [to, m] : d.sent()) pongs += to == 1 && std::holds_alternative<Pong>(m);
    EXPECT_LE(pongs, 64u);  // bounded, and the client stays
    EXPECT_EQ(d.relay.matches(), 1u);
}

TEST(Relay, AThousandConnectionsAtOnceLeaveARunningMatchAlone) {
    Duel d;
    Rng rng{arena_rng_start(3)};
    for (ClientId id = 100; id < 1100; ++id) {
        ASSERT_TRUE(d.relay.connected(id, d.now));
        std::vector<std::uint8_t> bytes = encode(Hello{protocol_version, rules_hash(), "X"});
        switch (id % 4) {
            case 0:  // garbage
                for (std::uint8_t& b : bytes) b = static_cast<std::uint8_t>(rng.next());
                break;
            case 1:  // cut short
                bytes.resize(rng.below(static_cast<std::uint32_t>(bytes.size())));
                break;
            case 2:  // another's room, another's seat
                d.relay.received(id, bytes, d.now);
                bytes = encode(JoinRoom{d.code, 2});
                break;
            default:  // inputs for the running match from a stranger
                d.relay.received(id, bytes, d.now);
                bytes = encode(Inputs{0, 0, {pack_seat({true, Dir::Up})}});
        }
        d.relay.received(id, bytes, d.now);
    }
    // Garbage and cut hellos are shown the door; the others stay, roomless.
    EXPECT_EQ(d.relay.to_close().size(), 500u);
    EXPECT_EQ(d.relay.clients(), 2u + 500u);
    EXPECT_EQ(d.relay.rooms(), 1u);
    EXPECT_EQ(d.relay.matches(), 1u);
    d.sent();
    // The match goes on untouched: tick 0 is the two players' own.
    d.inputs(1, 0, 0, 1);
    d.inputs(2, 0, 0, 1, Dir::Left);
    const TickInput t = tick_input(d.last_to<Confirmed>(1).ticks.at(0));
    EXPECT_EQ(t.diggers[0], (DiggerInput{false, Dir::Right}));
    EXPECT_EQ(t.diggers[1], (DiggerInput{false, Dir::Left}));
}

TEST(Relay, TicksAreConfirmedWhenEveryInputIsIn) {
    Duel d;
    d.inputs(1, 0, 0, 3);
    EXPECT_TRUE(d.to<Confirmed>(1).empty());
    d.inputs(2, 0, 0, 2, Dir::Up);
    const Confirmed c = d.last_to<Confirmed>(1);
    ASSERT_EQ(c.ticks.size(), 2u);
    EXPECT_EQ(c.first, 0u);
    const TickInput t = tick_input(c.ticks[1]);
    EXPECT_EQ(t.diggers[0].dir, Dir::Right);
    EXPECT_EQ(t.diggers[1].dir, Dir::Up);
    EXPECT_FALSE(t.diggers[2].dir);  // the computer's seat
    EXPECT_EQ(c.ticks[1].late, 0);

    // Confirmed ticks go out again until acknowledged, at most a few
    // unless the acknowledgement stands still.
    d.inputs(2, 0, 2, 1, Dir::Up);
    const Confirmed again = d.last_to<Confirmed>(2);
    EXPECT_EQ(again.first, 0u);
    EXPECT_EQ(again.ticks.size(), 3u);
    d.inputs(1, 3, 3, 1);
    d.inputs(2, 3, 3, 1);
    EXPECT_EQ(d.last_to<Confirmed>(1).first, 3u);
}

TEST(Relay, ALateInputIsHeldAndSaidToBeLate) {
    Duel d;
    d.inputs(1, 0, 0, 1);
    d.inputs(2, 0, 0, 1, Dir::Down);
    d.sent();
    d.inputs(1, 1, 1, 4);
    d.at(50'000 + 149'000);
    EXPECT_TRUE(d.to<Confirmed>(1).empty());
    d.at(50'000 + 150'000);
    const Confirmed c = d.last_to<Confirmed>(1);
    ASSERT_EQ(c.ticks.size(), 1u);
    EXPECT_EQ(c.ticks[0].late, 0b0010);
    EXPECT_EQ(tick_input(c.ticks[0]).diggers[1].dir, Dir::Down);  // held
    // The input that comes after all is not taken.
    d.inputs(2, 1, 1, 1, Dir::Left);
    d.sent();
    d.inputs(2, 1, 2, 1, Dir::Left);
    EXPECT_EQ(tick_input(d.last_to<Confirmed>(2).ticks.back()).diggers[1].dir, Dir::Left);
}

TEST(Relay, APlayerWhoGoesIsReplacedByTheComputerAndTheMatchGoesOn) {
    Duel d;
    d.inputs(1, 0, 0, 2);
    d.inputs(2, 0, 0, 1);
    d.send(2, Leave{});
    EXPECT_TRUE(d.logged("dropped BERT (client 2) at tick 1: left"));
    const Confirmed c = d.last_to<Confirmed>(1);
    EXPECT_EQ(c.ticks.back().to_computer, 0b0010);
    // From then on nobody waits for seat 1.
    d.inputs(1, 2, 2, 1);
    EXPECT_EQ(d.last_to<Confirmed>(1).ticks.back().to_computer, 0);
    // Quiet too long: dropped, and with the last person the room goes.
    d.at(d.relay.next_wakeup());
    while (d.relay.rooms() > 0 && d.now < 10'000'000) d.at(d.relay.next_wakeup());
    EXPECT_EQ(d.relay.to_close(), std::vector<ClientId>{1});
    EXPECT_TRUE(d.logged("dropped ANNA (client 1) at tick"));
    EXPECT_EQ(d.relay.rooms(), 0u);
}

// A lost connection's seats wait for the drop time: its input is held, and
// a new connection with the old one's token takes them back; a wrong token
// only watches, and after the drop time the computer has them.
TEST(Relay, ALostConnectionComesBackIntoItsSeatsWithinTheDropTime) {
    for (const bool in_time : {true, false}) {
        SCOPED_TRACE(in_time ? "back in time" : "too late");
        Duel d;
        d.connect(3, "BERT");
        d.connect(4, "EVE");
        d.sent();
        d.inputs(1, 0, 0, 3);
        d.inputs(2, 0, 0, 1, Dir::Down);
        d.relay.disconnected(2, d.now);
        EXPECT_TRUE(d.logged("lost the connection of BERT (client 2) at tick 1"));
        d.at(1'000'000);
        const Confirmed held = d.last_to<Confirmed>(1);
        EXPECT_NE(held.ticks.back().late & 0b0010, 0);
        EXPECT_EQ(held.ticks.back().to_computer, 0);
        if (!in_time) {
            d.now = 2'900'000;
            d.send(1, Ping{1});
            d.at(3'100'000);
        }
        d.send(4, Rejoin{d.code, 12345});
        d.send(3, Rejoin{d.code, d.tokens.at(2)});
        const auto out = d.sent();
        std::uint8_t eve = 0xFF, bert = 0xFF;
        for (const auto& [to, m] : out)
            if (const auto* s = std::get_if<Started>(&m)) (to == 4 ? eve : bert) = s->your_seats;
        EXPECT_EQ(eve, 0) << "a wrong token watches";
        EXPECT_EQ(bert, in_time ? 0b0010 : 0);
        EXPECT_EQ(d.logged("took back the seats of BERT (client 2)"), in_time);
        EXPECT_EQ(d.logged("dropped BERT (client 2)"), !in_time);
        // Back in time, its input counts again.
        d.inputs(1, 0, 3, 60);
        d.inputs(3, 0, 0, 60, Dir::Up);
        const Confirmed next = d.last_to<Confirmed>(1);
        EXPECT_EQ(tick_input(next.ticks.back()).diggers[1].dir,
                  in_time ? std::optional<Dir>(Dir::Up) : std::nullopt);
    }
}

// Spectators come at any moment, get every tick from the start (several
// messages at once while they are far behind), are never waited for, and a
// room takes 64 of them.
TEST(Relay, SpectatorsWatchFromTheStartWithoutSlowingThePlayers) {
    Duel d;
    for (std::uint32_t t = 0; t < 1200; t += 60) {
        d.inputs(1, t, t, 60);
        d.inputs(2, t, t, 60);
    }
    ASSERT_GE(d.last_to<Confirmed>(1).first, 1100u);
    for (ClientId id = 10; id < 10 + 65; ++id) {
        d.connect(id, "W");
        d.send(id, Watch{d.code});
    }
    d.at(d.now);  // the lobby goes out once for all of them
    std::size_t started = 0, refused = 0, watchers_told = 0;
    for (const auto& [to, m] : d.sent()) {
        started += std::holds_alternative<Started>(m) && std::get<Started>(m).your_seats == 0;
        refused += std::holds_alternative<Refused>(m) &&
                   std::get<Refused>(m).reason == RefusedReason::RoomFull;
        if (to == 1 && std::holds_alternative<Lobby>(m))
            watchers_told = std::get<Lobby>(m).watchers;
    }
    EXPECT_EQ(started, 64u);
    EXPECT_EQ(refused, 1u);
    EXPECT_EQ(watchers_told, 64u);
    // A spectator's acknowledgement brings a burst from the first tick.
    d.at(d.now + 100'000);
    d.send(10, Inputs{0, 0, {}});
    std::vector<Confirmed> burst = d.to<Confirmed>(10);
    ASSERT_EQ(burst.size(), 16u);
    EXPECT_EQ(burst[0].first, 0u);
    EXPECT_EQ(burst[15].first, 15 * ticks_per_message);
    // Half of it taken: the next burst, where the last ended.
    d.send(10, Inputs{8 * ticks_per_message, 0, {}});
    burst = d.to<Confirmed>(10);
    ASSERT_FALSE(burst.empty());
    EXPECT_EQ(burst[0].first, 16 * ticks_per_message);
    // The players' ticks are confirmed as soon as theirs are in.
    d.inputs(1, 1200, 1200, 1);
    d.inputs(2, 1200, 1200, 1);
    const Confirmed c = d.last_to<Confirmed>(1);
    EXPECT_EQ(c.first + c.ticks.size(), 1201u);
}

TEST(Relay, PingsAreAnsweredWithTheMatchClock) {
    Duel d;
    d.now = 1'234'567;
    d.send(1, Ping{77});
    const Pong p = d.last_to<Pong>(1);
    EXPECT_EQ(p.echo, 77u);
    EXPECT_EQ(p.match_ms, 1234u);
}

TEST(Relay, AHashThatDiffersGetsTheStateAndAMatchingOneIsRecovered) {
    Duel d;
    Match own(MatchSetup{Mode::DuelSolo, Difficulty::Hard, 2, {}, 0b0011});
    for (std::uint32_t t = 0; t < 20; ++t) {
        d.inputs(1, t, t, 1);
        d.inputs(2, t, t, 1);
        TickInput input;
        input.diggers[0].dir = input.diggers[1].dir = Dir::Right;
        own.advance(input);
    }
    d.sent();
    d.send(1, HashReport{20, state_hash(own)});
    EXPECT_TRUE(d.to<State>(1).empty());
    d.send(2, HashReport{20, state_hash(own) ^ 1});
    const State st = d.last_to<State>(2);
    EXPECT_EQ(st.tick, 20u);
    EXPECT_EQ(decode_match(st.match), own);
    EXPECT_TRUE(d.logged("desync of BERT (client 2) at tick 20: state of tick 20 sent"));
    d.send(2, HashReport{20, state_hash(own)});
    EXPECT_TRUE(d.logged("desync of BERT (client 2) recovered"));
}

TEST(Relay, TheMatchEndsAtItsLimitWithItsHash) {
    RelayLimits limits;
    limits.match_ticks_max = 5;
    Duel d(limits);
    d.inputs(1, 0, 0, 5);
    d.inputs(2, 0, 0, 5);
    const Ended e = d.last_to<Ended>(1);
    EXPECT_EQ(e.ticks, 5u);
    EXPECT_TRUE(d.logged("ended after 5 ticks"));
    EXPECT_EQ(d.relay.matches(), 0u);
    // The room waits for both to have every tick and to say they came to
    // the end's hash, then closes.
    d.inputs(1, 5, 5, 0);
    d.inputs(2, 5, 5, 0);
    d.send(1, HashReport{5, e.hash});
    d.at(d.relay.next_wakeup());
    EXPECT_EQ(d.relay.rooms(), 1u);
    d.send(2, HashReport{5, e.hash});
    d.at(d.relay.next_wakeup());
    EXPECT_EQ(d.relay.rooms(), 0u);
}

}  // namespace
}  // namespace zobra::net
