#pragma once
// The relay on the network: an ENet host on a UDP port that serves a
// `net::Relay`, and beside it WebSocket clients (the browser's page) and
// the page's files on TCP with the same port number (`web_front.h`). Each
// round it takes what arrived on either, hands it to the relay with the
// time, lets the relay confirm the ticks that fell due and sends what the
// relay has to say, over ENet reliable messages on one channel and the
// others on a second. The relay never learns which transport a client
// uses: both take ids from one counter and pass the same checks. The
// standalone `zobra-relay` runs one; a game that hosts runs one in a
// thread of its own.
//
// Nothing a peer sends can make it hold more than a bounded amount: the
// peers are capped (ENet's own limit), every packet's size is checked before
// the relay reads it, a peer that sends too much is cut short, and one that
// does not take its reliable messages or says nothing after connecting is
// closed.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <thread>

#include "net/relay.h"
#include "netio/address.h"

namespace zobra::netio {

// The most clients one server takes. ENet numbers its peers in twelve bits
// (4095 at most); the rest are kept to answer connections beyond the limit.
inline constexpr std::uint32_t server_clients_max = 4000;

// How a server is opened, and the bounds it keeps to.
struct RelayServerOptions {
    std::string bind;                         // a dotted address; empty for every address
    std::uint16_t port = default_relay_port;  // 0: any free port (`port()` tells)
    net::RelayLimits limits;                  // clients at most `server_clients_max`
    std::uint64_t seed = 0;                   // for the room codes; 0 takes one from the clock
    // A client's messages are small; the relay's state of a match goes the
    // other way. Anything larger from a client is dropped unread.
    std::size_t packet_size_max = 1024;
    // Per second and peer; packets beyond the allowance are dropped. Twice
    // as many may come at once.
    std::uint32_t packets_per_second = 240;
    // A peer that has sent nothing this long after connecting is closed.
    std::uint32_t first_message_ms = 10'000;
    // ENet commands (reliable messages and their pieces) waiting for one
    // peer's acknowledgement; a peer that does not take them is closed.
    std::size_t unacknowledged_max = 1024;
    // WebSocket clients at "/relay" on TCP, same port number and address,
    // where the build has them (`relay_speaks_websocket`); the web page's
    // folder served over HTTP there, or none.
    bool websocket = true;
    std::string site;
};

// Whether this build's relay takes WebSocket clients and serves a page.
bool relay_speaks_websocket();

class RelayServer {
  public:
    // Opens the port; nothing and a reason in `error` if it cannot.
    static std::unique_ptr<RelayServer> open(const RelayServerOptions& options,
                                             std::function<void(std::string_view)> log,
                                             std::string& error);
    ~RelayServer();
    RelayServer(const RelayServer&) = delete;
    RelayServer& operator=(const RelayServer&) = delete;

    std::uint16_t port() const;
    // One round: waits for packets until the relay has something to do or
    // `timeout_ms` pass, hands over everything that came, advances the
    // relay and sends its messages.
    void serve(int timeout_ms);
    // Rounds until `stop` is set; it is looked at every few milliseconds.
    void run(const std::atomic<bool>& stop);

    const net::Relay& relay() const;
    // Connections held over both transports, the refused ones still
    // closing included.
    std::size_t peers() const;
    std::size_t queued_bytes() const;  // waiting in the WebSocket clients' write queues

  private:
    struct Impl;
    explicit RelayServer(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

// A relay served on a thread of its own, as a game that hosts runs it:
// started open, stopped and joined when destroyed (which tells the players
// at once). `log` is called on that thread.
class RelayThread {
  public:
    static std::unique_ptr<RelayThread> start(const RelayServerOptions& options,
                                              std::function<void(std::string_view)> log,
                                              std::string& error);
    ~RelayThread();
    RelayThread(const RelayThread&) = delete;
    RelayThread& operator=(const RelayThread&) = delete;

    std::uint16_t port() const { return port_; }

  private:
    explicit RelayThread(std::unique_ptr<RelayServer> server);
    std::unique_ptr<RelayServer> server_;
    std::uint16_t port_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace zobra::netio
