#include "netio/relay_connection.h"

#include <mutex>
#include <optional>
#include <span>
#include <thread>

#include "netio/enet_setup.h"

namespace zobra::netio {

namespace {

// Once connected, a relay that stops answering is gone after at least
// this long, at most that (ENet's reckoning from the round trip between).
constexpr enet_uint32 timeout_min_ms = 3'000;
constexpr enet_uint32 timeout_max_ms = 8'000;
// Events handled in one pump at most, so that a frame stays short.
constexpr int events_per_pump_max = 1024;
// 127.0.0.0/8, the loopback network.
constexpr enet_uint32 loopback_net = 127;

// A name's look-up, which may wait on a name server for seconds, runs on a
// thread of its own that the connection never waits for; the connection
// looks at the answer on each pump, and forgets it when closed first.
struct Lookup {
    std::mutex mutex;
    bool done = false;
    std::optional<enet_uint32> host;
};

void look_up(const std::shared_ptr<Lookup>& lookup, const std::string& name) {
    std::thread([lookup, name] {
        ENetAddress address{};
        const bool found = enet_address_set_host(&address, name.c_str()) == 0;
        const std::lock_guard lock(lookup->mutex);
        lookup->done = true;
        if (found) lookup->host = address.host;
    }).detach();
}

enum class Stage : std::uint8_t { LookingUp, Connecting, Connected, Lost, Closed };

}  // namespace

struct RelayConnection::Impl {
    Stage stage = Stage::Connecting;
    std::string name;
    std::uint16_t port = 0;
    std::shared_ptr<Lookup> lookup;
    HostPtr host;
    ENetPeer* peer = nullptr;
    std::optional<net::Micros> started;
    std::string problem;

    bool start_connecting(enet_uint32 address);
    void lose(net::OnlineClient& client, net::Micros now, std::string why);
    void take_events(net::OnlineClient& client, net::Micros now);
};

bool RelayConnection::Impl::start_connecting(enet_uint32 address_host) {
    // A relay on this machine is reached from a socket on loopback only, so
    // that nothing from another address can reach the connection's port.
    ENetAddress local{};
    local.host = ENET_HOST_ANY;
    const bool loopback = (ENET_NET_TO_HOST_32(address_host) >> 24) == loopback_net;
    if (loopback) enet_address_set_host_ip(&local, "127.0.0.1");
    host.reset(enet_host_create(loopback ? &local : nullptr, 1, channel_count, 0, 0));
    if (host == nullptr) return false;
    host->maximumPacketSize = net::message_size_max;
    ENetAddress address{};
    address.host = address_host;
    address.port = port;
    peer = enet_host_connect(host.get(), &address, channel_count, 0);
    stage = Stage::Connecting;
    return peer != nullptr;
}

void RelayConnection::Impl::lose(net::OnlineClient& client, net::Micros now, std::string why) {
    stage = Stage::Lost;
    problem = std::move(why);
    if (peer != nullptr) enet_peer_reset(peer);
    peer = nullptr;
    client.outbox().clear();
    client.lost(now);
}

void RelayConnection::Impl::take_events(net::OnlineClient& client, net::Micros now) {
    ENetEvent event;
    for (int n = 0; n < events_per_pump_max && stage != Stage::Lost; ++n) {
        if (enet_host_service(host.get(), &event, 0) <= 0) return;
        switch (event.type) {
            case ENET_EVENT_TYPE_CONNECT:
                stage = Stage::Connected;
                enet_peer_timeout(event.peer, 0, timeout_min_ms, timeout_max_ms);
                client.connected(now);
                break;
            case ENET_EVENT_TYPE_RECEIVE:
                if (event.packet->dataLength <= net::message_size_max)
                    client.received(
                        std::span<const std::uint8_t>(event.packet->data, event.packet->dataLength),
                        now);
                enet_packet_destroy(event.packet);
                break;
            case ENET_EVENT_TYPE_DISCONNECT:
                peer = nullptr;  // ENet has let go of it already
                lose(client, now,
                     stage == Stage::Connected ? "the relay closed the connection"
                                               : "the relay did not take the connection");
                break;
            case ENET_EVENT_TYPE_NONE:
                break;
        }
    }
}

RelayConnection::RelayConnection(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
RelayConnection::~RelayConnection() { close(); }

std::unique_ptr<RelayConnection> RelayConnection::connect(const std::string& host,
                                                          std::uint16_t port, std::string& error) {
    if (host.empty() || port == 0) {
        error = "no relay address";
        return nullptr;
    }
    if (!start_enet()) {
        error = "ENet cannot start";
        return nullptr;
    }
    auto impl = std::make_unique<Impl>();
    impl->name = host;
    impl->port = port;
    ENetAddress address{};
    if (enet_address_set_host_ip(&address, host.c_str()) == 0) {
        if (!impl->start_connecting(address.host)) {
            error = "cannot connect to " + host + " (no UDP socket)";
            return nullptr;
        }
    } else {
        impl->stage = Stage::LookingUp;
        impl->lookup = std::make_shared<Lookup>();
        look_up(impl->lookup, host);
    }
    return std::unique_ptr<RelayConnection>(new RelayConnection(std::move(impl)));
}

void RelayConnection::pump(net::OnlineClient& client, net::Micros now) {
    Impl& c = *impl_;
    if (c.stage == Stage::Lost || c.stage == Stage::Closed) return;
    if (!c.started) c.started = now;

    if (c.stage == Stage::LookingUp) {
        std::optional<enet_uint32> found;
        bool done = false;
        {
            const std::lock_guard lock(c.lookup->mutex);
            done = c.lookup->done;
            found = c.lookup->host;
        }
        if (done && !found) return c.lose(client, now, "no address found for " + c.name);
        if (done && !c.start_connecting(*found))
            return c.lose(client, now, "cannot connect to " + c.name);
    }
    if (c.stage != Stage::Connected && now - *c.started > connect_timeout)
        return c.lose(client, now,
                      "no answer from " + c.name + ":" + std::to_string(c.port) + " in time");
    if (c.stage == Stage::LookingUp) return;

    c.take_events(client, now);
    if (c.stage != Stage::Connected) return;
    for (const net::ToRelay& out : client.outbox())
        send_bytes(c.peer, out.bytes.data(), out.bytes.size(), out.reliable);
    client.outbox().clear();
    enet_host_flush(c.host.get());
}

void RelayConnection::close() {
    Impl& c = *impl_;
    if (c.peer != nullptr && c.host != nullptr) {
        enet_peer_disconnect_now(c.peer, 0);
        enet_host_flush(c.host.get());
    }
    c.peer = nullptr;
    c.host.reset();
    c.stage = Stage::Closed;
}

bool RelayConnection::is_connected() const { return impl_->stage == Stage::Connected; }
bool RelayConnection::is_lost() const { return impl_->stage == Stage::Lost; }
const std::string& RelayConnection::problem() const { return impl_->problem; }

}  // namespace zobra::netio
