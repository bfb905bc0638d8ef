#pragma once
// The messages between the game and the relay, and their bytes. Every
// message is one datagram: a type byte, then its fields, little-endian and
// fixed-width, texts as a length byte and bytes. A decoder checks every
// length and range and gives nothing for bytes that are not a whole valid
// message of its kind; nothing here trusts the other side.
//
// The relay runs the match's clock: tick t of a match falls due t ticks
// after its start. Each client sends the input of its own seats for the
// ticks it has played, again and again until the relay has confirmed them;
// the relay confirms each tick's input of every seat (an input that comes
// too late is replaced by the seat's last one, and the tick says so) and
// sends the confirmed ticks on to everyone from the first one each client
// still lacks.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "core/match.h"

namespace zobra::net {

inline constexpr std::uint32_t protocol_version = 2;
inline constexpr std::size_t name_size_max = 16;      // bytes of a player's name
inline constexpr std::size_t ticks_per_message = 64;  // input or confirmed ticks in one message
inline constexpr std::size_t state_size_max = 32u << 10;
inline constexpr std::size_t message_size_max = state_size_max + 16;
inline constexpr std::uint8_t local_seats_max = 2;  // people on one machine

// A room's name: four characters from `room_code_letters`, which leave out
// 0, O, 1 and I so that a code read aloud or off a screen is typed right.
using RoomCode = std::array<char, 4>;
inline constexpr std::string_view room_code_letters = "ABCDEFGHJKLMNPQRSTUVWXYZ23456789";
// The code in capitals, if `text` is one (small letters are taken as capitals).
std::optional<RoomCode> parse_room_code(std::string_view text);
std::string room_code_text(const RoomCode& code);

// ---------------------------------------------------------------------------
// From a client to the relay.

// The first message on a connection. The relay refuses another protocol or
// other rules.
struct Hello {
    std::uint32_t version = protocol_version;
    std::uint64_t rules = 0;  // `rules_hash()`
    std::string name;         // the player's, at most `name_size_max` bytes
    friend bool operator==(const Hello&, const Hello&) = default;
};

// Opens a room with this client as its host: the duel place and difficulty,
// and how many people play on this machine (1 or 2).
struct OpenRoom {
    std::uint8_t place = 0;
    Difficulty difficulty = Difficulty::Normal;
    std::uint8_t players = 1;
    friend bool operator==(const OpenRoom&, const OpenRoom&) = default;
};

struct JoinRoom {
    RoomCode code{};
    std::uint8_t players = 1;
    friend bool operator==(const JoinRoom&, const JoinRoom&) = default;
};

// Into a room with whoever else asked, started as soon as two machines wait.
struct QuickMatch {
    std::uint8_t players = 1;
    friend bool operator==(const QuickMatch&, const QuickMatch&) = default;
};

// The host starts the match; the seats nobody took are the computer's.
struct StartMatch {
    friend bool operator==(const StartMatch&, const StartMatch&) = default;
};

// One tick of a client's own seats: a nibble per local seat (the first in
// bits 0-3) and the confirm flag as bit 8.
using LocalInput = std::uint16_t;

// The client's input from tick `first` on, and the ticks it has confirmed
// so far (`confirmed`: it holds ticks 0 … confirmed - 1).
struct Inputs {
    std::uint32_t confirmed = 0;
    std::uint32_t first = 0;
    std::vector<LocalInput> ticks;  // at most `ticks_per_message`
    friend bool operator==(const Inputs&, const Inputs&) = default;
};

// The client's state hash after `tick` ticks.
struct HashReport {
    std::uint32_t tick = 0;
    std::uint64_t hash = 0;
    friend bool operator==(const HashReport&, const HashReport&) = default;
};

struct Leave {
    friend bool operator==(const Leave&, const Leave&) = default;
};

// Asks for the relay's clock; `sent` is the client's own, echoed back.
struct Ping {
    std::uint32_t sent = 0;
    friend bool operator==(const Ping&, const Ping&) = default;
};

// Into a room as a spectator, at any moment: the relay sends the room as it
// stands, and once the match runs, every confirmed tick from its start.
struct Watch {
    RoomCode code{};
    friend bool operator==(const Watch&, const Watch&) = default;
};

// Back into a match after the connection was lost: the seats the client
// held under `token` (its welcome's), if the computer has not taken them
// yet; else the client watches.
struct Rejoin {
    RoomCode code{};
    std::uint64_t token = 0;
    friend bool operator==(const Rejoin&, const Rejoin&) = default;
};

// ---------------------------------------------------------------------------
// From the relay to a client.

// `token` is the connection's secret, to rejoin its seats if it is lost.
struct Welcome {
    std::uint32_t client = 0;  // the relay's number for this connection
    std::uint64_t token = 0;
    friend bool operator==(const Welcome&, const Welcome&) = default;
};

enum class RefusedReason : std::uint8_t {
    OtherVersion = 1,  // another protocol version
    OtherRules = 2,    // another game's rules
    NoRoom = 3,        // no room has that code
    RoomFull = 4,      // the room has no free seat, or has started
    RelayFull = 5,     // the relay holds as many rooms or clients as it may
    NotAllowed = 6,    // the message does not fit the client's state
};

struct Refused {
    RefusedReason reason = RefusedReason::NotAllowed;
    friend bool operator==(const Refused&, const Refused&) = default;
};

// A seat in a room before the match: empty (the computer's) or a person's.
struct LobbySeat {
    bool person = false;
    std::string name;
    friend bool operator==(const LobbySeat&, const LobbySeat&) = default;
};

// The room as it stands, sent to everyone in it whenever it changes.
struct Lobby {
    RoomCode code{};
    std::uint8_t place = 0;
    Difficulty difficulty = Difficulty::Normal;
    std::uint8_t your_seats = 0;  // bit i: seat i is this client's
    bool host = false;            // this client may start the match
    std::array<LobbySeat, max_seats> seats{};
    std::uint8_t watchers = 0;  // spectators in the room
    friend bool operator==(const Lobby&, const Lobby&) = default;
};

// The match begins: its setup (with the people's seats) and this client's
// seats (none for a spectator). The relay's clock for the match starts when
// it sends this; a client joining later is sent it again.
struct Started {
    MatchSetup setup;
    std::uint8_t your_seats = 0;
    friend bool operator==(const Started&, const Started&) = default;
};

// One confirmed tick: every seat's nibble (seat i in bits 4i …), the
// confirm flag, the seats the computer takes over from this tick, and the
// seats whose input came too late and was held from the tick before.
struct ConfirmedTick {
    std::uint16_t seats = 0;
    bool confirm = false;
    std::uint8_t to_computer = 0;
    std::uint8_t late = 0;
    friend bool operator==(const ConfirmedTick&, const ConfirmedTick&) = default;
};

struct Confirmed {
    std::uint32_t first = 0;           // the tick of ticks[0]
    std::vector<ConfirmedTick> ticks;  // at most `ticks_per_message`
    friend bool operator==(const Confirmed&, const Confirmed&) = default;
};

// The match's state after `tick` ticks (`encode_match`), sent to a client
// whose hash differed from the relay's.
struct State {
    std::uint32_t tick = 0;
    std::vector<std::uint8_t> match;
    friend bool operator==(const State&, const State&) = default;
};

// The match is over after `ticks` ticks, with this end hash.
struct Ended {
    std::uint32_t ticks = 0;
    std::uint64_t hash = 0;
    friend bool operator==(const Ended&, const Ended&) = default;
};

// The answer to a ping: the client's time echoed, and the relay's match
// clock in milliseconds (0 before a match).
struct Pong {
    std::uint32_t echo = 0;
    std::uint32_t match_ms = 0;
    friend bool operator==(const Pong&, const Pong&) = default;
};

using Message =
    std::variant<Hello, OpenRoom, JoinRoom, QuickMatch, StartMatch, Inputs, HashReport, Leave, Ping,
                 Watch, Rejoin, Welcome, Refused, Lobby, Started, Confirmed, State, Ended, Pong>;

// A message's bytes; a decoded message, or nothing if the bytes are not
// exactly one valid message.
std::vector<std::uint8_t> encode(const Message& message);
std::optional<Message> decode(std::span<const std::uint8_t> bytes);

// Conversions between a confirmed tick and the match's input.
TickInput tick_input(const ConfirmedTick& tick);
ConfirmedTick confirmed_tick(const TickInput& input, std::uint8_t late);

}  // namespace zobra::net
