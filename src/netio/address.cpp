#include "netio/address.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace zobra::netio {

namespace {

// A DNS name is at most this long; a longer text is a typing mistake.
constexpr std::size_t host_size_max = 253;

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

}  // namespace zobra::netio
