#include "platform/online_shell.h"

#include <cstdlib>
#include <string>

#include "files/log.h"
#include "netio/address.h"
#include "netio/relay_connection.h"
#include "netio/relay_server.h"

namespace zobra {

namespace {

// Where the game's own relay listens: every address of the machine (empty),
// so that others on the network reach it, unless ZOBRA_HOST_BIND names one.
std::string own_relay_bind() {
    const char* bind = std::getenv("ZOBRA_HOST_BIND");
    return bind != nullptr ? std::string(bind) : std::string();
}

void log_relay_line(std::string_view line) { log_line("relay: " + std::string(line)); }

// A match's lost connection is tried again this often while the client
// wants its seats back.
constexpr net::Micros reconnect_every = 500'000;

}  // namespace

OnlineShell::OnlineShell() = default;

OnlineShell::~OnlineShell() {
    close();
    stop_own_relay();
}

void OnlineShell::before_frame(Online& online, net::Micros now) {
    if (!connection_ || !online.client) return;
    connection_->pump(*online.client, now);
    if (!connection_->is_lost() || online.client->phase() != net::ClientPhase::Reconnecting ||
        now < retry_at_)
        return;
    retry_at_ = now + reconnect_every;
    std::string error;
    log_line("connecting to the relay at " + host_ + ":" + std::to_string(port_) + " again");
    connection_ = netio::RelayConnection::connect(host_, port_, error);
    if (!connection_) online.client->lost(now);
}

void OnlineShell::after_frame(Online& online, const FrameOutcome& outcome, net::Micros now) {
    if (outcome.log_line) log_line(*outcome.log_line);
    if (outcome.relay_closed) {
        // The last words (a leave) go out before the connection closes.
        if (connection_ && online.client) connection_->pump(*online.client, now);
        close();
        stop_own_relay();
    }
    if (outcome.relay) open(online, *outcome.relay, now);
}

void OnlineShell::open(Online& online, const RelayWish& wish, net::Micros now) {
    close();
    std::string host = "127.0.0.1";
    std::uint16_t port = netio::default_relay_port;
    std::string error;
    if (wish.host_here) {
        stop_own_relay();
        netio::RelayServerOptions options;
        options.bind = own_relay_bind();
        options.port = netio::default_relay_port;
        if (const char* ticks = std::getenv("ZOBRA_TEST_MATCH_TICKS"))
            options.limits.match_ticks_max =
                static_cast<std::uint32_t>(std::strtoul(ticks, nullptr, 10));
        own_relay_ = netio::RelayThread::start(options, &log_relay_line, error);
        if (!own_relay_) {  // the usual port is taken: any free one
            options.port = 0;
            own_relay_ = netio::RelayThread::start(options, &log_relay_line, error);
        }
        if (!own_relay_) {
            log_line("the game's own relay did not start: " + error);
            if (online.client) online.client->lost(now);
            return;
        }
        port = own_relay_->port();
        const std::vector<std::string> addresses = netio::local_addresses();
        const std::string shown = !options.bind.empty() ? options.bind
                                  : addresses.empty()   ? std::string("127.0.0.1")
                                                        : addresses.front();
        online.shown_address = shown + ":" + std::to_string(port);
        log_line("hosting a relay on port " + std::to_string(port));
        if (!options.bind.empty()) host = options.bind;
    } else if (const auto parsed = netio::parse_relay_address(wish.address)) {
        host = parsed->first;
        port = parsed->second;
    } else {
        log_line("no relay at \"" + wish.address + "\": not an address");
        if (online.client) online.client->lost(now);
        return;
    }
    connection_ = netio::RelayConnection::connect(host, port, error);
    if (!connection_) {
        log_line("could not reach the relay at " + host + ":" + std::to_string(port) + ": " +
                 error);
        if (online.client) online.client->lost(now);
        return;
    }
    log_line("connecting to the relay at " + host + ":" + std::to_string(port));
    host_ = host;
    port_ = port;
}

void OnlineShell::close() {
    if (connection_) connection_->close();
    connection_.reset();
}

void OnlineShell::stop_own_relay() { own_relay_.reset(); }

}  // namespace zobra
