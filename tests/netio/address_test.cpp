// What a player may type as a relay's address, and the addresses a hosting
// machine shows.

#include "netio/address.h"

#include <enet/enet.h>
#include <gtest/gtest.h>

#include <algorithm>

namespace zobra::netio {
namespace {

using Address = std::optional<std::pair<std::string, std::uint16_t>>;

TEST(RelayAddress, ANameOrDottedAddressWithAnOptionalPortIsTakenAndNothingElse) {
    const std::pair<const char*, Address> table[] = {
        {"relay.example.org", std::pair{"relay.example.org", default_relay_port}},
        {"192.168.1.20", std::pair{"192.168.1.20", default_relay_port}},
        {"1.2.3.4:5", std::pair{"1.2.3.4", 5}},
        {"localhost:65535", std::pair{"localhost", 65535}},
        {"my-box:47321", std::pair{"my-box", 47321}},
        {"", std::nullopt},
        {":47320", std::nullopt},
        {"host:", std::nullopt},
        {"host:0", std::nullopt},
        {"host:65536", std::nullopt},
        {"host:99999999999", std::nullopt},
        {"host:+5", std::nullopt},
        {"host:-5", std::nullopt},
        {"host:5x", std::nullopt},
        {"host: 5", std::nullopt},
        {"ho st", std::nullopt},
        {"::1", std::nullopt},
        {"[::1]:5", std::nullopt},
        {"host:5:6", std::nullopt},
        {"relay\n", std::nullopt},
        {"zobra://relay", std::nullopt},
    };
    for (const auto& [text, expected] : table)
        EXPECT_EQ(parse_relay_address(text), expected) << text;
    EXPECT_EQ(parse_relay_address(std::string(253, 'a')).value().first.size(), 253u);
    EXPECT_FALSE(parse_relay_address(std::string(254, 'a')));
}

TEST(RelayAddress, TheMachinesAddressesAreDottedNotLoopbackSortedAndEachOneTypesBackIn) {
    const std::vector<std::string> addresses = local_addresses();
    EXPECT_TRUE(std::is_sorted(addresses.begin(), addresses.end()));
    EXPECT_EQ(std::adjacent_find(addresses.begin(), addresses.end()), addresses.end());
    for (const std::string& address : addresses) {
        ENetAddress parsed{};
        ASSERT_EQ(enet_address_set_host_ip(&parsed, address.c_str()), 0) << address;
        EXPECT_NE(ENET_NET_TO_HOST_32(parsed.host) >> 24, 127u) << address;
        EXPECT_EQ(parse_relay_address(address), (std::pair{address, default_relay_port}));
    }
}

}  // namespace
}  // namespace zobra::netio
