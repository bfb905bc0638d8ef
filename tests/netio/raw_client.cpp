#include "netio/raw_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <stdexcept>
#include <thread>

namespace zobra::test {

namespace {

using Clock = std::chrono::steady_clock;

// Waits this long in ENet at a time, so that a loop both sleeps and reacts.
constexpr enet_uint32 service_ms = 2;
// A crowd's connection that gets no answer fails after 0.5 to 1 s.
constexpr enet_uint32 crowd_timeout_min_ms = 500;
constexpr enet_uint32 crowd_timeout_max_ms = 1000;

ENetAddress loopback(std::uint16_t port) {
    ENetAddress address{};
    enet_address_set_host_ip(&address, "127.0.0.1");
    address.port = port;
    return address;
}

ENetHost* client_host(std::size_t peers) {
    static const bool started = enet_initialize() == 0;
    if (!started) throw std::runtime_error("ENet cannot start");
    ENetHost* host = enet_host_create(nullptr, peers, 2, 0, 0);
    if (host == nullptr) throw std::runtime_error("no ENet host for a test client");
    return host;
}

}  // namespace

RawClient::RawClient(std::uint16_t port) : host_(client_host(1)) {
    const ENetAddress address = loopback(port);
    peer_ = enet_host_connect(host_, &address, 2, 0);
    if (peer_ == nullptr) throw std::runtime_error("no ENet peer for a test client");
    enet_peer_timeout(peer_, 0, 2000, 4000);
}

RawClient::~RawClient() {
    if (peer_ != nullptr && !closed_) {
        enet_peer_disconnect_now(peer_, 0);
        enet_host_flush(host_);
    }
    enet_host_destroy(host_);
}

void RawClient::pump() {
    ENetEvent event;
    while (!closed_ && enet_host_service(host_, &event, service_ms) > 0) {
        switch (event.type) {
            case ENET_EVENT_TYPE_CONNECT:
                connected_ = true;
                break;
            case ENET_EVENT_TYPE_RECEIVE: {
                std::optional<net::Message> message = net::decode(
                    std::span<const std::uint8_t>(event.packet->data, event.packet->dataLength));
                if (message)
                    messages_.push_back(std::move(*message));
                else
                    ++undecodable_;
                enet_packet_destroy(event.packet);
                break;
            }
            case ENET_EVENT_TYPE_DISCONNECT:
                closed_ = true;
                break;
            case ENET_EVENT_TYPE_NONE:
                break;
        }
    }
}

bool RawClient::wait_connected(std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    while (!connected_ && !closed_ && Clock::now() < deadline) pump();
    return connected_ && !closed_;
}

bool RawClient::wait_closed(std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    while (!closed_ && Clock::now() < deadline) pump();
    return closed_;
}

void RawClient::send(const net::Message& message, bool reliable) {
    send_bytes(net::encode(message), reliable);
}

void RawClient::send_bytes(std::span<const std::uint8_t> bytes, bool reliable) {
    ENetPacket* packet = enet_packet_create(bytes.data(), bytes.size(),
                                            reliable ? enet_uint32{ENET_PACKET_FLAG_RELIABLE} : 0u);
    if (enet_peer_send(peer_, reliable ? 0 : 1, packet) != 0) enet_packet_destroy(packet);
    enet_host_flush(host_);
}

Crowd::Crowd(std::uint16_t port, std::size_t size) : host_(client_host(size)) {
    const ENetAddress address = loopback(port);
    for (std::size_t i = 0; i < size; ++i) {
        ENetPeer* peer = enet_host_connect(host_, &address, 2, 0);
        if (peer == nullptr) throw std::runtime_error("no ENet peer for the crowd");
        enet_peer_timeout(peer, 0, crowd_timeout_min_ms, crowd_timeout_max_ms);
        peer->data = reinterpret_cast<void*>(i);
        peers_.push_back(peer);
    }
    state_.assign(size, 0);
    enet_host_flush(host_);
}

Crowd::~Crowd() {
    for (std::size_t i = 0; i < peers_.size(); ++i)
        if (state_[i] != 2) enet_peer_reset(peers_[i]);
    enet_host_destroy(host_);
}

void Crowd::pump() {
    ENetEvent event;
    while (enet_host_service(host_, &event, service_ms) > 0) {
        const auto i = reinterpret_cast<std::size_t>(event.peer->data);
        switch (event.type) {
            case ENET_EVENT_TYPE_CONNECT:
                state_[i] = 1;
                ++accepted_;
                break;
            case ENET_EVENT_TYPE_DISCONNECT:
                state_[i] = 2;
                break;
            case ENET_EVENT_TYPE_RECEIVE:
                enet_packet_destroy(event.packet);
                break;
            case ENET_EVENT_TYPE_NONE:
                break;
        }
    }
}

bool Crowd::settled() const { return std::find(state_.begin(), state_.end(), 0) == state_.end(); }

void Crowd::send_all(std::span<const std::uint8_t> bytes) {
    for (std::size_t i = 0; i < peers_.size(); ++i) {
        if (state_[i] != 1) continue;
        ENetPacket* packet =
            enet_packet_create(bytes.data(), bytes.size(), ENET_PACKET_FLAG_RELIABLE);
        if (enet_peer_send(peers_[i], 0, packet) != 0) enet_packet_destroy(packet);
    }
    enet_host_flush(host_);
}

void Crowd::close_all() {
    for (std::size_t i = 0; i < peers_.size(); ++i)
        if (state_[i] == 1) enet_peer_disconnect(peers_[i], 0);
    enet_host_flush(host_);
}

std::size_t Crowd::up() const { return std::size_t(std::count(state_.begin(), state_.end(), 1)); }
std::size_t Crowd::failed() const {
    return std::size_t(std::count(state_.begin(), state_.end(), 2));
}

void send_datagrams(std::uint16_t port, const std::vector<std::vector<std::uint8_t>>& datagrams) {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) throw std::runtime_error("no UDP socket");
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(port);
    for (const std::vector<std::uint8_t>& bytes : datagrams)
        sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to),
               sizeof to);
    close(fd);
}

}  // namespace zobra::test
