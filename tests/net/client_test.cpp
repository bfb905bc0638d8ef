// The rollback client against a relay played by hand: its own input shows
// at once, the others' is foreseen and corrected, it plays no more than
// eight ticks past the confirmed one, every sound comes once, deaths only
// when confirmed, and a state from the relay mends a spoiled copy.

#include "net/client.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace zobra::net {
namespace {

constexpr Micros frame = 16'667;

// A client in a started duel: seat 0 is its own, seat 1 another person's,
// seats 2 and 3 the computer's. The test plays the relay.
struct Session {
    Session() : client("ANNA") {
        client.connected(0);
        take_out();
        give(Welcome{1});
        give(Started{setup, 0b0001});
    }
    void give(const Message& m) { client.received(encode(m), now); }
    std::vector<Message> take_out() {
        std::vector<Message> out;
        for (const ToRelay& m : client.outbox()) out.push_back(*decode(m.bytes));
        client.outbox().clear();
        return out;
    }
    // The client's own input for each tick it sent, from its Inputs.
    void collect() {
        for (const Message& m : take_out()) {
            const auto* in = std::get_if<Inputs>(&m);
            if (in == nullptr) continue;
            for (std::size_t i = 0; i < in->ticks.size(); ++i) {
                const std::size_t t = in->first + i;
                if (t >= own.size()) own.resize(t + 1);
                own[t] = in->ticks[i];
            }
        }
    }
    // Confirms ticks up to `upto`: the client's own input, and `other` for
    // seat 1.
    void confirm_upto(std::uint32_t upto, std::uint8_t other_nibble, bool other_confirm) {
        Confirmed c{confirmed, {}};
        for (; confirmed < upto && confirmed < own.size(); ++confirmed) {
            ConfirmedTick t;
            t.seats = static_cast<std::uint16_t>((own[confirmed] & 15u) | other_nibble << 4);
            t.confirm = other_confirm || (own[confirmed] & 0x100u) != 0;
            c.ticks.push_back(t);
            truth.push_back(tick_input(t));
        }
        if (!c.ticks.empty()) give(c);
    }
    ClientUpdate frame_with(DiggerInput mine) {
        now += frame;
        return client.update({mine, DiggerInput{}}, false, now);
    }

    MatchSetup setup{Mode::DuelSolo, Difficulty::Normal, 0, {}, 0b0011};
    OnlineClient client;
    Micros now = 0;
    std::vector<LocalInput> own;
    std::uint32_t confirmed = 0;
    std::vector<TickInput> truth;
};

TEST(Client, ItsOwnInputShowsOnTheNextTick) {
    Session s;
    const ClientUpdate u = s.frame_with(DiggerInput{false, Dir::Right});
    ASSERT_GE(u.ticks_run, 1u);
    EXPECT_EQ(s.client.shown().arena.diggers[0].facing, Dir::Right);
    s.collect();
    ASSERT_FALSE(s.own.empty());
    EXPECT_EQ(s.own[0], pack_seat(DiggerInput{false, Dir::Right}));
}

TEST(Client, ItPlaysNoMoreThanEightTicksAheadAndSaysForWhomItWaits) {
    Session s;
    ClientUpdate u;
    std::uint32_t shown = 0;
    for (int i = 0; i < 60; ++i) {
        u = s.frame_with({});
        shown += u.ticks_run;
    }
    EXPECT_EQ(shown, rollback_ticks_max);
    EXPECT_EQ(s.client.shown().ticks, rollback_ticks_max);
    // No answer to its pings: its own connection is what it waits for.
    EXPECT_EQ(u.waiting_for, 0b0001);
    s.give(Pong{static_cast<std::uint32_t>(s.now - 20'000), 900});
    u = s.frame_with({});
    EXPECT_EQ(u.waiting_for, 0b0010);
    // Confirmed ticks let it go on, as far as the clock has come.
    s.collect();
    s.confirm_upto(4, 0, false);
    u = s.frame_with({});
    EXPECT_EQ(u.ticks_run, 4u);
    EXPECT_EQ(s.client.shown().ticks, 4 + rollback_ticks_max);
}

// The reference: the match played on the confirmed inputs alone, with the
// events of each tick.
std::vector<std::vector<Event>> played(const MatchSetup& setup,
                                       const std::vector<TickInput>& inputs) {
    Match match(setup);
    std::vector<std::vector<Event>> events;
    for (const TickInput& input : inputs) events.push_back(match.advance(input).events);
    return events;
}

TEST(Client, RollbacksPlayEachSoundOnceAndDeathsOnlyOnceConfirmed) {
    // ANNA lights a charge and waits on it; the other person's input is a
    // confirm in every tick, which the client never foresees, so every
    // confirmed tick sends it back to play the ticks since again.
    Session s;
    std::vector<Event> sounds;
    std::vector<std::uint32_t> died_heard_at;  // confirmed ticks when a death was heard
    for (int f = 0; f < 400; ++f) {
        const ClientUpdate u = s.frame_with(DiggerInput{f == 0, std::nullopt});
        for (const Event e : u.sounds) {
            sounds.push_back(e);
            if (e == Event::DiggerDied) died_heard_at.push_back(s.confirmed);
        }
        s.collect();
        // Six ticks behind what the client has played.
        if (s.own.size() > 6) s.confirm_upto(static_cast<std::uint32_t>(s.own.size() - 6), 0, true);
    }
    const auto truth = played(s.setup, s.truth);
    std::vector<Event> expected;
    std::vector<std::uint32_t> died_at;
    for (std::size_t t = 0; t < truth.size(); ++t)
        for (const Event e : truth[t]) {
            expected.push_back(e);
            if (e == Event::DiggerDied) died_at.push_back(static_cast<std::uint32_t>(t) + 1);
        }
    ASSERT_FALSE(died_at.empty());  // the charge killed someone
    const auto count = [](const std::vector<Event>& list, Event e) {
        return std::count(list.begin(), list.end(), e);
    };
    // The foresight was wrong only in the confirms, which change nothing
    // while the round runs: so every sound is the match's own, once, however
    // often its tick was played again (and the bots light charges too).
    for (std::size_t k = 0; k < 16; ++k) {
        const auto e = static_cast<Event>(k);
        EXPECT_EQ(count(sounds, e), count(expected, e)) << "event " << k;
    }
    EXPECT_GE(count(expected, Event::ChargeLit), 1);
    // Each death was heard once its tick was confirmed, not before.
    ASSERT_EQ(died_heard_at.size(), died_at.size());
    for (std::size_t i = 0; i < died_at.size(); ++i) EXPECT_GE(died_heard_at[i], died_at[i]);
    // The shown copy is the confirmed match played on with the foresight.
    EXPECT_EQ(s.client.confirmed_inputs(), s.truth);
}

TEST(Client, TheShownMatchIsTheConfirmedOnePlayedOnWithWhatItForesees) {
    Session s;
    // The other person walks left and lights a charge at tick 3; the
    // client foresees neither until the ticks are confirmed.
    for (int f = 0; f < 30; ++f) {
        s.frame_with(DiggerInput{false, Dir::Down});
        s.collect();
    }
    const auto left = pack_seat(DiggerInput{false, Dir::Left});
    s.confirm_upto(3, left, false);
    s.confirm_upto(4, static_cast<std::uint8_t>(left | 8u), false);
    s.frame_with(DiggerInput{false, Dir::Down});
    s.collect();
    // What it should show: the confirmed ticks, then its own input and the
    // other's held direction (no charge).
    Match expected(s.setup);
    for (const TickInput& t : s.truth) expected.advance(t);
    for (std::size_t t = s.truth.size(); t < s.client.shown().ticks; ++t) {
        TickInput input;
        input.diggers[0] = *unpack_seat(static_cast<std::uint8_t>(s.own[t] & 15u));
        input.diggers[1] = DiggerInput{false, Dir::Left};
        expected.advance(input);
    }
    EXPECT_EQ(s.client.shown(), expected);
}

TEST(Client, TheRelaysStateMendsASpoiledCopy) {
    Session s;
    // Frames with idle input, every tick confirmed at once; the hashes the
    // client reports.
    const auto run = [&s](int frames) {
        std::vector<HashReport> reports;
        for (int f = 0; f < frames; ++f) {
            s.frame_with({});
            for (const Message& m : s.take_out())
                if (const auto* r = std::get_if<HashReport>(&m)) reports.push_back(*r);
            while (s.own.size() < s.client.shown().ticks) s.own.push_back(0);
            s.confirm_upto(static_cast<std::uint32_t>(s.own.size()), 0, false);
        }
        return reports;
    };
    const auto truth_at = [&s](std::uint32_t tick) {
        Match m(s.setup);
        for (std::uint32_t t = 0; t < tick; ++t) m.advance(s.truth[t]);
        return m;
    };
    run(40);
    s.client.spoil_for_test();
    const std::vector<HashReport> astray = run(40);
    ASSERT_FALSE(astray.empty());
    EXPECT_NE(astray.back().hash, state_hash(truth_at(astray.back().tick)));
    s.give(State{s.confirmed, encode_match(truth_at(s.confirmed))});
    EXPECT_TRUE(s.frame_with({}).recovered);
    const std::vector<HashReport> mended = run(40);
    ASSERT_FALSE(mended.empty());
    for (const HashReport& r : mended) EXPECT_EQ(r.hash, state_hash(truth_at(r.tick)));
    EXPECT_EQ(s.client.confirmed_inputs(), s.truth);
}

TEST(Client, TheEndComesWithTheRelaysHash) {
    Session s;
    for (int f = 0; f < 20; ++f) {
        s.frame_with({});
        s.collect();
        s.confirm_upto(static_cast<std::uint32_t>(s.own.size()), 0, false);
    }
    Match truth(s.setup);
    for (const TickInput& t : s.truth) truth.advance(t);
    s.give(Ended{s.confirmed, state_hash(truth)});
    EXPECT_EQ(s.client.phase(), ClientPhase::Ended);
    EXPECT_TRUE(s.client.end_matched());
    EXPECT_EQ(s.client.end_hash(), state_hash(truth));
    EXPECT_EQ(s.client.shown(), truth);
    s.client.lost(s.now);
    EXPECT_EQ(s.client.phase(), ClientPhase::Ended);  // the end stands
}

TEST(Client, TheLobbyFollowsTheRelay) {
    OnlineClient c("ZOE");
    c.connected(0);
    const auto hello = decode(c.outbox().at(0).bytes);
    EXPECT_EQ(std::get<Hello>(*hello), (Hello{protocol_version, rules_hash(), "ZOE"}));
    EXPECT_TRUE(c.outbox()[0].reliable);
    c.outbox().clear();
    c.open_room(1, Difficulty::Hard, 2);
    EXPECT_TRUE(c.outbox().empty());  // not welcomed yet
    c.received(encode(Welcome{4}), 0);
    EXPECT_EQ(c.phase(), ClientPhase::Welcomed);
    c.join_room(*parse_room_code("K7QX"), 1);
    EXPECT_EQ(std::get<JoinRoom>(*decode(c.outbox().back().bytes)).code, *parse_room_code("K7QX"));
    c.received(encode(Refused{RefusedReason::NoRoom}), 0);
    EXPECT_EQ(c.phase(), ClientPhase::Refused);
    EXPECT_EQ(c.refused(), RefusedReason::NoRoom);
    c.open_room(1, Difficulty::Hard, 2);
    Lobby lobby{*parse_room_code("AB23"), 1, Difficulty::Hard, 0b0011, true, {}};
    c.received(encode(lobby), 0);
    EXPECT_EQ(c.phase(), ClientPhase::InRoom);
    EXPECT_EQ(c.your_seats(), 0b0011);
    c.outbox().clear();
    c.start_match();
    EXPECT_TRUE(std::holds_alternative<StartMatch>(*decode(c.outbox().back().bytes)));
    c.received(encode(Refused{RefusedReason::NotAllowed}), 0);
    EXPECT_EQ(c.phase(), ClientPhase::InRoom);  // a refused request changes nothing here
    c.received(encode(Started{MatchSetup{Mode::DuelSolo, Difficulty::Hard, 1, {}, 0b0111}, 0b0011}),
               0);
    EXPECT_EQ(c.phase(), ClientPhase::Playing);
    c.received(std::vector<std::uint8_t>{0xFF, 0xFF}, 0);  // garbage changes nothing
    EXPECT_EQ(c.phase(), ClientPhase::Playing);
    c.leave();
    EXPECT_TRUE(std::holds_alternative<Leave>(*decode(c.outbox().back().bytes)));
    EXPECT_EQ(c.phase(), ClientPhase::Welcomed);
    c.lost(0);
    EXPECT_EQ(c.phase(), ClientPhase::Lost);
}

}  // namespace
}  // namespace zobra::net
