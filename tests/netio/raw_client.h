#pragma once
// Clients for tests that must say what no game says: a single connection
// that sends any bytes or messages and keeps what comes back, and a crowd
// of connections from one host. Both talk to 127.0.0.1 only.

#include <enet/enet.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "net/protocol.h"

namespace zobra::test {

// One ENet connection to a relay on 127.0.0.1.
class RawClient {
  public:
    explicit RawClient(std::uint16_t port);
    ~RawClient();
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    // Pumps until connected, or false when refused or `limit` passed.
    bool wait_connected(std::chrono::milliseconds limit);
    void send(const net::Message& message, bool reliable = true);
    void send_bytes(std::span<const std::uint8_t> bytes, bool reliable = true);
    // Takes what arrived: decoded messages are kept in order, anything else
    // counts as undecodable.
    void pump();
    // Pumps until a message of type T comes (and takes it and everything
    // before it off the list), or the connection closes, or `limit` passes.
    template <typename T>
    std::optional<T> wait_for(std::chrono::milliseconds limit);
    // Pumps until the relay has closed the connection or `limit` passed.
    bool wait_closed(std::chrono::milliseconds limit);

    bool connected() const { return connected_; }
    bool closed() const { return closed_; }
    std::vector<net::Message>& messages() { return messages_; }
    std::size_t undecodable() const { return undecodable_; }

  private:
    ENetHost* host_ = nullptr;
    ENetPeer* peer_ = nullptr;
    bool connected_ = false, closed_ = false;
    std::vector<net::Message> messages_;
    std::size_t undecodable_ = 0;
};

// Many connections from one host at once, each with short timeouts so that
// the ones a relay never answers fail within a second or two.
class Crowd {
  public:
    Crowd(std::uint16_t port, std::size_t size);
    ~Crowd();
    Crowd(const Crowd&) = delete;
    Crowd& operator=(const Crowd&) = delete;

    void pump();
    // Whether every connection has either come up or failed.
    bool settled() const;
    // Sends to every connection that stands.
    void send_all(std::span<const std::uint8_t> bytes);
    // Starts closing every connection that stands; `up` falls to 0 as the
    // relay answers.
    void close_all();

    std::size_t up() const;      // connections that stand
    std::size_t failed() const;  // never came up, or were closed by the relay
    std::size_t accepted() const { return accepted_; }  // came up at some point

  private:
    ENetHost* host_ = nullptr;
    std::vector<ENetPeer*> peers_;
    std::vector<std::uint8_t> state_;  // 0 waiting, 1 up, 2 gone
    std::size_t accepted_ = 0;
};

// Plain UDP datagrams to 127.0.0.1:port, the bytes as given.
void send_datagrams(std::uint16_t port, const std::vector<std::vector<std::uint8_t>>& datagrams);

template <typename T>
std::optional<T> RawClient::wait_for(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (true) {
        pump();
        for (std::size_t i = 0; i < messages_.size(); ++i)
            if (const T* found = std::get_if<T>(&messages_[i])) {
                T taken = *found;
                messages_.erase(messages_.begin(), messages_.begin() + std::ptrdiff_t(i) + 1);
                return taken;
            }
        if (closed_ || std::chrono::steady_clock::now() >= deadline) return std::nullopt;
    }
}

}  // namespace zobra::test
