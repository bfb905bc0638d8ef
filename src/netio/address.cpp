#include "netio/address.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <algorithm>
#include <cctype>
#include <charconv>

namespace zobra::netio {

namespace {

// A DNS name is at most this long; a longer text is a typing mistake.
constexpr std::size_t host_size_max = 253;
// 127.0.0.0/8, the loopback network, wherever an interface carries it.
constexpr std::uint32_t loopback_net = 127;
constexpr int loopback_shift = 24;

// Letters, digits, dots and hyphens: names and dotted addresses. Anything
// else (spaces, a second colon, brackets) is no host this game can reach.
bool plausible_host(std::string_view host) {
    if (host.empty() || host.size() > host_size_max) return false;
    return std::all_of(host.begin(), host.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '.' || c == '-';
    });
}

}  // namespace

std::optional<std::pair<std::string, std::uint16_t>> parse_relay_address(std::string_view text) {
    const std::size_t colon = text.find(':');
    const std::string_view host = text.substr(0, colon);
    if (!plausible_host(host)) return std::nullopt;
    if (colon == std::string_view::npos) return std::pair{std::string(host), default_relay_port};

    const std::string_view digits = text.substr(colon + 1);
    std::uint32_t port = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), port);
    if (digits.empty() || error != std::errc{} || end != digits.data() + digits.size() ||
        !std::isdigit(static_cast<unsigned char>(digits.front())) || port == 0 || port > UINT16_MAX)
        return std::nullopt;
    return std::pair{std::string(host), static_cast<std::uint16_t>(port)};
}

std::vector<std::string> local_addresses() {
    std::vector<std::string> found;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return found;
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) continue;
        if ((entry->ifa_flags & IFF_UP) == 0 || (entry->ifa_flags & IFF_LOOPBACK) != 0) continue;
        sockaddr_in address{};
        std::copy_n(reinterpret_cast<const unsigned char*>(entry->ifa_addr), sizeof address,
                    reinterpret_cast<unsigned char*>(&address));
        if (ntohl(address.sin_addr.s_addr) >> loopback_shift == loopback_net) continue;
        char text[INET_ADDRSTRLEN] = {};
        if (inet_ntop(AF_INET, &address.sin_addr, text, sizeof text) == nullptr) continue;
        found.emplace_back(text);
    }
    freeifaddrs(list);
    std::sort(found.begin(), found.end());
    found.erase(std::unique(found.begin(), found.end()), found.end());
    return found;
}

}  // namespace zobra::netio
