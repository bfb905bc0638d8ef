#include "netio/enet_setup.h"

#include <mutex>

namespace zobra::netio {

bool start_enet() {
    // The game may host and join in one process, and tests open many
    // servers and connections: ENet is started once and left running to
    // the end, when the process's exit closes its sockets anyway.
    static std::once_flag once;
    static bool started = false;
    std::call_once(once, [] { started = enet_initialize() == 0; });
    return started;
}

bool send_bytes(ENetPeer* peer, const std::uint8_t* data, std::size_t size, bool reliable) {
    ENetPacket* packet =
        enet_packet_create(data, size, reliable ? enet_uint32{ENET_PACKET_FLAG_RELIABLE} : 0u);
    if (packet == nullptr) return false;
    if (enet_peer_send(peer, reliable ? reliable_channel : unreliable_channel, packet) != 0) {
        if (packet->referenceCount == 0) enet_packet_destroy(packet);
        return false;
    }
    return true;
}

}  // namespace zobra::netio
