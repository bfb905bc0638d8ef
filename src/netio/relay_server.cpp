#include "netio/relay_server.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <random>
#include <vector>

#include "netio/enet_setup.h"
#if ZOBRA_WEBSOCKET
#include "netio/web_front.h"
#endif

namespace zobra::netio {

namespace {

// Peers beyond the relay's own client limit, so that a connection over the
// limit is answered and closed by the relay instead of going unanswered
// until the client gives up.
constexpr std::uint32_t spare_peers = 64;
static_assert(server_clients_max + spare_peers <= ENET_PROTOCOL_MAXIMUM_PEER_ID);
// Events handled in one round at most, so that a flood cannot keep the
// relay from confirming ticks on time.
constexpr int events_per_round_max = 4096;
// How often `run` looks at its stop flag, and how often silent peers are
// looked for.
constexpr int run_round_ms = 10;
constexpr net::Micros sweep_every = 250'000;
// What ENet may hold for one peer while it puts packets together.
constexpr std::size_t waiting_data_max = 64u << 10;
// A peer that stops answering is gone after at least this long, at most
// that (ENet's own reckoning in between, from the round trip).
constexpr enet_uint32 peer_timeout_min_ms = 5'000;
constexpr enet_uint32 peer_timeout_max_ms = 10'000;
// The allowance of packets is kept in millionths, so that it refills by
// whole numbers every microsecond.
constexpr std::uint64_t allowance_unit = 1'000'000;
constexpr net::Micros refill_span_max = 2'000'000;
// With port 0, ENet picks a free UDP port and TCP takes the same number;
// when that one is taken on TCP, another UDP port is tried, so often.
constexpr int free_port_tries = 16;

net::Micros clock_now() {
    return static_cast<net::Micros>(std::chrono::duration_cast<std::chrono::microseconds>(
                                        std::chrono::steady_clock::now().time_since_epoch())
                                        .count());
}

// The room codes and the rejoin tokens come from this seed: the system's
// entropy, so that a token cannot be worked out from the time the relay
// started.
std::uint64_t fresh_seed() {
    std::random_device entropy;
    return (std::uint64_t{entropy()} << 32 | entropy()) ^ clock_now();
}

std::size_t list_size_up_to(ENetList* list, std::size_t limit) {
    std::size_t n = 0;
    for (ENetListIterator it = enet_list_begin(list); it != enet_list_end(list) && n <= limit;
         it = enet_list_next(it))
        ++n;
    return n;
}

// The reliable commands a peer has not acknowledged yet, counted up to a
// limit: sent, and waiting to go. ENet 1.3.18 (the Windows build's) keeps
// those held back by a full window in a list of their own.
std::size_t unacknowledged_up_to(ENetPeer* peer, std::size_t limit) {
    std::size_t n = list_size_up_to(&peer->sentReliableCommands, limit) +
                    list_size_up_to(&peer->outgoingCommands, limit);
#if ENET_VERSION >= ENET_VERSION_CREATE(1, 3, 18)
    n += list_size_up_to(&peer->outgoingSendReliableCommands, limit);
#endif
    return n;
}

// One connection as the server keeps it; ENet's peer points back to it.
struct Peer {
    net::ClientId id = 0;
    ENetPeer* peer = nullptr;  // none for a WebSocket client
    net::Micros connected_at = 0;
    net::Micros refilled_at = 0;
    std::uint64_t allowance = 0;  // packets in millionths
    bool heard = false;           // it has sent a packet the relay read
    bool refused = false;         // the relay never took it as a client
    bool closing = false;         // asked to go; what it sends is ignored
};

}  // namespace

struct RelayServer::Impl {
    Impl(const RelayServerOptions& opts, net::RelayLimits limits,
         std::function<void(std::string_view)> log)
        : options(opts), relay(limits, opts.seed != 0 ? opts.seed : fresh_seed(), std::move(log)) {}
    // The players learn at once that their relay is gone (a hosting game
    // was closed) instead of waiting for their connections to time out.
    ~Impl() {
        for (auto& [id, p] : peers)
            if (p.peer != nullptr) enet_peer_disconnect_now(p.peer, 0);
    }
    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;

    RelayServerOptions options;
    HostPtr host;
    net::Relay relay;
    std::map<net::ClientId, Peer> peers;
#if ZOBRA_WEBSOCKET
    std::unique_ptr<WebFront> web;  // before the relay is gone: it calls back into it
#endif
    std::vector<std::pair<net::ClientId, bool>> to_close;  // and whether its queue goes out first
    net::ClientId next_id = 1;
    net::Micros last_sweep = 0;

    void handle(const ENetEvent& event, net::Micros now);
    net::ClientId connect(ENetPeer* peer, net::Micros now);
    void receive(Peer& p, std::span<const std::uint8_t> bytes, net::Micros now);
    void disconnected(net::ClientId id, net::Micros now);
    bool within_allowance(Peer& p, net::Micros now) const;
    void sweep_silent(net::Micros now);
    void send_outbox();
    void close_requested();
#if ZOBRA_WEBSOCKET
    bool open_web(std::string& error);
#endif
};

#if ZOBRA_WEBSOCKET
// The TCP side on the port number ENet took, its clients handed to the
// same checks as ENet's peers.
bool RelayServer::Impl::open_web(std::string& error) {
    WebFrontOptions web_options;
    web_options.bind = options.bind;
    web_options.port = host->address.port;
    web_options.site = options.site;
    web_options.message_size_max = options.packet_size_max;
    web_options.enet_socket = host->socket;
    web = WebFront::open(web_options,
                         {[this] { return connect(nullptr, clock_now()); },
                          [this](net::ClientId id, std::span<const std::uint8_t> bytes) {
                              if (const auto found = peers.find(id); found != peers.end())
                                  receive(found->second, bytes, clock_now());
                          },
                          [this](net::ClientId id) { disconnected(id, clock_now()); }},
                         error);
    return web != nullptr;
}
#endif

void RelayServer::Impl::handle(const ENetEvent& event, net::Micros now) {
    switch (event.type) {
        case ENET_EVENT_TYPE_CONNECT:
            connect(event.peer, now);
            break;
        case ENET_EVENT_TYPE_RECEIVE:
            if (event.peer->data != nullptr)
                receive(*static_cast<Peer*>(event.peer->data),
                        std::span(event.packet->data, event.packet->dataLength), now);
            enet_packet_destroy(event.packet);
            break;
        case ENET_EVENT_TYPE_DISCONNECT: {
            const Peer* p = static_cast<const Peer*>(event.peer->data);
            event.peer->data = nullptr;
            if (p != nullptr) disconnected(p->id, now);
            break;
        }
        case ENET_EVENT_TYPE_NONE:
            break;
    }
}

// A new client over either transport (`peer` is none for a WebSocket).
net::ClientId RelayServer::Impl::connect(ENetPeer* peer, net::Micros now) {
    // Ids are never 0 (a peer without one) and never one still in use,
    // even after the counter has gone round.
    while (next_id == 0 || peers.contains(next_id)) ++next_id;
    const net::ClientId id = next_id++;
    Peer& p = peers[id];
    p.id = id;
    p.peer = peer;
    if (peer != nullptr) {
        enet_peer_timeout(peer, 0, peer_timeout_min_ms, peer_timeout_max_ms);
        peer->data = &p;  // a map's element stays where it is until erased
    }
    p.connected_at = p.refilled_at = now;
    p.allowance = 2 * options.packets_per_second * allowance_unit;
    if (!relay.connected(id, now)) {
        p.refused = true;
        to_close.emplace_back(id, true);
    }
    return id;
}

void RelayServer::Impl::disconnected(net::ClientId id, net::Micros now) {
    const auto found = peers.find(id);
    if (found == peers.end()) return;
    if (!found->second.refused) relay.disconnected(id, now);
    peers.erase(found);
}

bool RelayServer::Impl::within_allowance(Peer& p, net::Micros now) const {
    const std::uint64_t rate = options.packets_per_second;
    const net::Micros span = std::min(now - p.refilled_at, refill_span_max);
    p.refilled_at = now;
    p.allowance = std::min(p.allowance + span * rate, 2 * rate * allowance_unit);
    if (p.allowance < allowance_unit) return false;
    p.allowance -= allowance_unit;
    return true;
}

void RelayServer::Impl::receive(Peer& p, std::span<const std::uint8_t> bytes, net::Micros now) {
    if (p.closing || p.refused) return;
    // The size is checked before anything reads the bytes; an empty or
    // oversized packet is never a message, and the relay is spared it.
    if (bytes.empty() || bytes.size() > options.packet_size_max) return;
    if (!within_allowance(p, now)) return;
    p.heard = true;
    relay.received(p.id, bytes, now);
}

void RelayServer::Impl::sweep_silent(net::Micros now) {
    if (now - last_sweep < sweep_every) return;
    last_sweep = now;
    const net::Micros limit = static_cast<net::Micros>(options.first_message_ms) * 1000;
    for (auto& [id, p] : peers)
        if (!p.heard && !p.closing && now - p.connected_at > limit)
            to_close.emplace_back(id, false);
}

void RelayServer::Impl::send_outbox() {
    for (const net::Outgoing& out : relay.outbox()) {
        const auto found = peers.find(out.to);
        if (found == peers.end() || found->second.closing) continue;
        ENetPeer* peer = found->second.peer;
#if ZOBRA_WEBSOCKET
        if (peer == nullptr) {
            if (!web->send(out.to, out.bytes, out.reliable)) to_close.emplace_back(out.to, false);
            continue;
        }
#endif
        if (out.reliable &&
            unacknowledged_up_to(peer, options.unacknowledged_max) > options.unacknowledged_max) {
            // It does not take what it is sent: everything it could be sent
            // would pile up here.
            to_close.emplace_back(out.to, false);
            continue;
        }
        send_bytes(peer, out.bytes.data(), out.bytes.size(), out.reliable);
    }
    relay.outbox().clear();
    for (const net::ClientId id : relay.to_close()) to_close.emplace_back(id, true);
    relay.to_close().clear();
}

void RelayServer::Impl::close_requested() {
    for (const auto& [id, queue_first] : to_close) {
        const auto found = peers.find(id);
        if (found == peers.end() || found->second.closing) continue;
        Peer& p = found->second;
        p.closing = true;
        // A refused hello still gets its answer before the connection
        // closes; a peer that hoards or stays silent gets nothing more.
        if (p.peer == nullptr) {
#if ZOBRA_WEBSOCKET
            web->close(id, queue_first);
#endif
        } else if (queue_first) {
            enet_peer_disconnect_later(p.peer, 0);
        } else {
            enet_peer_disconnect(p.peer, 0);
        }
    }
    to_close.clear();
}

RelayServer::RelayServer(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
RelayServer::~RelayServer() = default;

bool relay_speaks_websocket() { return ZOBRA_WEBSOCKET != 0; }

namespace {

std::string shown_address(const RelayServerOptions& options, std::uint16_t port) {
    return (options.bind.empty() ? std::string("0.0.0.0") : options.bind) + ":" +
           std::to_string(port);
}

}  // namespace

std::unique_ptr<RelayServer> RelayServer::open(const RelayServerOptions& options,
                                               std::function<void(std::string_view)> log,
                                               std::string& error) {
    if (!start_enet()) {
        error = "ENet cannot start";
        return nullptr;
    }
    ENetAddress address{};
    address.host = ENET_HOST_ANY;
    address.port = options.port;
    if (!options.bind.empty() && enet_address_set_host_ip(&address, options.bind.c_str()) != 0) {
        error = "'" + options.bind + "' is no IPv4 address";
        return nullptr;
    }
    if (!options.site.empty() && !(options.websocket && relay_speaks_websocket())) {
        error = "this relay serves no web page (it was built without WebSocket)";
        return nullptr;
    }
    std::error_code no_folder;
    if (!options.site.empty() && !std::filesystem::is_directory(options.site, no_folder)) {
        error = "'" + options.site + "' is no folder";
        return nullptr;
    }
    net::RelayLimits limits = options.limits;
    limits.clients_max = std::clamp<std::uint32_t>(limits.clients_max, 1, server_clients_max);
    auto impl = std::make_unique<Impl>(options, limits, std::move(log));
    const int tries = options.port == 0 ? free_port_tries : 1;
    for (int attempt = 1; attempt <= tries; ++attempt) {
        impl->host.reset(
            enet_host_create(&address, limits.clients_max + spare_peers, channel_count, 0, 0));
        if (impl->host == nullptr) {
            error = "cannot listen on " + shown_address(options, options.port) + " (" +
                    last_socket_error() + ")";
            return nullptr;
        }
        // ENet leaves a packet over its own limit unacknowledged, so that
        // the sender retries it until its connection times out; the
        // server's smaller limit for a client's packets drops them unread
        // instead.
        impl->host->maximumPacketSize = net::message_size_max;
        impl->host->maximumWaitingData = waiting_data_max;
#if ZOBRA_WEBSOCKET
        if (options.websocket && !impl->open_web(error)) continue;
#endif
        return std::unique_ptr<RelayServer>(new RelayServer(std::move(impl)));
    }
    return nullptr;
}

std::uint16_t RelayServer::port() const { return impl_->host->address.port; }
const net::Relay& RelayServer::relay() const { return impl_->relay; }
std::size_t RelayServer::peers() const { return impl_->peers.size(); }
std::size_t RelayServer::queued_bytes() const {
#if ZOBRA_WEBSOCKET
    if (impl_->web) return impl_->web->queued_bytes();
#endif
    return 0;
}

void RelayServer::serve(int timeout_ms) {
    Impl& s = *impl_;
    net::Micros now = clock_now();
    const net::Micros wake = s.relay.next_wakeup();
    enet_uint32 wait = static_cast<enet_uint32>(std::max(timeout_ms, 0));
    if (wake <= now)
        wait = 0;
    else if (const net::Micros until = (wake - now + 999) / 1000; until < wait)
        wait = static_cast<enet_uint32>(until);

        // With WebSocket clients the front does the waiting, for both
        // transports; ENet is then only asked for what came.
#if ZOBRA_WEBSOCKET
    if (s.web) {
        s.web->wait(static_cast<int>(wait));
        wait = 0;
    }
#endif
    ENetEvent event;
    int result = enet_host_service(s.host.get(), &event, wait);
    for (int handled = 0; result > 0 && handled < events_per_round_max; ++handled) {
        s.handle(event, clock_now());
        result = enet_host_service(s.host.get(), &event, 0);
    }
    if (result > 0) s.handle(event, clock_now());

    now = clock_now();
    s.sweep_silent(now);
    if (s.relay.next_wakeup() <= now) s.relay.advance(now);
    s.send_outbox();
    s.close_requested();
    enet_host_flush(s.host.get());
}

void RelayServer::run(const std::atomic<bool>& stop) {
    while (!stop.load()) serve(run_round_ms);
}

std::unique_ptr<RelayThread> RelayThread::start(const RelayServerOptions& options,
                                                std::function<void(std::string_view)> log,
                                                std::string& error) {
    std::unique_ptr<RelayServer> server = RelayServer::open(options, std::move(log), error);
    if (!server) return nullptr;
    return std::unique_ptr<RelayThread>(new RelayThread(std::move(server)));
}

RelayThread::RelayThread(std::unique_ptr<RelayServer> server)
    : server_(std::move(server)), port_(server_->port()) {
    thread_ = std::thread([this] { server_->run(stop_); });
}

RelayThread::~RelayThread() {
    stop_ = true;
    thread_.join();
}

}  // namespace zobra::netio
