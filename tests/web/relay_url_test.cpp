// Where the page looks for a relay: the page's own (the one that served it)
// for rooms opened there and for links, any other by the address typed; a
// page on https reaches relays over wss only, as browsers allow no plain
// WebSocket from a secure page.

#include "web/relay_url.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace zobra {
namespace {

struct RelayCase {
    PageOrigin origin;
    std::string address;  // as the online screen holds it
    std::optional<std::string> url;
};

TEST(RelayAddress, APageFindsItsOwnRelayOnItsOriginAndAnyOtherOnThePortTypedOrTheUsualOne) {
    const PageOrigin local{false, "127.0.0.1:8123"};
    const PageOrigin proxied{true, "zobra.example"};
    const std::vector<RelayCase> cases{
        // Its own: the page's host and port, the scheme of the page.
        {local, "", "ws://127.0.0.1:8123/relay"},
        {local, "127.0.0.1:8123", "ws://127.0.0.1:8123/relay"},
        {proxied, "", "wss://zobra.example/relay"},
        {proxied, "ZOBRA.EXAMPLE", "wss://zobra.example/relay"},
        {{false, "[::1]:9000"}, "", "ws://[::1]:9000/relay"},
        // Another, typed in the online screen's capitals.
        {local, "192.168.1.20", "ws://192.168.1.20:47320/relay"},
        {local, "192.168.1.20:5000", "ws://192.168.1.20:5000/relay"},
        {proxied, "RELAY.EXAMPLE:443", "wss://relay.example:443/relay"},
        {local, "[FE80::1]", "ws://[fe80::1]:47320/relay"},
        {local, "[::1]:47321", "ws://[::1]:47321/relay"},
        // Text that names no host.
        {local, "HOST:", std::nullopt},
        {local, ":47320", std::nullopt},
        {local, "HOST:0", std::nullopt},
        {local, "HOST:70000", std::nullopt},
        {local, "HOST:12AB", std::nullopt},
        {local, "-HOST", std::nullopt},
        {local, "A/B", std::nullopt},
        {local, "[]", std::nullopt},
        {local, "[::1", std::nullopt},
        {local, "[::1]X", std::nullopt},
        {local, "[G::1]", std::nullopt},
        {{false, ""}, "", std::nullopt},
    };
    for (const RelayCase& c : cases)
        EXPECT_EQ(relay_socket_url(c.address, c.origin), c.url)
            << c.origin.host << " asked for \"" << c.address << "\"";
}

TEST(RelayAddress, ARoomsLinkOpensThePageWhereItCameFromWithTheCode) {
    EXPECT_EQ(room_link({false, "127.0.0.1:8123"}, "K7QX"), "http://127.0.0.1:8123/?room=K7QX");
    EXPECT_EQ(room_link({true, "Zobra.Example"}, "K7QX"), "https://zobra.example/?room=K7QX");
    EXPECT_EQ(watch_link({true, "zobra.example"}, "K7QX"), "https://zobra.example/?watch=K7QX");
}

}  // namespace
}  // namespace zobra
