#pragma once
// The relay's TCP side, on the same port number as its UDP one: WebSocket
// clients at "/relay" (the browser's way to the relay, which cannot send
// UDP) and, when a site folder is given, the web page's files over HTTP.
// It also does the server's waiting: one wait wakes for a WebSocket or
// HTTP event and for a datagram on ENet's socket alike, so that one thread
// serves both transports without polling. Boost.Beast stays inside this
// module's source, which is slow to compile.
//
// A WebSocket client is a relay client like an ENet peer: the server gives
// it an id and hands its binary messages to the relay; each message the
// relay sends goes out as one binary message. Nothing a client does can
// make it hold more than a bounded amount: messages are at most
// `message_size_max`, every client has one write queue whose unreliable
// messages are dropped when it is not short and whose reliable ones close
// the client when it is long, and every wait (a request's header, the
// handshake, a silent connection, a write nobody takes) has a time limit.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <span>
#include <string>

#include "net/relay.h"

namespace zobra::netio {

// Where the front listens and what it serves.
struct WebFrontOptions {
    std::string bind;  // a dotted address; empty for every address
    std::uint16_t port = 0;
    std::filesystem::path site;           // the page's folder; empty: no files, only "/relay"
    std::size_t message_size_max = 1024;  // a client's messages; larger ones close it
    int enet_socket = -1;                 // watched for datagrams
};

// What the front tells the server about its WebSocket clients, as it
// happens. `opened` gives the new client's id; `closed` comes once for
// every client opened, whoever closed it.
struct WebClientEvents {
    std::function<net::ClientId()> opened;
    std::function<void(net::ClientId, std::span<const std::uint8_t>)> received;
    std::function<void(net::ClientId)> closed;
};

class WebFront {
  public:
    // Listens on TCP; nothing and a reason in `error` if it cannot.
    static std::unique_ptr<WebFront> open(const WebFrontOptions& options, WebClientEvents events,
                                          std::string& error);
    ~WebFront();
    WebFront(const WebFront&) = delete;
    WebFront& operator=(const WebFront&) = delete;

    // Waits up to `timeout_ms` for a datagram on ENet's socket or any event
    // of the front's own, then handles every event that is ready.
    void wait(int timeout_ms);

    // Queues a message; false when the client holds too many reliable ones
    // unsent, and the server should close it.
    bool send(net::ClientId client, std::span<const std::uint8_t> bytes, bool reliable);
    // Closes a client, after what is queued for it when `queue_first`.
    void close(net::ClientId client, bool queue_first);

    std::size_t queued_bytes() const;      // in every client's write queue
    std::size_t http_connections() const;  // connections not (yet) WebSocket clients

  private:
    struct Impl;
    explicit WebFront(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace zobra::netio
