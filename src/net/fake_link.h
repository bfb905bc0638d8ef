#pragma once
// A network that is not there, for tests and measurements: a seeded fake
// link on a virtual clock that delays, jitters, loses, duplicates and
// reorders datagrams as a bad connection does (and delivers the reliable
// ones in order, late by a resend for each loss, as ENet does), and a fake
// network that joins a relay and its clients through such links. Nothing
// here touches a socket or a real clock.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "net/client.h"
#include "net/relay.h"

namespace zobra::net {

// What a datagram costs on the wire beside its payload: the UDP and IP
// headers, and ENet's own header and command.
inline constexpr std::uint64_t udp_ip_overhead = 28;
inline constexpr std::uint64_t enet_overhead = 10;

// One direction of a connection.
struct Impairment {
    Micros delay = 0;             // one way
    Micros jitter = 0;            // each datagram a further 0 … jitter late
    std::uint32_t loss = 0;       // in parts per million
    std::uint32_t duplicate = 0;  // in parts per million: a second copy comes a little later
    std::uint32_t reorder = 0;    // in parts per million: held back behind later ones
};

// Parts per million from a percentage.
constexpr std::uint32_t percent(double p) { return static_cast<std::uint32_t>(p * 10'000.0); }

class FakeLink {
  public:
    FakeLink(Impairment impairment, std::uint64_t seed);

    void send(std::span<const std::uint8_t> bytes, bool reliable, Micros now);
    // The datagrams that have arrived by `now`, in the order they arrived.
    std::vector<std::vector<std::uint8_t>> take(Micros now);
    // When the next datagram arrives, or never.
    Micros next_arrival() const;

    // From now on nothing goes through, as when a cable is pulled.
    void cut();
    void mend() { cut_ = false; }
    bool is_cut() const { return cut_; }
    void set(Impairment impairment) { impairment_ = impairment; }

    // What went onto the wire, resends of reliable datagrams included.
    std::uint64_t datagrams() const { return datagrams_; }
    std::uint64_t payload_bytes() const { return payload_; }
    std::uint64_t wire_bytes() const {
        return payload_ + datagrams_ * (udp_ip_overhead + enet_overhead);
    }

  private:
    bool chance(std::uint32_t ppm);
    Micros jitter();

    Impairment impairment_;
    Rng rng_;
    // In flight: by arrival time, then in the order sent.
    std::multimap<std::pair<Micros, std::uint64_t>, std::vector<std::uint8_t>> flight_;
    std::uint64_t sent_ = 0;
    Micros last_reliable_ = 0;
    bool cut_ = false;
    std::uint64_t datagrams_ = 0;
    std::uint64_t payload_ = 0;
};

// A relay and its clients joined by fake links, on one virtual clock that
// moves on in steps. Each client's frames come every `frame_micros`; the
// frame callback plays them (calls `update` with that frame's input).
class FakeNetwork {
  public:
    FakeNetwork(RelayLimits limits, std::uint64_t seed,
                std::function<void(std::string_view)> log = {});
    ~FakeNetwork();
    FakeNetwork(const FakeNetwork&) = delete;
    FakeNetwork& operator=(const FakeNetwork&) = delete;

    // A client connecting now through links impaired so in each direction.
    std::size_t add(std::string name, Impairment up, Impairment down);

    using Frame = std::function<void(std::size_t client, Micros now)>;
    // Runs the network until `until` (the relay, every arrival, every
    // client's frames), `step` at a time.
    void run_until(Micros until, const Frame& frame);
    Micros now() const { return now_; }
    Micros step = 1'000;
    Micros frame_micros = 16'667;

    // For measurements: a clock (any unit) read around every call into the
    // relay, and the time those calls took by it.
    std::function<std::uint64_t()> stopwatch;
    std::uint64_t relay_time() const { return relay_time_; }

    Relay& relay() { return relay_; }
    std::size_t size() const;
    OnlineClient& client(std::size_t i);
    FakeLink& up(std::size_t i);    // the client to the relay
    FakeLink& down(std::size_t i);  // the relay to the client
    ClientId id(std::size_t i) const;

    // The connection closes cleanly: both ends are told.
    void disconnect(std::size_t i);
    // The client goes silent both ways without a word: only the relay's
    // quiet limit finds out.
    void silence(std::size_t i);
    // A new connection for the client, under a new number, on the same
    // links (as a page whose socket dropped opens another).
    void reconnect(std::size_t i);
    bool open(std::size_t i) const;

  private:
    struct Peer;
    template <class F>
    void timed(F&& call);
    void flush();
    void close(std::size_t i);

    Relay relay_;
    std::uint64_t seed_;
    Micros now_ = 0;
    std::uint64_t relay_time_ = 0;
    std::vector<std::unique_ptr<Peer>> peers_;
    std::map<ClientId, std::size_t> by_id_;
    ClientId next_id_ = 1;
};

}  // namespace zobra::net
