#pragma once
// Connections for tests that must say what no game says: an ENet host with
// one or many connections to a relay on 127.0.0.1 that sends any bytes and
// keeps every message that comes back, and one such connection with waits.

#include <enet/enet.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "net/protocol.h"

namespace zobra::test {

// `count` connections from one host; one that stays unanswered for
// `timeout_ms` (at least half of it) fails.
class RawPeers {
  public:
    enum class State : std::uint8_t { Waiting, Up, Gone };

    RawPeers(std::uint16_t port, std::size_t count, std::uint32_t timeout_ms);
    ~RawPeers();
    RawPeers(const RawPeers&) = delete;
    RawPeers& operator=(const RawPeers&) = delete;

    // Takes what arrived: a message that does not decode counts only in
    // `undecodable`.
    void pump();
    void send(std::size_t i, std::span<const std::uint8_t> bytes, bool reliable = true);
    void send_all(std::span<const std::uint8_t> bytes);  // to every connection that stands
    void close_all();  // starts closing; `count(Up)` falls to 0 as the relay answers

    State state(std::size_t i) const { return state_[i]; }
    std::size_t count(State state) const;
    std::size_t accepted() const { return accepted_; }  // came up at some point
    std::vector<net::Message>& messages(std::size_t i) { return messages_[i]; }
    std::size_t undecodable() const { return undecodable_; }

  private:
    ENetHost* host_ = nullptr;
    std::vector<ENetPeer*> peers_;
    std::vector<State> state_;
    std::vector<std::vector<net::Message>> messages_;
    std::size_t accepted_ = 0, undecodable_ = 0;
};

// One connection, and waits for what a test expects of it.
class RawClient {
  public:
    explicit RawClient(std::uint16_t port) : peers_(port, 1, patient_timeout_ms) {}

    bool wait_connected(std::chrono::milliseconds limit);  // false if refused or too late
    bool wait_closed(std::chrono::milliseconds limit);
    // Pumps until a message of type T comes, and takes it and every one
    // before it; nothing if the connection closes first or `limit` passes.
    template <typename T>
    std::optional<T> wait_for(std::chrono::milliseconds limit);

    void send(const net::Message& message, bool reliable = true) {
        peers_.send(0, net::encode(message), reliable);
    }
    void send_bytes(std::span<const std::uint8_t> bytes) { peers_.send(0, bytes); }
    void pump() { peers_.pump(); }
    bool up() const { return peers_.state(0) == RawPeers::State::Up; }
    bool closed() const { return peers_.state(0) == RawPeers::State::Gone; }
    std::vector<net::Message>& messages() { return peers_.messages(0); }

  private:
    static constexpr std::uint32_t patient_timeout_ms = 10'000;
    template <typename Done>
    bool pump_until(Done done, std::chrono::milliseconds limit);
    RawPeers peers_;
};

template <typename Done>
bool RawClient::pump_until(Done done, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        pump();
    }
    return true;
}

template <typename T>
std::optional<T> RawClient::wait_for(std::chrono::milliseconds limit) {
    std::optional<T> found;
    pump_until(
        [&] {
            std::vector<net::Message>& all = messages();
            const auto it = std::find_if(all.begin(), all.end(), [](const net::Message& m) {
                return std::holds_alternative<T>(m);
            });
            if (it != all.end()) {
                found = std::get<T>(*it);
                all.erase(all.begin(), it + 1);
            }
            return found.has_value() || closed();
        },
        limit);
    return found;
}

inline bool RawClient::wait_connected(std::chrono::milliseconds limit) {
    return pump_until([&] { return peers_.state(0) != RawPeers::State::Waiting; }, limit) &&
           peers_.state(0) == RawPeers::State::Up;
}

inline bool RawClient::wait_closed(std::chrono::milliseconds limit) {
    return pump_until([&] { return closed(); }, limit);
}

}  // namespace zobra::test
