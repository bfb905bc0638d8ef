#pragma once
// The page's connection to a relay: a WebSocket whose binary messages are the
// relay's messages, one each way. The browser calls back between frames;
// what arrives waits in a queue that the next frame's `pump` hands to the
// client, and the client's outbox goes out on the same pump. The page's
// counterpart of netio::RelayConnection, for the same OnlineClient.

#include <memory>
#include <string>

#include "net/client.h"

namespace zobra {

// How long the connection may take to open before the client hears it is
// lost.
inline constexpr net::Micros socket_open_timeout = 5'000'000;
// Bytes that may wait for a frame. A page whose frames have stopped (its tab
// hidden) hears the relay all the same: past this the queue goes to the
// client at once, from the browser's callback.
inline constexpr std::size_t socket_queue_bytes_max = 256 * 1024;

class RelaySocket {
  public:
    // Starts opening a WebSocket to `url` for `client`; nothing and a reason
    // in `error` when the browser will not even start it.
    static std::unique_ptr<RelaySocket> open(const std::string& url,
                                             std::shared_ptr<net::OnlineClient> client,
                                             std::string& error);
    ~RelaySocket();  // closes
    RelaySocket(const RelaySocket&) = delete;
    RelaySocket& operator=(const RelaySocket&) = delete;

    // Without waiting: tells the client once it is connected, hands it what
    // came, tells it once when the connection is lost (or did not open in
    // time), and sends its outbox.
    void pump(net::Micros now);
    // Closes the socket; the client hears nothing more from it.
    void close();

    bool is_connected() const;
    bool is_lost() const;
    // Why the connection was lost, for the log; empty while it stands.
    const std::string& problem() const;

    struct Impl;

  private:
    explicit RelaySocket(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace zobra
