#include "netio/web_client.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/websocket.hpp>
#include <deque>

namespace zobra::test {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;

namespace {

// A socket bound to loopback, so that nothing a test does leaves it.
void open_on_loopback(tcp::socket& socket, int receive_buffer) {
    socket.open(tcp::v4());
    if (receive_buffer > 0)
        socket.set_option(asio::socket_base::receive_buffer_size(receive_buffer));
    socket.bind(tcp::endpoint(asio::ip::address_v4::loopback(), 0));
}

tcp::endpoint relay_at(std::uint16_t port) {
    return tcp::endpoint(asio::ip::address_v4::loopback(), port);
}

}  // namespace

struct WebClient::Impl {
    asio::io_context io{1};
    websocket::stream<beast::tcp_stream> ws{io};
    Options options;
    beast::flat_buffer in;
    std::deque<std::pair<std::vector<std::uint8_t>, bool>> out;  // and whether it is text
    bool writing = false, is_open = false, is_closed = false;
    std::vector<net::Message> messages;
    std::size_t undecodable = 0;

    void read() {
        ws.async_read(in, [this](beast::error_code error, std::size_t) {
            if (error) {
                is_closed = true;
                return;
            }
            const auto data = in.cdata();
            if (auto message = net::decode(
                    std::span(static_cast<const std::uint8_t*>(data.data()), data.size())))
                messages.push_back(std::move(*message));
            else
                ++undecodable;
            in.consume(in.size());
            read();
        });
    }

    void write_next() {
        if (writing || out.empty() || !is_open || is_closed) return;
        writing = true;
        ws.text(out.front().second);
        ws.async_write(asio::buffer(out.front().first),
                       [this](beast::error_code error, std::size_t) {
                           writing = false;
                           out.pop_front();
                           if (error)
                               is_closed = true;
                           else
                               write_next();
                       });
    }
};

WebClient::WebClient(std::uint16_t port, Options options) : impl_(std::make_unique<Impl>()) {
    Impl& s = *impl_;
    s.options = std::move(options);
    tcp::socket& socket = beast::get_lowest_layer(s.ws).socket();
    open_on_loopback(socket, s.options.receive_buffer);
    socket.async_connect(relay_at(port), [&s](beast::error_code error) {
        if (error) {
            s.is_closed = true;
            return;
        }
        s.ws.async_handshake("127.0.0.1", s.options.target, [&s](beast::error_code e) {
            if (e) {
                s.is_closed = true;
                return;
            }
            s.is_open = true;
            if (s.options.reads) s.read();
            s.write_next();
        });
    });
}

WebClient::~WebClient() = default;

void WebClient::pump() {
    impl_->io.poll();
    impl_->io.restart();
}

bool WebClient::open() const { return impl_->is_open && !impl_->is_closed; }
bool WebClient::closed() const { return impl_->is_closed; }

void WebClient::send_binary(std::span<const std::uint8_t> bytes) {
    impl_->out.emplace_back(std::vector<std::uint8_t>(bytes.begin(), bytes.end()), false);
    impl_->write_next();
}

void WebClient::send_text(std::string_view text) {
    impl_->out.emplace_back(std::vector<std::uint8_t>(text.begin(), text.end()), true);
    impl_->write_next();
}

std::vector<net::Message>& WebClient::messages() { return impl_->messages; }
std::size_t WebClient::undecodable() const { return impl_->undecodable; }

struct TcpClient::Impl {
    asio::io_context io{1};
    tcp::socket socket{io};
    bool connected = false, is_closed = false;
    std::string pending, received;
    std::array<char, 4096> chunk{};

    void read() {
        socket.async_read_some(asio::buffer(chunk), [this](beast::error_code error, std::size_t n) {
            received.append(chunk.data(), n);
            if (error)
                is_closed = true;
            else
                read();
        });
    }
    void flush() {
        if (!connected || pending.empty()) return;
        beast::error_code ignored;
        asio::write(socket, asio::buffer(pending), ignored);
        pending.clear();
    }
};

TcpClient::TcpClient(std::uint16_t port) : impl_(std::make_unique<Impl>()) {
    Impl& s = *impl_;
    open_on_loopback(s.socket, 0);
    s.socket.async_connect(relay_at(port), [&s](beast::error_code error) {
        if (error) {
            s.is_closed = true;
            return;
        }
        s.connected = true;
        s.flush();
        s.read();
    });
}

TcpClient::~TcpClient() = default;

void TcpClient::pump() {
    impl_->io.poll();
    impl_->io.restart();
}

void TcpClient::send(std::string_view bytes) {
    impl_->pending += bytes;
    impl_->flush();
}

bool TcpClient::closed() const { return impl_->is_closed; }
const std::string& TcpClient::received() const { return impl_->received; }

}  // namespace zobra::test
