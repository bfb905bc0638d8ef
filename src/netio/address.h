#pragma once
// Where a relay is: its default port, the address a player types, and the
// addresses a hosting machine shows so that others on its network can
// reach it.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zobra::netio {

// The UDP port a relay listens on unless told otherwise.
inline constexpr std::uint16_t default_relay_port = 47320;

// "host", "host:port" or "1.2.3.4:5" as a host and a port (the default
// port where none is given); nothing for text that names no host, a port
// outside 1 … 65535, or anything else after the colon.
std::optional<std::pair<std::string, std::uint16_t>> parse_relay_address(std::string_view text);

// The machine's IPv4 addresses on interfaces that are up, without the
// loopback ones, in order and without repeats.
std::vector<std::string> local_addresses();

}  // namespace zobra::netio
