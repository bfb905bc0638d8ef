#pragma once
// Where the page finds a relay: a WebSocket address on the relay's TCP port,
// path /relay. The relay the page came from is its "own" one (a room opened
// on the page, a link); an address typed as "host" or "host:port" names
// another. Plain text, no browser calls, so that it is tested on the desktop.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zobra {

inline constexpr std::string_view relay_path = "/relay";
// The relay's usual port, when a typed address names none.
inline constexpr std::uint16_t relay_port_default = 47320;

// What the page's address says about where it came from.
struct PageOrigin {
    bool secure = false;  // https: a WebSocket to a relay must be wss too
    std::string host;     // "host" or "host:port" as the browser's address bar has it
};

// The WebSocket address for a relay address as the online screen holds it:
// the page's origin relay for an empty address or the page's own host,
// otherwise the typed "host[:port]" (a bracketed IPv6 address too). Nothing
// for text that is no host.
std::optional<std::string> relay_socket_url(std::string_view address, const PageOrigin& origin);

// The link that brings another player into room `code` on the page's
// origin relay (?room=CODE), or that lets them watch it (?watch=CODE).
std::string room_link(const PageOrigin& origin, std::string_view code);
std::string watch_link(const PageOrigin& origin, std::string_view code);

}  // namespace zobra
