#include "netio/web_front.h"

#include <unistd.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/posix/stream_descriptor.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>
#include <chrono>
#include <deque>
#include <map>
#include <optional>
#include <vector>

#include "netio/site.h"

namespace zobra::netio {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;
using Clock = std::chrono::steady_clock;

namespace {

constexpr std::string_view relay_path = "/relay";

// A request's header must come whole within this time and size, and the
// answer be taken within the next limit (the page's largest file is a few
// hundred kilobytes); the handshake of a WebSocket must end in time too.
constexpr auto request_time = std::chrono::seconds(10);
constexpr auto response_time = std::chrono::seconds(60);
constexpr std::size_t request_header_max = 8u << 10;
constexpr std::size_t request_body_max = 1u << 10;
constexpr auto handshake_time = std::chrono::seconds(10);
// A client that sends nothing, not even the answer to a ping, for this long
// is gone (a half-open connection); pings go out after half of it.
constexpr auto idle_time = std::chrono::seconds(10);
// Connections that are no relay client (yet): requests for the page and
// handshakes under way.
constexpr std::size_t http_connections_max = 256;
// The write queue: an unreliable message is dropped when this many wait
// already (it acts as a lost one: the next says the same again), and a
// client with more reliable messages or bytes waiting than this is closed.
constexpr std::size_t unreliable_waiting_max = 4;
constexpr std::size_t waiting_messages_max = 256;
constexpr std::size_t waiting_bytes_max = 512u << 10;
// The system's send buffer of a client's socket, so that one that reads
// nothing is noticed by its own queue (and costs the kernel little) rather
// than after megabytes; the largest message still fits.
constexpr int client_send_buffer = 48 << 10;
// A write nobody takes for this long, or a close that cannot send what was
// queued before it in this long, ends the connection at once.
constexpr auto write_stall_max = std::chrono::seconds(10);
constexpr auto closing_time_max = std::chrono::seconds(5);
constexpr auto sweep_every = std::chrono::milliseconds(250);
// After a failed accept (out of file descriptors) the listener pauses.
constexpr auto accept_pause = std::chrono::milliseconds(100);

class HttpConnection;
class WebSession;

// The members are declared in the order they may be destroyed in reverse:
// the io_context goes first of the asynchronous parts, taking the
// connections its handlers still hold, and those only touch the counters
// declared before it.
struct Front {
    WebClientEvents events;
    std::filesystem::path site;
    std::size_t message_size_max = 0;
    std::size_t http_connections = 0;
    std::size_t queued_bytes = 0;
    Clock::time_point last_sweep;
    asio::io_context io{1};
    tcp::acceptor acceptor{io};
    asio::steady_timer accept_timer{io};
    asio::posix::stream_descriptor enet_watch{io};
    bool enet_watched = false;
    std::map<net::ClientId, std::shared_ptr<WebSession>> clients;

    void accept();
    void sweep();
};

// A relay client over WebSocket: its handshake, its reads, its write queue
// with one write at a time, and its closing.
class WebSession : public std::enable_shared_from_this<WebSession> {
  public:
    WebSession(beast::tcp_stream stream, Front& front) : ws_(std::move(stream)), front_(front) {
        ++front_.http_connections;
    }
    ~WebSession() {
        if (id_ == 0) --front_.http_connections;
        front_.queued_bytes -= queued_bytes_;
    }
    WebSession(const WebSession&) = delete;
    WebSession& operator=(const WebSession&) = delete;

    void start(http::request<http::string_body> request) {
        request_ = std::move(request);
        beast::get_lowest_layer(ws_).expires_never();
        beast::error_code ignored;
        beast::get_lowest_layer(ws_).socket().set_option(
            asio::socket_base::send_buffer_size(client_send_buffer), ignored);
        ws_.set_option(websocket::stream_base::timeout{handshake_time, idle_time, true});
        ws_.read_message_max(front_.message_size_max);
        ws_.binary(true);
        ws_.async_accept(request_, [self = shared_from_this()](beast::error_code error) {
            if (!error) self->opened();
        });
    }

    bool send(std::span<const std::uint8_t> bytes, bool reliable) {
        if (closing_ || ended_) return true;
        if (!reliable && queue_.size() > unreliable_waiting_max) return true;
        if (reliable && (queue_.size() >= waiting_messages_max ||
                         queued_bytes_ + bytes.size() > waiting_bytes_max))
            return false;
        queue_.emplace_back(bytes.begin(), bytes.end());
        queued_bytes_ += bytes.size();
        front_.queued_bytes += bytes.size();
        if (!writing_) write_next();
        return true;
    }

    void close(bool queue_first) {
        if (!queue_first) return abort();
        if (closing_ || ended_) return;
        closing_ = true;
        close_asked_ = Clock::now();
        if (!writing_) close_politely();
    }

    // Ends the connection at once: every pending operation fails, and the
    // read's failure reports the client closed.
    void abort() {
        closing_ = true;
        beast::get_lowest_layer(ws_).close();
    }

    // Whether it has kept a write or a close waiting too long.
    bool stalled(Clock::time_point now) const {
        return (writing_ && now - write_started_ > write_stall_max) ||
               (closing_ && now - close_asked_ > closing_time_max);
    }

  private:
    void opened() {
        --front_.http_connections;
        id_ = front_.events.opened();
        front_.clients.emplace(id_, shared_from_this());
        read();
    }

    void read() {
        ws_.async_read(in_, [self = shared_from_this()](beast::error_code error, std::size_t) {
            self->on_read(error);
        });
    }

    void on_read(beast::error_code error) {
        if (error) return end();
        // The protocol's messages are binary; a text frame is no client of
        // this game.
        if (!ws_.got_binary()) {
            abort();
            return end();
        }
        if (!closing_) {
            const auto data = in_.cdata();
            front_.events.received(
                id_, std::span(static_cast<const std::uint8_t*>(data.data()), data.size()));
        }
        in_.consume(in_.size());
        read();
    }

    void write_next() {
        writing_ = true;
        write_started_ = Clock::now();
        ws_.async_write(asio::buffer(queue_.front()),
                        [self = shared_from_this()](beast::error_code error, std::size_t) {
                            self->on_written(error);
                        });
    }

    void on_written(beast::error_code error) {
        writing_ = false;
        const std::size_t size = queue_.front().size();
        queue_.pop_front();
        queued_bytes_ -= size;
        front_.queued_bytes -= size;
        if (error) return abort();
        if (!queue_.empty())
            write_next();
        else if (closing_)
            close_politely();
    }

    void close_politely() {
        ws_.async_close(websocket::close_code::normal,
                        [self = shared_from_this()](beast::error_code) { self->abort(); });
    }

    // The read has failed: the connection is over, whoever ended it.
    void end() {
        if (ended_) return;
        ended_ = true;
        beast::get_lowest_layer(ws_).close();
        if (id_ == 0) return;
        const auto self = shared_from_this();
        front_.clients.erase(id_);
        front_.events.closed(id_);
    }

    websocket::stream<beast::tcp_stream> ws_;
    Front& front_;
    http::request<http::string_body> request_;  // the upgrade, until the handshake is done
    net::ClientId id_ = 0;                      // 0 until the handshake is done
    beast::flat_buffer in_;
    std::deque<std::vector<std::uint8_t>> queue_;
    std::size_t queued_bytes_ = 0;
    bool writing_ = false, closing_ = false, ended_ = false;
    Clock::time_point write_started_, close_asked_;
};

// A TCP connection until it turns into a relay client: it reads requests
// and answers them, one after the other while the browser keeps it alive.
class HttpConnection : public std::enable_shared_from_this<HttpConnection> {
  public:
    HttpConnection(tcp::socket socket, Front& front) : stream_(std::move(socket)), front_(front) {
        ++front_.http_connections;
    }
    ~HttpConnection() { --front_.http_connections; }
    HttpConnection(const HttpConnection&) = delete;
    HttpConnection& operator=(const HttpConnection&) = delete;

    void read_request() {
        parser_.emplace();
        parser_->header_limit(request_header_max);
        parser_->body_limit(request_body_max);
        stream_.expires_after(request_time);
        http::async_read(stream_, buffer_, *parser_,
                         [self = shared_from_this()](beast::error_code error, std::size_t) {
                             if (!error) self->answer();
                         });
    }

  private:
    void answer() {
        const http::request<http::string_body>& request = parser_->get();
        const std::string_view target(request.target().data(), request.target().size());
        const std::string_view path = target.substr(0, target.find('?'));
        if (path == relay_path) {
            if (!websocket::is_upgrade(request))
                return reply(http::status::upgrade_required, "WebSocket only\n");
            const auto session = std::make_shared<WebSession>(std::move(stream_), front_);
            return session->start(parser_->release());
        }
        if (request.method() != http::verb::get && request.method() != http::verb::head)
            return reply(http::status::method_not_allowed, "GET or HEAD only\n");
        std::optional<std::filesystem::path> file;
        if (!front_.site.empty()) file = site_file(front_.site, target);
        http::file_body::value_type body;
        beast::error_code error;
        if (file) body.open(file->c_str(), beast::file_mode::scan, error);
        if (!file || error) return reply(http::status::not_found, "Not found\n");

        if (request.method() == http::verb::head) {
            http::response<http::empty_body> head{http::status::ok, request.version()};
            describe(head, *file);
            head.content_length(body.size());
            return respond(std::move(head));
        }
        http::response<http::file_body> response{
            std::piecewise_construct, std::make_tuple(std::move(body)),
            std::make_tuple(http::status::ok, request.version())};
        describe(response, *file);
        response.prepare_payload();
        respond(std::move(response));
    }

    template <typename Body>
    void describe(http::response<Body>& response, const std::filesystem::path& file) {
        const std::string_view type = content_type(file);
        response.set(http::field::content_type, beast::string_view(type.data(), type.size()));
        response.set(http::field::cache_control, "no-cache");
        response.keep_alive(parser_->get().keep_alive());
    }

    void reply(http::status status, std::string_view text) {
        http::response<http::string_body> response{status, parser_->get().version()};
        response.set(http::field::content_type, "text/plain; charset=utf-8");
        if (status == http::status::method_not_allowed)
            response.set(http::field::allow, "GET, HEAD");
        if (status == http::status::upgrade_required)
            response.set(http::field::upgrade, "websocket");
        response.keep_alive(parser_->get().keep_alive());
        response.body() = std::string(text);
        response.prepare_payload();
        respond(std::move(response));
    }

    template <typename Body>
    void respond(http::response<Body>&& response) {
        const auto held = std::make_shared<http::response<Body>>(std::move(response));
        stream_.expires_after(response_time);
        http::async_write(stream_, *held,
                          [self = shared_from_this(), held](beast::error_code error, std::size_t) {
                              if (error) return;
                              if (held->keep_alive()) return self->read_request();
                              beast::error_code ignored;
                              self->stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
                          });
    }

    beast::tcp_stream stream_;
    Front& front_;
    beast::flat_buffer buffer_{request_header_max + request_body_max};
    std::optional<http::request_parser<http::string_body>> parser_;
};

}  // namespace

struct WebFront::Impl : Front {};

void Front::accept() {
    acceptor.async_accept([this](beast::error_code error, tcp::socket socket) {
        if (error == asio::error::operation_aborted) return;
        if (error) {
            accept_timer.expires_after(accept_pause);
            accept_timer.async_wait([this](beast::error_code e) {
                if (!e) accept();
            });
            return;
        }
        // Beyond the limit a connection is closed at once, as it goes out
        // of scope here.
        if (http_connections < http_connections_max)
            std::make_shared<HttpConnection>(std::move(socket), *this)->read_request();
        accept();
    });
}

void Front::sweep() {
    const Clock::time_point now = Clock::now();
    if (now - last_sweep < sweep_every) return;
    last_sweep = now;
    for (const auto& [id, session] : clients)
        if (session->stalled(now)) session->abort();
}

WebFront::WebFront(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
WebFront::~WebFront() = default;

std::unique_ptr<WebFront> WebFront::open(const WebFrontOptions& options, WebClientEvents events,
                                         std::string& error) {
    auto impl = std::make_unique<Impl>();
    impl->events = std::move(events);
    impl->site = options.site;
    impl->message_size_max = options.message_size_max;
    beast::error_code failed;
    const asio::ip::address_v4 address = options.bind.empty()
                                             ? asio::ip::address_v4::any()
                                             : asio::ip::make_address_v4(options.bind, failed);
    const tcp::endpoint endpoint(address, options.port);
    if (!failed) impl->acceptor.open(endpoint.protocol(), failed);
    if (!failed) impl->acceptor.set_option(tcp::acceptor::reuse_address(true), failed);
    if (!failed) impl->acceptor.bind(endpoint, failed);
    if (!failed) impl->acceptor.listen(asio::socket_base::max_listen_connections, failed);
    if (failed) {
        error = "cannot listen on " + address.to_string() + ":" + std::to_string(options.port) +
                " over TCP (" + failed.message() + ")";
        return nullptr;
    }
    const int watched = ::dup(options.enet_socket);
    if (watched < 0) {
        error = "cannot watch the UDP socket";
        return nullptr;
    }
    impl->enet_watch.assign(watched);
    impl->accept();
    return std::unique_ptr<WebFront>(new WebFront(std::move(impl)));
}

void WebFront::wait(int timeout_ms) {
    Impl& s = *impl_;
    if (!s.enet_watched) {
        s.enet_watched = true;
        s.enet_watch.async_wait(asio::posix::stream_descriptor::wait_read,
                                [&s](beast::error_code) { s.enet_watched = false; });
    }
    if (s.io.stopped()) s.io.restart();
    s.io.run_one_for(std::chrono::milliseconds(timeout_ms));
    s.io.poll();
    s.sweep();
}

bool WebFront::send(net::ClientId client, std::span<const std::uint8_t> bytes, bool reliable) {
    const auto found = impl_->clients.find(client);
    return found == impl_->clients.end() || found->second->send(bytes, reliable);
}

void WebFront::close(net::ClientId client, bool queue_first) {
    const auto found = impl_->clients.find(client);
    if (found != impl_->clients.end()) found->second->close(queue_first);
}

std::size_t WebFront::queued_bytes() const { return impl_->queued_bytes; }
std::size_t WebFront::http_connections() const { return impl_->http_connections; }

}  // namespace zobra::netio
