#include "netio/raw_client.h"

#include <algorithm>
#include <stdexcept>

namespace zobra::test {

RawPeers::RawPeers(std::uint16_t port, std::size_t count, std::uint32_t timeout_ms)
    : state_(count, State::Waiting), messages_(count) {
    // Bound to loopback, as everything a test starts.
    static const bool started = enet_initialize() == 0;
    ENetAddress address{};
    enet_address_set_host_ip(&address, "127.0.0.1");
    host_ = started ? enet_host_create(&address, count, 2, 0, 0) : nullptr;
    if (host_ == nullptr) throw std::runtime_error("no ENet host for a test");
    address.port = port;
    for (std::size_t i = 0; i < count; ++i) {
        ENetPeer* peer = enet_host_connect(host_, &address, 2, 0);
        if (peer == nullptr) throw std::runtime_error("no ENet peer for a test");
        enet_peer_timeout(peer, 0, timeout_ms / 2, timeout_ms);
        peer->data = &state_[i];  // its place in the lists below
        peers_.push_back(peer);
    }
    enet_host_flush(host_);
}

RawPeers::~RawPeers() {
    for (std::size_t i = 0; i < peers_.size(); ++i)
        if (state_[i] == State::Up) enet_peer_disconnect_now(peers_[i], 0);
    enet_host_flush(host_);
    enet_host_destroy(host_);
}

void RawPeers::pump() {
    constexpr enet_uint32 wait_ms = 2;  // a loop around it both sleeps and reacts
    ENetEvent event;
    while (enet_host_service(host_, &event, wait_ms) > 0) {
        const auto i = std::size_t(static_cast<State*>(event.peer->data) - state_.data());
        if (event.type == ENET_EVENT_TYPE_CONNECT) {
            state_[i] = State::Up;
            ++accepted_;
        } else if (event.type == ENET_EVENT_TYPE_DISCONNECT) {
            state_[i] = State::Gone;
        } else if (event.type == ENET_EVENT_TYPE_RECEIVE) {
            if (auto message = net::decode({event.packet->data, event.packet->dataLength}))
                messages_[i].push_back(std::move(*message));
            else
                ++undecodable_;
            enet_packet_destroy(event.packet);
        }
    }
}

void RawPeers::send(std::size_t i, std::span<const std::uint8_t> bytes, bool reliable) {
    ENetPacket* packet = enet_packet_create(bytes.data(), bytes.size(),
                                            reliable ? enet_uint32{ENET_PACKET_FLAG_RELIABLE} : 0u);
    if (enet_peer_send(peers_[i], reliable ? 0 : 1, packet) != 0) enet_packet_destroy(packet);
    enet_host_flush(host_);
}

void RawPeers::send_all(std::span<const std::uint8_t> bytes) {
    for (std::size_t i = 0; i < peers_.size(); ++i)
        if (state_[i] == State::Up) send(i, bytes);
}

void RawPeers::close_all() {
    for (std::size_t i = 0; i < peers_.size(); ++i)
        if (state_[i] == State::Up) enet_peer_disconnect(peers_[i], 0);
    enet_host_flush(host_);
}

std::size_t RawPeers::count(State state) const {
    return std::size_t(std::count(state_.begin(), state_.end(), state));
}

}  // namespace zobra::test
