#pragma once
// The game's connection to a relay over ENet. It never makes a frame wait:
// a name is looked up on a thread of its own, and the connection's progress
// is looked at on each `pump`, which hands the client what came and sends
// what the client has to say.

#include <cstdint>
#include <memory>
#include <string>

#include "net/client.h"

namespace zobra::netio {

// How long a connection may take, the name's look-up included, before the
// client hears it is lost.
inline constexpr net::Micros connect_timeout = 5'000'000;

class RelayConnection {
  public:
    // Starts connecting to a name or dotted address; nothing and a reason in
    // `error` only when it cannot even start (no host, port 0).
    static std::unique_ptr<RelayConnection> connect(const std::string& host, std::uint16_t port,
                                                    std::string& error);
    ~RelayConnection();  // closes
    RelayConnection(const RelayConnection&) = delete;
    RelayConnection& operator=(const RelayConnection&) = delete;

    // Without waiting: tells `client` once it is connected, hands it every
    // message, tells it once when the connection is lost (or never came
    // within `connect_timeout` of the first pump), and sends its outbox.
    void pump(net::OnlineClient& client, net::Micros now);
    // Says goodbye to the relay; the client hears nothing more.
    void close();

    bool is_connected() const;
    bool is_lost() const;
    // Why the connection was lost, for the screen and the log; empty while
    // it stands.
    const std::string& problem() const;

  private:
    struct Impl;
    explicit RelayConnection(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace zobra::netio
