#pragma once
// Connections for tests of the relay's TCP side, on 127.0.0.1: a WebSocket
// client that speaks the protocol as the web page does (or misbehaves as
// told), and a plain TCP connection for HTTP and for bytes no browser
// sends. Both are pumped by the test's loop and never wait by themselves.

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "net/protocol.h"

namespace zobra::test {

class WebClient {
  public:
    struct Options {
        std::string target = "/relay";
        bool reads = true;       // false: never reads what the relay sends
        int receive_buffer = 0;  // the socket's, in bytes; 0 leaves the system's
    };

    explicit WebClient(std::uint16_t port) : WebClient(port, Options{}) {}
    WebClient(std::uint16_t port, Options options);
    ~WebClient();
    WebClient(const WebClient&) = delete;
    WebClient& operator=(const WebClient&) = delete;

    void pump();          // handles whatever is ready
    bool open() const;    // the handshake is done and the connection stands
    bool closed() const;  // refused, or closed after it stood

    void send(const net::Message& message) { send_binary(net::encode(message)); }
    void send_binary(std::span<const std::uint8_t> bytes);
    void send_text(std::string_view text);

    std::vector<net::Message>& messages();
    std::size_t undecodable() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// A TCP connection that sends what it is given and keeps everything that
// comes back until the other side closes.
class TcpClient {
  public:
    explicit TcpClient(std::uint16_t port);
    ~TcpClient();
    TcpClient(const TcpClient&) = delete;
    TcpClient& operator=(const TcpClient&) = delete;

    void pump();
    void send(std::string_view bytes);
    bool closed() const;
    const std::string& received() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace zobra::test
