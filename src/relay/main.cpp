// zobra-relay: the relay on its own, for play over the internet. It keeps
// rooms for the games that connect (over UDP, or from the web page over
// WebSocket on the same port number), and with --site serves the page
// itself. It referees their matches and logs one
// line per room event to standard output (no time stamps: the journal or
// whatever collects the output adds them). SIGINT and SIGTERM end it, or
// on Windows Ctrl+C, Ctrl+Break and closing its console.

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/replay.h"
#include "netio/relay_server.h"
#include "relay/stop.h"

namespace {

using namespace zobra;

constexpr int exit_ok = 0;
constexpr int exit_failed = 1;  // could not listen
constexpr int exit_usage = 2;   // bad options
constexpr std::uint32_t rooms_limit = 65536;

constexpr std::string_view usage_text =
    "Usage: zobra-relay [OPTION]...\n"
    "Keeps rooms for Zobra duels between machines and referees their matches.\n"
    "\n"
    "  --port N         the port to listen on, UDP and TCP (default 47320; 0 takes any\n"
    "                   free one)\n"
    "  --bind ADDR      the IPv4 address to listen on (default: every address)\n"
    "  --max-rooms N    rooms held at once (default 4096)\n"
    "  --max-clients N  connections held at once (default and most 4000)\n"
    "  --site DIR       serve the web page in DIR over HTTP on the TCP port\n"
    "  --help           show this and exit\n"
    "  --version        show the version and exit\n"
    "\n"
    "Games connect over UDP, the web page over WebSocket at /relay on the TCP port.\n"
    "Logs one line per room event to standard output. SIGINT or SIGTERM ends it.\n";

std::atomic<bool> stop_requested{false};

// A whole decimal number within bounds, or nothing.
std::optional<std::uint32_t> number(std::string_view text, std::uint32_t low, std::uint32_t high) {
    if (text.empty() || text.size() > 10) return std::nullopt;
    std::uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    if (value < low || value > high) return std::nullopt;
    return static_cast<std::uint32_t>(value);
}

int usage_error(const std::string& what) {
    std::fprintf(stderr, "zobra-relay: %s\nTry 'zobra-relay --help' for more information.\n",
                 what.c_str());
    return exit_usage;
}

// Each line reaches a pipe or the journal as soon as it is written (the
// Windows C library has no line buffering to ask for).
void print_line(std::string_view line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    netio::RelayServerOptions options;
    options.limits.clients_max = netio::server_clients_max;

    const std::vector<std::string_view> args(argv + 1, argv + argc);
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string_view name = args[i];
        std::optional<std::string_view> value;
        if (const std::size_t equals = name.find('=');
            name.starts_with("--") && equals != std::string_view::npos) {
            value = name.substr(equals + 1);
            name = name.substr(0, equals);
        }
        if (name == "--help" || name == "--version") {
            if (value) return usage_error("option '" + std::string(name) + "' takes no value");
            if (name == "--help")
                std::fwrite(usage_text.data(), 1, usage_text.size(), stdout);
            else
                std::printf("zobra-relay %.*s\n", static_cast<int>(game_version.size()),
                            game_version.data());
            return exit_ok;
        }
        if (name != "--port" && name != "--bind" && name != "--max-rooms" &&
            name != "--max-clients" && name != "--site")
            return usage_error("unknown option '" + std::string(args[i]) + "'");
        if (!value) {
            if (i + 1 == args.size())
                return usage_error("option '" + std::string(name) + "' needs a value");
            value = args[++i];
        }
        const std::string shown(*value);
        if (name == "--bind") {
            options.bind = shown;
        } else if (name == "--site") {
            options.site = shown;
        } else if (name == "--port") {
            const auto port = number(*value, 0, UINT16_MAX);
            if (!port) return usage_error("'" + shown + "' is no port (0 to 65535)");
            options.port = static_cast<std::uint16_t>(*port);
        } else if (name == "--max-rooms") {
            const auto rooms = number(*value, 1, rooms_limit);
            if (!rooms)
                return usage_error("'" + shown + "' is no number of rooms (1 to " +
                                   std::to_string(rooms_limit) + ")");
            options.limits.rooms_max = *rooms;
        } else {
            const auto clients = number(*value, 1, netio::server_clients_max);
            if (!clients)
                return usage_error("'" + shown + "' is no number of clients (1 to " +
                                   std::to_string(netio::server_clients_max) + ")");
            options.limits.clients_max = *clients;
        }
    }

    // Tests shorten matches, as they do for a game's own relay.
    if (const char* ticks = std::getenv("ZOBRA_TEST_MATCH_TICKS"))
        options.limits.match_ticks_max =
            static_cast<std::uint32_t>(std::strtoul(ticks, nullptr, 10));

    std::string error;
    const std::unique_ptr<netio::RelayServer> server =
        netio::RelayServer::open(options, &print_line, error);
    if (!server) {
        std::fprintf(stderr, "zobra-relay: %s\n", error.c_str());
        return exit_failed;
    }
    relay::watch_stop_requests(stop_requested);

    print_line("zobra-relay " + std::string(game_version) + " listening on " +
               (options.bind.empty() ? std::string("0.0.0.0") : options.bind) + ":" +
               std::to_string(server->port()));
    server->run(stop_requested);
    print_line("zobra-relay stopped");
    return exit_ok;
}
