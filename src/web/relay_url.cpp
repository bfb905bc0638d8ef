#include "web/relay_url.h"

#include <cctype>
#include <charconv>

namespace zobra {

namespace {

constexpr std::size_t host_size_max = 253;

bool host_character(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '.' || c == '-';
}

bool ipv6_character(char c) {
    return std::isxdigit(static_cast<unsigned char>(c)) != 0 || c == ':' || c == '.';
}

// "host", "host:port", "[v6]" or "[v6]:port" split into host and port (0
// when none is given); nothing for anything else.
std::optional<std::pair<std::string_view, std::uint16_t>> split_address(std::string_view text) {
    std::string_view host = text;
    std::string_view port_text;
    if (text.starts_with('[')) {
        const std::size_t close = text.find(']');
        if (close == std::string_view::npos || close == 1) return std::nullopt;
        host = text.substr(0, close + 1);
        for (const char c : host.substr(1, close - 1))
            if (!ipv6_character(c)) return std::nullopt;
        const std::string_view rest = text.substr(close + 1);
        if (!rest.empty() && !rest.starts_with(':')) return std::nullopt;
        if (!rest.empty()) port_text = rest.substr(1);
        if (!rest.empty() && port_text.empty()) return std::nullopt;
    } else {
        const std::size_t colon = text.find(':');
        if (colon != std::string_view::npos) {
            host = text.substr(0, colon);
            port_text = text.substr(colon + 1);
            if (port_text.empty()) return std::nullopt;
        }
        if (host.empty() || host.size() > host_size_max || host.starts_with('.') ||
            host.starts_with('-'))
            return std::nullopt;
        for (const char c : host)
            if (!host_character(c)) return std::nullopt;
    }
    std::uint16_t port = 0;
    if (!port_text.empty()) {
        const auto [end, error] =
            std::from_chars(port_text.data(), port_text.data() + port_text.size(), port);
        if (error != std::errc{} || end != port_text.data() + port_text.size() || port == 0)
            return std::nullopt;
    }
    return std::pair{host, port};
}

std::string lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::string scheme(const PageOrigin& origin, std::string_view web, std::string_view secure_web) {
    return std::string(origin.secure ? secure_web : web) + "://";
}

std::string page_link(const PageOrigin& origin, std::string_view parameter, std::string_view code) {
    return scheme(origin, "http", "https") + lower(origin.host) + "/?" + std::string(parameter) +
           "=" + std::string(code);
}

}  // namespace

std::optional<std::string> relay_socket_url(std::string_view address, const PageOrigin& origin) {
    // The typed address is in capitals (the online screen's letters); the
    // browser's host never is.
    const std::string wanted = lower(address);
    const bool own = wanted.empty() || wanted == lower(origin.host);
    const std::string host_port = own ? lower(origin.host) : wanted;
    const auto split = split_address(host_port);
    if (!split) return std::nullopt;
    std::string url = scheme(origin, "ws", "wss") + std::string(split->first);
    // The page's own relay is on the page's port, whatever it is (none for
    // 80 or 443); another one on the port typed or the relay's usual one.
    if (split->second != 0)
        url += ":" + std::to_string(split->second);
    else if (!own)
        url += ":" + std::to_string(relay_port_default);
    return url + std::string(relay_path);
}

std::string room_link(const PageOrigin& origin, std::string_view code) {
    return page_link(origin, "room", code);
}

std::string watch_link(const PageOrigin& origin, std::string_view code) {
    return page_link(origin, "watch", code);
}

}  // namespace zobra
