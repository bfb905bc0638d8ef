#pragma once
// The relay's rooms and referee, without sockets: a transport hands it every
// connection, message and loss with the time, calls `advance` when
// `next_wakeup` comes, and sends what it finds in the outbox. The relay keeps
// rooms (opened by a host under a four-character code, joined by code, or
// filled by quick matches), runs each started match's clock, confirms each
// tick's input of every seat, sends the confirmed ticks on, plays the match
// itself to compare the clients' state hashes with its own, and hands a
// client whose hash differs the match's state. A client that leaves or goes
// quiet is replaced by the computer from the next tick it confirms.
//
// Everything it holds is bounded: clients and rooms by the limits, each
// client's queue of unsent messages, each room's history of confirmed ticks.

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "net/protocol.h"

namespace zobra::net {

using ClientId = std::uint32_t;
using Micros = std::uint64_t;  // a monotonic clock in microseconds

struct RelayLimits {
    std::uint32_t clients_max = 8192;
    std::uint32_t rooms_max = 4096;
    Micros quiet_drop = 3'000'000;     // a client silent this long in a match has left
    Micros late_after = 150'000;       // a seat's input this late after its tick fell due is held
    Micros lobby_idle = 600'000'000;   // a room not started after this long is closed
    Micros hello_within = 10'000'000;  // a connection without a hello this long is closed
    // A match still running after this many ticks ends there (an hour; tests
    // shorten it), so that no room is kept forever.
    std::uint32_t match_ticks_max = 72'000;
};

// A message for one client. Reliable ones (the lobby, the start, a state,
// the end) must arrive, in order; the others may be lost, because the next
// one says the same again.
struct Outgoing {
    ClientId to = 0;
    std::vector<std::uint8_t> bytes;
    bool reliable = false;
};

class Relay {
  public:
    // `seed` picks the room codes; `log` takes one line per room event.
    Relay(RelayLimits limits, std::uint64_t seed, std::function<void(std::string_view)> log);
    ~Relay();
    Relay(const Relay&) = delete;
    Relay& operator=(const Relay&) = delete;

    // False if the relay holds as many clients as it may: the transport
    // closes the connection.
    bool connected(ClientId client, Micros now);
    void received(ClientId client, std::span<const std::uint8_t> bytes, Micros now);
    void disconnected(ClientId client, Micros now);
    // Confirms every tick that is due and drops clients gone quiet.
    void advance(Micros now);
    // When `advance` next has something to do.
    Micros next_wakeup() const;

    // The messages to send, in order; the caller takes them all.
    std::vector<Outgoing>& outbox();
    // Clients the relay wants disconnected (garbage, a refused hello, a
    // flood of requests, silence in a match). The relay has forgotten them
    // already; what the outbox holds for them (a refusal) goes out first.
    std::vector<ClientId>& to_close();

    std::size_t clients() const;
    std::size_t rooms() const;
    std::size_t matches() const;  // rooms whose match is being played

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace zobra::net
