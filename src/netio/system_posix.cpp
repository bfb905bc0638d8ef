// What netio asks of the system itself rather than of ENet, on Linux and
// other POSIX systems: the machine's addresses and the text of a socket
// error. system_windows.cpp answers the same on Windows.

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "netio/address.h"
#include "netio/enet_setup.h"

namespace zobra::netio {

namespace {

// 127.0.0.0/8, the loopback network, wherever an interface carries it.
constexpr std::uint32_t loopback_net = 127;
constexpr int loopback_shift = 24;

}  // namespace

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

std::string last_socket_error() { return std::strerror(errno); }

}  // namespace zobra::netio
