// Two sessions meet through a relay held in memory, driven frame by frame
// the way the shell drives them: the online screen's keys and pads, a room
// opened and joined by its code, a whole match to the relay's end, a third
// session that follows a link into the room as a spectator halfway through,
// and the replay each machine keeps of it.

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "core/replay.h"
#include "game/session.h"
#include "net/relay.h"

namespace zobra {
namespace {

constexpr net::Micros frame_us = 16'667;

// A relay and the sessions' connections to it, delivering every message at
// once and in order.
struct Wires {
    net::Relay relay{net::RelayLimits{}, 7, [](std::string_view) {}};
    std::vector<Session*> connected;  // by client number - 1
    net::Micros now = 1'000'000;

    void pump() {
        for (std::size_t i = 0; i < connected.size(); ++i) {
            net::OnlineClient* client = connected[i] ? connected[i]->online.client.get() : nullptr;
            if (!client) continue;
            for (const net::ToRelay& m : client->outbox())
                relay.received(static_cast<net::ClientId>(i + 1), m.bytes, now);
            client->outbox().clear();
        }
        relay.advance(now);
        for (const net::Outgoing& m : relay.outbox()) {
            Session* to = connected[m.to - 1];
            if (to && to->online.client) to->online.client->received(m.bytes, now);
        }
        relay.outbox().clear();
    }

    // One frame of a session; a connection it asks for is made at once.
    FrameOutcome frame(Session& session, FrameInput input) {
        input.clock_us = now;
        pump();
        FrameOutcome out = session.update(input, 1.0f / 60.0f);
        if (out.relay) {
            connected.push_back(&session);
            relay.connected(static_cast<net::ClientId>(connected.size()), now);
            session.online.client->connected(now);
        }
        return out;
    }
};

FrameInput with(const std::function<void(FrameInput&)>& set) {
    FrameInput input;
    set(input);
    return input;
}
const FrameInput online_key = with([](FrameInput& f) { f.online = true; });
const FrameInput enter = with([](FrameInput& f) { f.confirm = f.confirm_typing = true; });
FrameInput pad(Dir dir) {
    return with([dir](FrameInput& f) { f.pressed_dir[0] = dir; });
}
FrameInput typed(std::string text) {
    return with([&text](FrameInput& f) { f.typed = text; });
}

TEST(Online, TwoMachinesMeetByCodeAndPlayAWholeDuelToTheRelaysEndHashAndAThirdWatches) {
    Wires wires;
    Session host{Progress{}};
    Session guest{Progress{}};
    Session watcher{Progress{}};

    // The host opens a room for place 3 (two steps right on the place row).
    wires.frame(host, online_key);
    for (const Dir d : {Dir::Down, Dir::Down, Dir::Down, Dir::Down, Dir::Down, Dir::Right,
                        Dir::Right, Dir::Up, Dir::Up, Dir::Up, Dir::Up, Dir::Up})
        wires.frame(host, pad(d));
    EXPECT_EQ(host.online.place, 2);
    const FrameOutcome opened = wires.frame(host, enter);
    ASSERT_TRUE(opened.relay);
    EXPECT_TRUE(opened.relay->host_here);
    for (int i = 0; i < 10 && host.online.step != OnlineStep::Room; ++i) wires.frame(host, {});
    ASSERT_EQ(host.online.step, OnlineStep::Room);
    const std::string code = net::room_code_text(host.online.client->lobby()->code);

    // The guest types the address with the keyboard and the code with a pad:
    // each letter stepped to from the first, right for the next one.
    wires.frame(guest, online_key);
    wires.frame(guest, pad(Dir::Down));
    wires.frame(guest, enter);
    wires.frame(guest, typed("127.0.0.*1"));  // * is no address letter
    EXPECT_EQ(guest.online.address, "127.0.0.1");
    wires.frame(guest, enter);
    for (std::size_t i = 0; i < code.size(); ++i) {
        wires.frame(guest, pad(Dir::Right));
        for (std::size_t k = net::room_code_letters.find(code[i]); k > 0; --k)
            wires.frame(guest, pad(Dir::Down));
    }
    ASSERT_EQ(guest.online.code, code);
    const FrameOutcome joined = wires.frame(guest, enter);
    ASSERT_TRUE(joined.relay);
    EXPECT_EQ(joined.relay->address, "127.0.0.1");
    for (int i = 0; i < 10 && guest.online.step != OnlineStep::Room; ++i) wires.frame(guest, {});
    ASSERT_EQ(guest.online.step, OnlineStep::Room);
    EXPECT_FALSE(guest.online.client->lobby()->host);

    // The host starts; the guest walks right, the host holds still, and
    // both confirm every end. The match runs until both have its result.
    wires.frame(host, enter);
    std::vector<std::string> logs;
    std::vector<FinishedReplay> replays;
    for (int frame = 0; frame < 600'000; ++frame) {
        wires.now += frame_us;
        if (frame == 3000) {
            ASSERT_TRUE(open_online_link(watcher.online, false, code));
        }
        for (Session* s : {&host, &guest, &watcher}) {
            if (s->screen == Screen::Online && s->online.step == OnlineStep::Result) continue;
            FrameInput input;
            if (s == &guest) input.held_dir[0] = frame % 400 < 200 ? Dir::Right : Dir::Down;
            input.drop[0] = s == &guest && frame % 97 == 0;
            input.confirm = frame % 30 == 0;
            FrameOutcome out = wires.frame(*s, input);
            if (out.log_line) logs.push_back(*out.log_line);
            for (FinishedReplay& r : out.replays) replays.push_back(std::move(r));
        }
        if (host.online.step == OnlineStep::Result && guest.online.step == OnlineStep::Result &&
            watcher.online.step == OnlineStep::Result)
            break;
    }
    ASSERT_EQ(host.screen, Screen::Online);
    ASSERT_EQ(guest.screen, Screen::Online);
    EXPECT_EQ(host.online.message, guest.online.message);
    EXPECT_EQ(watcher.online.message, host.online.message);
    std::size_t matched = 0;
    for (const std::string& line : logs) matched += line.ends_with("(matched)") ? 1 : 0;
    EXPECT_EQ(matched, 3u);
    EXPECT_NE(std::find(logs.begin(), logs.end(), "watching the online match in room " + code),
              logs.end());

    // All three kept the same match, which plays again to the same end.
    ASSERT_EQ(replays.size(), 3u);
    for (const FinishedReplay& r : replays) {
        auto decoded = decode_replay(r.bytes);
        ASSERT_TRUE(std::holds_alternative<Replay>(decoded));
        const Replay& replay = std::get<Replay>(decoded);
        EXPECT_EQ(replay.setup.seats, 0b0011);
        EXPECT_EQ(replay.setup.place, 2);
        EXPECT_TRUE(check_replay(replay).matched);
        EXPECT_EQ(replay.end_hash, std::get<Replay>(decode_replay(replays[0].bytes)).end_hash);
    }
}

}  // namespace
}  // namespace zobra
