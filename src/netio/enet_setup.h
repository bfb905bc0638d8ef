#pragma once
// What the relay's server and the game's connection share about ENet: its
// start, once per process, and its host as an owned value.

#include <enet/enet.h>

#include <memory>
#include <string>

namespace zobra::netio {

// Starts ENet the first time it is asked; false if it cannot start. On
// Windows this also starts Winsock, which every socket call needs first.
bool start_enet();

// What the system said of the last socket call that failed ("Address
// already in use"), for a message; Windows keeps it apart from errno.
std::string last_socket_error();

struct HostDeleter {
    void operator()(ENetHost* host) const { enet_host_destroy(host); }
};
using HostPtr = std::unique_ptr<ENetHost, HostDeleter>;

// Reliable messages travel on one channel, the others on a second, so that
// a lost input never holds up the lobby or a state, nor the other way round.
inline constexpr enet_uint8 reliable_channel = 0;
inline constexpr enet_uint8 unreliable_channel = 1;
inline constexpr std::size_t channel_count = 2;

// Sends bytes to a peer on the channel their kind travels on; false if
// ENet could not queue them.
bool send_bytes(ENetPeer* peer, const std::uint8_t* data, std::size_t size, bool reliable);

}  // namespace zobra::netio
