// The messages as a property: every message of every kind reads back as
// itself, and no cut, grown or changed byte string reads as anything but a
// whole valid message (which then writes back to the same bytes).

#include "net/protocol.h"

#include <gtest/gtest.h>

namespace zobra::net {
namespace {

std::vector<Message> one_of_each(Rng& rng) {
    auto code = [&] {
        RoomCode c{};
        for (char& ch : c) ch = room_code_letters[rng.below(room_code_letters.size())];
        return c;
    };
    Inputs inputs{rng.below(1000), rng.below(1000), {}};
    for (std::uint32_t i = rng.below(ticks_per_message + 1); i > 0; --i)
        inputs.ticks.push_back(static_cast<LocalInput>(rng.below(5) | rng.below(5) << 4 | 0x100));
    Confirmed confirmed{rng.below(1000), {}};
    for (std::uint32_t i = rng.below(ticks_per_message + 1); i > 0; --i)
        confirmed.ticks.push_back(ConfirmedTick{
            static_cast<std::uint16_t>(rng.below(5) << 8 | 0x8008), rng.below(2) == 0,
            static_cast<std::uint8_t>(rng.below(16)), static_cast<std::uint8_t>(rng.below(16))});
    Lobby lobby{code(), 3, Difficulty::Hard, 5, true, {}, 33};
    lobby.seats[2] = LobbySeat{true, "ANNA"};
    MatchSetup setup;
    setup.mode = Mode::DuelSolo;  // every duel between machines
    setup.place = 4;
    setup.seats = 0b1011;
    Match match(setup);
    match.advance(TickInput{});
    return {Hello{protocol_version, rules_hash(), "ZOE"},
            OpenRoom{static_cast<std::uint8_t>(rng.below(5)), Difficulty::Easy, 2},
            JoinRoom{code(), 1},
            QuickMatch{2},
            StartMatch{},
            inputs,
            HashReport{rng.below(99999), rng.next()},
            Leave{},
            Ping{rng.below(1u << 31)},
            Watch{code()},
            Rejoin{code(), rng.next()},
            Welcome{7, rng.next()},
            Refused{RefusedReason::RoomFull},
            lobby,
            Started{setup, 0b0010},
            confirmed,
            State{1, encode_match(match)},
            Ended{5000, rng.next()},
            Pong{1, 2}};
}

TEST(Protocol, EveryMessageReadsBackAsItselfAndNoBrokenBytesReadAsAnother) {
    Rng rng{arena_rng_start(42)};
    for (int round = 0; round < 200; ++round) {
        for (const Message& message : one_of_each(rng)) {
            const std::vector<std::uint8_t> bytes = encode(message);
            ASSERT_EQ(decode(bytes), message) << "type " << int(bytes[0]);
            std::vector<std::uint8_t> broken = bytes;
            switch (rng.below(3)) {
                case 0:
                    broken.resize(rng.below(static_cast<std::uint32_t>(bytes.size())));
                    break;
                case 1:
                    broken.push_back(static_cast<std::uint8_t>(rng.next()));
                    break;
                default:
                    broken[rng.below(static_cast<std::uint32_t>(bytes.size()))] ^=
                        static_cast<std::uint8_t>(1 + rng.below(255));
            }
            if (const auto read = decode(broken)) {
                EXPECT_EQ(encode(*read), broken);
            }
        }
    }
}

TEST(Protocol, RoomCodesLeaveOutTheLettersThatLookLikeDigits) {
    EXPECT_EQ(parse_room_code("k7qx"), (RoomCode{'K', '7', 'Q', 'X'}));
    for (const char* bad : {"K7Q", "K7QXX", "K0QX", "KOQX", "K1QX", "KIQX", "K-QX"})
        EXPECT_FALSE(parse_room_code(bad)) << bad;
}

}  // namespace
}  // namespace zobra::net
