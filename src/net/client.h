#pragma once
// A player's side of a duel between machines, without sockets: the lobby
// (open, join, quick match, start) and the match with rollback. The local
// seats' input shows on the next tick; the other seats' input is predicted
// (a held direction goes on, a charge is never foreseen) until the relay's
// confirmed ticks come, and then the ticks since the last confirmed one are
// played again. The client keeps its clock within a tick of the relay's and
// plays at most `rollback_ticks_max` ticks ahead of what is confirmed;
// beyond that it waits, and says for whom.
//
// A spectator has no seats: it plays the confirmed ticks as they come, from
// the match's start (at once, without showing them, when it came late), and
// shows the match a second behind the relay's clock.
//
// The transport calls `connected` once the connection stands, hands over
// every message with `received`, and sends what `outbox` holds.

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/match.h"
#include "net/protocol.h"
#include "net/relay.h"

namespace zobra::net {

inline constexpr std::uint32_t rollback_ticks_max = 8;  // 400 ms

enum class ClientPhase : std::uint8_t {
    Connecting,  // waiting for the relay's welcome
    Welcomed,    // connected, in no room yet
    InRoom,      // in a room, its lobby known
    Playing,     // the match runs
    // The connection was lost during the match: the transport connects
    // again, and the client greets the relay and takes its seats back (or
    // watches, if the computer has them by then). It gives up after the
    // relay's drop time and is Lost.
    Reconnecting,
    Ended,    // the relay said the match is over
    Refused,  // the relay refused a hello, a room or a message
    Lost,     // the connection is gone
};

// A message for the relay (see `Outgoing`).
struct ToRelay {
    std::vector<std::uint8_t> bytes;
    bool reliable = false;
};

// What one `update` brought.
struct ClientUpdate {
    std::vector<Event> sounds;     // each event of each tick once; deaths and ends once confirmed
    std::uint32_t ticks_run = 0;   // new ticks shown (a rollback's replays not counted)
    std::uint8_t waiting_for = 0;  // seats whose input the match waits for (a stall), or 0
    bool recovered = false;        // the relay's state replaced a copy that went astray
};

class OnlineClient {
  public:
    explicit OnlineClient(std::string name);
    ~OnlineClient();
    OnlineClient(const OnlineClient&) = delete;
    OnlineClient& operator=(const OnlineClient&) = delete;

    // The transport's side.
    void connected(Micros now);
    void received(std::span<const std::uint8_t> bytes, Micros now);
    void lost(Micros now);
    std::vector<ToRelay>& outbox();

    // The lobby. `players` is how many people play on this machine (1 or 2).
    void open_room(std::uint8_t place, Difficulty difficulty, std::uint8_t players);
    void join_room(const RoomCode& code, std::uint8_t players);
    void quick_match(std::uint8_t players);
    void watch_room(const RoomCode& code);
    void start_match();  // the host only
    void leave();

    // One frame: the input of this machine's players (the first for its
    // first seat), runs every tick that has fallen due. A charge or confirm
    // given in a frame that runs no tick waits for the next tick.
    ClientUpdate update(const std::array<DiggerInput, local_seats_max>& local, bool confirm,
                        Micros now);

    ClientPhase phase() const;
    std::optional<RefusedReason> refused() const;
    const std::optional<Lobby>& lobby() const;
    std::uint8_t your_seats() const;
    bool watching() const;  // in a room or match as a spectator
    // The match as shown (predicted past the last confirmed tick), and how
    // far the next tick has come (0 … 1) for drawing movers between cells.
    const Match& shown() const;
    float tick_fraction(Micros now) const;
    // Every confirmed tick's input so far, to keep the match as a replay.
    const std::vector<TickInput>& confirmed_inputs() const;
    // Once ended: the relay's end hash, and whether this copy came to it.
    std::uint64_t end_hash() const;
    bool end_matched() const;
    // Round trip to the relay as last measured, in microseconds.
    Micros round_trip() const;

    // For tests: spoils the confirmed copy of the match as a bug or a flipped
    // bit would, for the relay's hash check to find.
    void spoil_for_test();

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace zobra::net
