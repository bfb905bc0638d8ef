// What netio asks of the system itself rather than of ENet, on Windows: the
// machine's addresses from the IP helper library, and the text of the last
// Winsock error (Winsock keeps its own, not errno).

#include <winsock2.h>
// After winsock2.h, which must come before anything that includes windows.h.
#include <iphlpapi.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <string>
#include <vector>

#include "netio/address.h"
#include "netio/enet_setup.h"

namespace zobra::netio {

namespace {

// GetAdaptersAddresses says how much room it needs when given too little;
// the list can grow between two calls, so it is asked a few times.
constexpr ULONG adapters_room_first = 16u << 10;
constexpr int adapters_tries = 4;
// 127.0.0.0/8, the loopback network, wherever an adapter carries it.
constexpr unsigned char loopback_net = 127;
// FormatMessage's text of an error, a line at most.
constexpr DWORD error_text_size = 256;

std::string dotted(const in_addr& address) {
    const unsigned char* bytes = &address.S_un.S_un_b.s_b1;
    std::string text;
    for (int i = 0; i < 4; ++i) {
        if (i > 0) text += '.';
        text += std::to_string(static_cast<unsigned>(bytes[i]));
    }
    return text;
}

}  // namespace

std::vector<std::string> local_addresses() {
    std::vector<std::string> found;
    constexpr ULONG flags =
        GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
    std::vector<unsigned char> room(adapters_room_first);
    ULONG size = adapters_room_first;
    ULONG result = ERROR_BUFFER_OVERFLOW;
    for (int i = 0; i < adapters_tries && result == ERROR_BUFFER_OVERFLOW; ++i) {
        room.resize(size);
        result = GetAdaptersAddresses(AF_INET, flags, nullptr,
                                      reinterpret_cast<IP_ADAPTER_ADDRESSES*>(room.data()), &size);
    }
    if (result != NO_ERROR) return found;
    for (const auto* adapter = reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(room.data());
         adapter != nullptr; adapter = adapter->Next) {
        if (adapter->OperStatus != IfOperStatusUp || adapter->IfType == IF_TYPE_SOFTWARE_LOOPBACK)
            continue;
        for (const IP_ADAPTER_UNICAST_ADDRESS* unicast = adapter->FirstUnicastAddress;
             unicast != nullptr; unicast = unicast->Next) {
            const SOCKADDR* address = unicast->Address.lpSockaddr;
            if (address == nullptr || address->sa_family != AF_INET) continue;
            sockaddr_in ipv4{};
            std::copy_n(reinterpret_cast<const unsigned char*>(address), sizeof ipv4,
                        reinterpret_cast<unsigned char*>(&ipv4));
            if (ipv4.sin_addr.S_un.S_un_b.s_b1 == loopback_net) continue;
            found.push_back(dotted(ipv4.sin_addr));
        }
    }
    std::sort(found.begin(), found.end());
    found.erase(std::unique(found.begin(), found.end()), found.end());
    return found;
}

std::string last_socket_error() {
    const int code = WSAGetLastError();
    char text[error_text_size] = {};
    const DWORD length =
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                       static_cast<DWORD>(code), 0, text, error_text_size, nullptr);
    std::string said(text, length);
    // FormatMessage ends its text with a full stop and a line break.
    while (!said.empty() && (said.back() == '\n' || said.back() == '\r' || said.back() == '.'))
        said.pop_back();
    return said.empty() ? "Winsock error " + std::to_string(code) : said;
}

}  // namespace zobra::netio
