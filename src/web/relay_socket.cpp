#include "web/relay_socket.h"

#include <emscripten/websocket.h>

#include <chrono>
#include <cstdint>
#include <utility>
#include <vector>

namespace zobra {

namespace {

enum class Stage : std::uint8_t { Opening, Open, Lost, Closed };

// A normal close, as the WebSocket standard numbers it.
constexpr unsigned short close_normal = 1000;
// The socket's ready state while it is open.
constexpr unsigned short websocket_open = 1;

net::Micros micros_now() {
    return static_cast<net::Micros>(std::chrono::duration_cast<std::chrono::microseconds>(
                                        std::chrono::steady_clock::now().time_since_epoch())
                                        .count());
}

}  // namespace

// The browser's callbacks write here between frames. The queue is one
// buffer of bytes and the sizes of the messages in it, both kept and reused
// from frame to frame, so that a steady match allocates nothing on the way
// in.
struct RelaySocket::Impl {
    EMSCRIPTEN_WEBSOCKET_T socket = 0;
    std::shared_ptr<net::OnlineClient> client;
    Stage stage = Stage::Opening;
    bool opened = false;  // the browser said so; the client hears it on the next pump
    bool told_connected = false;
    bool told_lost = false;
    std::optional<net::Micros> started;
    std::string problem;
    std::vector<std::uint8_t> queued;
    std::vector<std::uint32_t> sizes;

    void take(std::span<const std::uint8_t> bytes);
    void hand_over(net::Micros now);
    void send_outbox();
    void lose(std::string why);
};

void RelaySocket::Impl::take(std::span<const std::uint8_t> bytes) {
    // A message no relay sends is dropped, as the ENet connection drops one.
    if (bytes.size() > net::message_size_max) return;
    queued.insert(queued.end(), bytes.begin(), bytes.end());
    sizes.push_back(static_cast<std::uint32_t>(bytes.size()));
    if (queued.size() > socket_queue_bytes_max) {
        const net::Micros now = micros_now();
        hand_over(now);
        send_outbox();
    }
}

void RelaySocket::Impl::hand_over(net::Micros now) {
    if (opened && !told_connected) {
        told_connected = true;
        client->connected(now);
    }
    std::size_t at = 0;
    for (const std::uint32_t size : sizes) {
        client->received(std::span<const std::uint8_t>(queued.data() + at, size), now);
        at += size;
    }
    queued.clear();
    sizes.clear();
}

void RelaySocket::Impl::send_outbox() {
    if (stage != Stage::Open) return;
    // A socket the relay is closing takes nothing more: the close event
    // that tells so may still be on its way (a page hidden meanwhile).
    unsigned short state = 0;
    if (emscripten_websocket_get_ready_state(socket, &state) != EMSCRIPTEN_RESULT_SUCCESS ||
        state != websocket_open) {
        lose("the relay closed the connection");
        return;
    }
    for (net::ToRelay& out : client->outbox())
        emscripten_websocket_send_binary(socket, out.bytes.data(),
                                         static_cast<std::uint32_t>(out.bytes.size()));
    client->outbox().clear();
}

void RelaySocket::Impl::lose(std::string why) {
    if (stage == Stage::Lost || stage == Stage::Closed) return;
    stage = Stage::Lost;
    problem = std::move(why);
}

namespace {

RelaySocket::Impl& impl_of(void* data) { return *static_cast<RelaySocket::Impl*>(data); }

EM_BOOL on_open(int, const EmscriptenWebSocketOpenEvent*, void* data) {
    RelaySocket::Impl& c = impl_of(data);
    if (c.stage != Stage::Opening) return EM_TRUE;
    c.stage = Stage::Open;
    c.opened = true;
    return EM_TRUE;
}

EM_BOOL on_message(int, const EmscriptenWebSocketMessageEvent* event, void* data) {
    RelaySocket::Impl& c = impl_of(data);
    // The relay speaks in binary messages only; text is none of its.
    if (c.stage != Stage::Open || event->isText != 0) return EM_TRUE;
    c.take(std::span<const std::uint8_t>(event->data, event->numBytes));
    return EM_TRUE;
}

EM_BOOL on_error(int, const EmscriptenWebSocketErrorEvent*, void* data) {
    RelaySocket::Impl& c = impl_of(data);
    c.lose(c.stage == Stage::Open ? "the connection to the relay failed"
                                  : "the relay did not take the connection");
    return EM_TRUE;
}

EM_BOOL on_close(int, const EmscriptenWebSocketCloseEvent* event, void* data) {
    RelaySocket::Impl& c = impl_of(data);
    c.lose((c.opened ? std::string("the relay closed the connection (")
                     : std::string("the relay did not take the connection (")) +
           std::to_string(event->code) + ")");
    return EM_TRUE;
}

}  // namespace

RelaySocket::RelaySocket(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
RelaySocket::~RelaySocket() { close(); }

std::unique_ptr<RelaySocket> RelaySocket::open(const std::string& url,
                                               std::shared_ptr<net::OnlineClient> client,
                                               std::string& error) {
    if (emscripten_websocket_is_supported() == 0) {
        error = "this browser has no WebSocket";
        return nullptr;
    }
    EmscriptenWebSocketCreateAttributes attributes;
    emscripten_websocket_init_create_attributes(&attributes);
    attributes.url = url.c_str();
    const EMSCRIPTEN_WEBSOCKET_T socket = emscripten_websocket_new(&attributes);
    if (socket <= 0) {
        error = "the browser refused a WebSocket to " + url;
        return nullptr;
    }
    auto impl = std::make_unique<Impl>();
    impl->socket = socket;
    impl->client = std::move(client);
    void* data = impl.get();
    emscripten_websocket_set_onopen_callback(socket, data, on_open);
    emscripten_websocket_set_onmessage_callback(socket, data, on_message);
    emscripten_websocket_set_onerror_callback(socket, data, on_error);
    emscripten_websocket_set_onclose_callback(socket, data, on_close);
    return std::unique_ptr<RelaySocket>(new RelaySocket(std::move(impl)));
}

void RelaySocket::pump(net::Micros now) {
    Impl& c = *impl_;
    if (c.stage == Stage::Closed) return;
    if (!c.started) c.started = now;
    if (c.stage == Stage::Opening && now - *c.started > socket_open_timeout)
        c.lose("no answer from the relay in time");
    // What came before a loss still counts: the relay's last words may be
    // the end of the match.
    c.hand_over(now);
    if (c.stage == Stage::Lost) {
        if (!c.told_lost) {
            c.told_lost = true;
            c.client->lost(now);
        }
        return;
    }
    c.send_outbox();
}

void RelaySocket::close() {
    Impl& c = *impl_;
    if (c.socket > 0) {
        // Leaves no callback behind that could reach the queue once it is gone.
        emscripten_websocket_close(c.socket, close_normal, "");
        emscripten_websocket_delete(c.socket);
        c.socket = 0;
    }
    c.stage = Stage::Closed;
}

bool RelaySocket::is_connected() const { return impl_->stage == Stage::Open; }
bool RelaySocket::is_lost() const { return impl_->stage == Stage::Lost; }
const std::string& RelaySocket::problem() const { return impl_->problem; }

}  // namespace zobra
