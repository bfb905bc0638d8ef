// impair_proxy: a UDP proxy on 127.0.0.1 between games and a relay that
// delays, jitters, loses and doubles datagrams, seeded, each direction as
// told, and stops by itself. The end-to-end tests put it where a network
// would be, since these machines have no way to impair a real link:
//
//   impair_proxy --to RELAY_PORT --seconds 60 [--listen PORT] [--seed N]
//                [--delay MS] [--jitter MS] [--loss PCT] [--dup PCT]
//                [--up-delay MS] [--down-loss PCT] … [--tcp]
//
// "up" is from the games to the relay, "down" the way back; the options
// without a direction set both. It prints "impair_proxy listening on
// 127.0.0.1:PORT" once it listens and, when its time is up, a line per
// direction with what it forwarded, lost and doubled (also when SIGTERM or
// SIGINT ends it early). It binds and sends
// only on 127.0.0.1: one socket for the games, and one towards the relay
// for each game it has heard from, so that the relay tells them apart.
//
// With --tcp it stands between web pages and the relay's TCP port instead
// (WebSocket and HTTP): each connection it accepts gets one of its own to
// 127.0.0.1:RELAY_PORT, and every chunk read from either side goes on after
// that direction's delay and jitter (so --delay is half the round trip),
// never overtaking the one before it. TCP loses and doubles nothing, so
// --loss and --dup are refused there. A line "cut" on its standard input,
// or SIGUSR1, closes every open connection at once, as a network that goes
// away would, so that a test can watch a page reconnect; new connections
// are taken as before. At the end it prints how many connections it
// forwarded and cut, and the bytes each way.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <optional>
#include <queue>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "core/arena.h"

namespace {

using Clock = std::chrono::steady_clock;
using zobra::Rng;

std::atomic<bool> stop_requested{false};
std::atomic<bool> cut_requested{false};
extern "C" void on_stop_signal(int /*signal*/) { stop_requested.store(true); }
extern "C" void on_cut_signal(int /*signal*/) { cut_requested.store(true); }

constexpr int exit_usage = 2;
constexpr int exit_failed = 1;
constexpr std::size_t flows_max = 256;        // games it forwards for
constexpr std::size_t pending_max = 100'000;  // datagrams held back at once
constexpr std::size_t datagram_size_max = 65536;
constexpr std::uint32_t chance_scale = 10'000;  // chances in hundredths of a percent
constexpr int seconds_max = 3600;
constexpr int delay_ms_max = 10'000;
// TCP: connections forwarded at once, bytes held back per connection and
// direction before the proxy stops reading that side, and how long a wait
// may last at most, so that a cut asked for by signal is not left waiting.
constexpr std::size_t connections_max = 256;
constexpr std::size_t held_bytes_max = 4u << 20;
constexpr std::size_t chunk_size = 16u << 10;
constexpr auto tcp_wait_max = std::chrono::milliseconds(50);

// One direction's impairment.
struct Link {
    int delay_ms = 0;
    int jitter_ms = 0;       // each datagram's delay lies within delay ± jitter
    std::uint32_t loss = 0;  // in hundredths of a percent
    std::uint32_t dup = 0;   // the same
    std::uint64_t forwarded = 0, lost = 0, doubled = 0;
};

// A game the proxy has heard from, and its own socket towards the relay.
struct Flow {
    sockaddr_in game{};
    int upstream = -1;
};

struct Pending {
    Clock::time_point due;
    std::uint64_t order = 0;  // ties go out in the order they came
    bool up = false;
    std::size_t flow = 0;
    std::vector<std::uint8_t> bytes;
    bool operator>(const Pending& other) const {
        return due != other.due ? due > other.due : order > other.order;
    }
};

std::optional<long> whole(std::string_view text, long low, long high) {
    if (text.empty() || text.size() > 10) return std::nullopt;
    long value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
    }
    if (value < low || value > high) return std::nullopt;
    return value;
}

// "2", "2.5" or "0.25" percent in hundredths of a percent.
std::optional<std::uint32_t> percent(std::string_view text) {
    const std::size_t dot = text.find('.');
    const auto units = whole(text.substr(0, dot), 0, 100);
    if (!units) return std::nullopt;
    long hundredths = 0;
    if (dot != std::string_view::npos) {
        const std::string_view fraction = text.substr(dot + 1);
        const auto digits = whole(fraction, 0, 99);
        if (!digits || fraction.size() > 2) return std::nullopt;
        hundredths = fraction.size() == 1 ? *digits * 10 : *digits;
    }
    const long value = *units * 100 + hundredths;
    if (value > static_cast<long>(chance_scale)) return std::nullopt;
    return static_cast<std::uint32_t>(value);
}

sockaddr_in loopback(std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return address;
}

int udp_socket_on_loopback() {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    const sockaddr_in any_port = loopback(0);
    if (bind(fd, reinterpret_cast<const sockaddr*>(&any_port), sizeof any_port) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

class Proxy {
  public:
    Proxy(int listener, std::uint16_t relay_port, std::uint64_t seed, Link up, Link down)
        : listener_(listener), relay_(loopback(relay_port)), up_(up), down_(down) {
        up_rng_.state = zobra::arena_rng_start(seed);
        down_rng_.state = zobra::arena_rng_start(seed + 1);
    }
    ~Proxy() {
        for (const Flow& flow : flows_) close(flow.upstream);
    }
    Proxy(const Proxy&) = delete;
    Proxy& operator=(const Proxy&) = delete;

    void run(Clock::time_point end) {
        std::vector<pollfd> fds;
        while (Clock::now() < end && !stop_requested.load()) {
            fds.assign(1, pollfd{listener_, POLLIN, 0});
            for (const Flow& flow : flows_) fds.push_back(pollfd{flow.upstream, POLLIN, 0});
            Clock::time_point wake = end;
            if (!pending_.empty()) wake = std::min(wake, pending_.top().due);
            const auto wait = std::chrono::ceil<std::chrono::milliseconds>(wake - Clock::now());
            poll(fds.data(), fds.size(), static_cast<int>(std::max<long>(wait.count(), 0)));
            if ((fds[0].revents & POLLIN) != 0) take_from_games();
            for (std::size_t i = 1; i < fds.size(); ++i)
                if ((fds[i].revents & POLLIN) != 0) take_from_relay(i - 1);
            deliver_due();
        }
    }

    void report() const {
        for (const auto& [name, link] : {std::pair{"up", &up_}, std::pair{"down", &down_}})
            std::printf("impair_proxy: %s %llu forwarded, %llu lost, %llu doubled\n", name,
                        static_cast<unsigned long long>(link->forwarded),
                        static_cast<unsigned long long>(link->lost),
                        static_cast<unsigned long long>(link->doubled));
    }

  private:
    void take_from_games() {
        std::vector<std::uint8_t> buffer(datagram_size_max);
        while (true) {
            sockaddr_in from{};
            socklen_t size = sizeof from;
            const ssize_t n = recvfrom(listener_, buffer.data(), buffer.size(), 0,
                                       reinterpret_cast<sockaddr*>(&from), &size);
            if (n < 0) return;
            const std::optional<std::size_t> flow = flow_of(from);
            if (!flow) continue;
            schedule(true, *flow, {buffer.begin(), buffer.begin() + n});
        }
    }

    void take_from_relay(std::size_t flow) {
        std::vector<std::uint8_t> buffer(datagram_size_max);
        while (true) {
            const ssize_t n = recv(flows_[flow].upstream, buffer.data(), buffer.size(), 0);
            if (n < 0) return;
            schedule(false, flow, {buffer.begin(), buffer.begin() + n});
        }
    }

    // The flow of a game, a new one the first time it is heard; none for a
    // sender that is not on loopback or beyond the proxy's bound.
    std::optional<std::size_t> flow_of(const sockaddr_in& game) {
        if ((ntohl(game.sin_addr.s_addr) >> 24) != 127) return std::nullopt;
        for (std::size_t i = 0; i < flows_.size(); ++i)
            if (flows_[i].game.sin_addr.s_addr == game.sin_addr.s_addr &&
                flows_[i].game.sin_port == game.sin_port)
                return i;
        if (flows_.size() == flows_max) return std::nullopt;
        const int fd = udp_socket_on_loopback();
        if (fd < 0) return std::nullopt;
        if (connect(fd, reinterpret_cast<const sockaddr*>(&relay_), sizeof relay_) != 0) {
            close(fd);
            return std::nullopt;
        }
        flows_.push_back(Flow{game, fd});
        return flows_.size() - 1;
    }

    void schedule(bool up, std::size_t flow, std::vector<std::uint8_t> bytes) {
        Link& link = up ? up_ : down_;
        Rng& rng = up ? up_rng_ : down_rng_;
        if (rng.below(chance_scale) < link.loss) {
            ++link.lost;
            return;
        }
        const bool twice = rng.below(chance_scale) < link.dup;
        link.doubled += twice ? 1 : 0;
        for (int copy = twice ? 2 : 1; copy > 0; --copy) {
            if (pending_.size() >= pending_max) {
                ++link.lost;
                return;
            }
            const int spread =
                static_cast<int>(rng.below(static_cast<std::uint32_t>(2 * link.jitter_ms + 1)));
            const int delay = std::max(0, link.delay_ms + spread - link.jitter_ms);
            pending_.push(Pending{Clock::now() + std::chrono::milliseconds(delay), next_order_++,
                                  up, flow, bytes});
        }
    }

    void deliver_due() {
        const Clock::time_point now = Clock::now();
        while (!pending_.empty() && pending_.top().due <= now) {
            const Pending& p = pending_.top();
            const Flow& flow = flows_[p.flow];
            if (p.up) {
                send(flow.upstream, p.bytes.data(), p.bytes.size(), 0);
                ++up_.forwarded;
            } else {
                sendto(listener_, p.bytes.data(), p.bytes.size(), 0,
                       reinterpret_cast<const sockaddr*>(&flow.game), sizeof flow.game);
                ++down_.forwarded;
            }
            pending_.pop();
        }
    }

    int listener_;
    sockaddr_in relay_;
    Link up_, down_;
    Rng up_rng_, down_rng_;
    std::vector<Flow> flows_;
    std::priority_queue<Pending, std::vector<Pending>, std::greater<>> pending_;
    std::uint64_t next_order_ = 0;
};

int tcp_socket_on_loopback() {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    const sockaddr_in any_port = loopback(0);
    if (bind(fd, reinterpret_cast<const sockaddr*>(&any_port), sizeof any_port) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// Bytes read from one side, due on the other.
struct Chunk {
    Clock::time_point due;
    std::vector<std::uint8_t> bytes;  // empty: the sender closed its side
};

// One side of a connection and the chunks on their way to the other.
struct Side {
    int fd = -1;
    bool open = true;           // still read from
    std::deque<Chunk> towards;  // to the other side, oldest first
    std::size_t held = 0;       // bytes in `towards`
};

// A page's connection and the proxy's own to the relay.
struct Connection {
    Side page, relay;  // page.towards goes up to the relay, relay.towards down
    bool done = false;
};

class TcpProxy {
  public:
    TcpProxy(int listener, std::uint16_t relay_port, std::uint64_t seed, Link up, Link down)
        : listener_(listener), relay_(loopback(relay_port)), up_(up), down_(down) {
        rng_.state = zobra::arena_rng_start(seed);
    }
    ~TcpProxy() { cut_all(); }
    TcpProxy(const TcpProxy&) = delete;
    TcpProxy& operator=(const TcpProxy&) = delete;

    void run(Clock::time_point end) {
        std::vector<pollfd> fds;
        bool stdin_open = true;
        std::string typed;
        while (Clock::now() < end && !stop_requested.load()) {
            if (cut_requested.exchange(false)) cut_all();
            fds.clear();
            fds.push_back(pollfd{listener_, POLLIN, 0});
            fds.push_back(pollfd{stdin_open ? STDIN_FILENO : -1, POLLIN, 0});
            for (const Connection& c : connections_) {
                fds.push_back(watch(c.page, c.relay));
                fds.push_back(watch(c.relay, c.page));
            }
            poll(fds.data(), fds.size(), static_cast<int>(wait_ms(end)));
            if ((fds[0].revents & POLLIN) != 0) accept_page();
            if ((fds[1].revents & (POLLIN | POLLHUP)) != 0) stdin_open = read_commands(typed);
            for (std::size_t i = 0; i < connections_.size() && 2 + 2 * i < fds.size(); ++i) {
                Connection& c = connections_[i];
                if ((fds[2 + 2 * i].revents & (POLLIN | POLLHUP | POLLERR)) != 0) take(c.page, up_);
                if ((fds[3 + 2 * i].revents & (POLLIN | POLLHUP | POLLERR)) != 0)
                    take(c.relay, down_);
            }
            for (Connection& c : connections_) deliver(c);
            std::erase_if(connections_, [](const Connection& c) { return c.done; });
        }
    }

    void report() const {
        std::printf("impair_proxy: tcp %llu connections, %llu cut, %llu bytes up, %llu down\n",
                    static_cast<unsigned long long>(accepted_),
                    static_cast<unsigned long long>(cut_),
                    static_cast<unsigned long long>(up_.forwarded),
                    static_cast<unsigned long long>(down_.forwarded));
    }

  private:
    // A side is read while what it sent is not piling up, and written to
    // while anything for it is due; one with nothing wanted of it is left
    // out, so that its hang-up does not wake the proxy again and again.
    static pollfd watch(const Side& from, const Side& to) {
        short events = 0;
        if (from.open && from.held < held_bytes_max) events |= POLLIN;
        if (!to.towards.empty() && to.towards.front().due <= Clock::now()) events |= POLLOUT;
        return pollfd{events != 0 ? from.fd : -1, events, 0};
    }

    long wait_ms(Clock::time_point end) const {
        Clock::time_point wake = std::min(end, Clock::now() + tcp_wait_max);
        for (const Connection& c : connections_)
            for (const Side* side : {&c.page, &c.relay})
                if (!side->towards.empty()) wake = std::min(wake, side->towards.front().due);
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(wake - Clock::now());
        return std::max<long>(wait.count(), 0);
    }

    void accept_page() {
        const int page = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (page < 0) return;
        const int relay = tcp_socket_on_loopback();
        if (connections_.size() == connections_max || relay < 0 ||
            connect(relay, reinterpret_cast<const sockaddr*>(&relay_), sizeof relay_) != 0) {
            close(page);
            if (relay >= 0) close(relay);
            return;
        }
        ++accepted_;
        Connection& c = connections_.emplace_back();
        c.page.fd = page;
        c.relay.fd = relay;
    }

    // "cut" lines; false once standard input has ended.
    bool read_commands(std::string& typed) {
        char buffer[256];
        const ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
        if (n <= 0) return false;
        typed.append(buffer, static_cast<std::size_t>(n));
        for (std::size_t eol = typed.find('\n'); eol != std::string::npos; eol = typed.find('\n')) {
            if (typed.substr(0, eol) == "cut") cut_all();
            typed.erase(0, eol + 1);
        }
        return true;
    }

    // Reads what one side sent and sends it on after its direction's
    // delay, never before the chunk ahead of it.
    void take(Side& from, const Link& link) {
        if (!from.open) return;
        std::vector<std::uint8_t> bytes(chunk_size);
        const ssize_t n = recv(from.fd, bytes.data(), bytes.size(), MSG_DONTWAIT);
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
        if (n <= 0) from.open = false;
        bytes.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
        const int spread =
            static_cast<int>(rng_.below(static_cast<std::uint32_t>(2 * link.jitter_ms + 1)));
        Clock::time_point due = Clock::now() + std::chrono::milliseconds(std::max(
                                                   0, link.delay_ms + spread - link.jitter_ms));
        if (!from.towards.empty()) due = std::max(due, from.towards.back().due);
        from.held += bytes.size();
        from.towards.push_back(Chunk{due, std::move(bytes)});
    }

    void deliver(Connection& c) {
        for (auto [from, to, link] :
             {std::tuple{&c.page, &c.relay, &up_}, std::tuple{&c.relay, &c.page, &down_}}) {
            while (!from->towards.empty() && from->towards.front().due <= Clock::now()) {
                Chunk& chunk = from->towards.front();
                if (chunk.bytes.empty()) {  // the sender's end: this side ends too
                    shutdown(to->fd, SHUT_WR);
                    from->towards.pop_front();
                    continue;
                }
                const ssize_t n = send(to->fd, chunk.bytes.data(), chunk.bytes.size(),
                                       MSG_DONTWAIT | MSG_NOSIGNAL);
                if (n < 0 && errno == EAGAIN) break;
                if (n < 0) {
                    close_connection(c);
                    return;
                }
                link->forwarded += static_cast<std::uint64_t>(n);
                from->held -= static_cast<std::size_t>(n);
                chunk.bytes.erase(chunk.bytes.begin(), chunk.bytes.begin() + n);
                if (chunk.bytes.empty()) from->towards.pop_front();
            }
        }
        if (!c.page.open && !c.relay.open && c.page.towards.empty() && c.relay.towards.empty())
            close_connection(c);
    }

    void close_connection(Connection& c) {
        if (c.done) return;
        close(c.page.fd);
        close(c.relay.fd);
        c.done = true;
    }

    void cut_all() {
        for (Connection& c : connections_) {
            cut_ += c.done ? 0 : 1;
            close_connection(c);
        }
        connections_.clear();
    }

    int listener_;
    sockaddr_in relay_;
    Link up_, down_;
    Rng rng_;
    std::vector<Connection> connections_;
    std::uint64_t accepted_ = 0, cut_ = 0;
};

int usage_error(const std::string& what) {
    std::fprintf(stderr, "impair_proxy: %s\n", what.c_str());
    return exit_usage;
}

}  // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    std::optional<long> relay_port, seconds;
    long listen_port = 0;
    std::uint64_t seed = 1;
    Link up, down;
    bool tcp = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view name = argv[i];
        if (name == "--tcp") {
            tcp = true;
            continue;
        }
        if (i + 1 == argc) return usage_error("option '" + std::string(name) + "' needs a value");
        const std::string_view value = argv[++i];
        const std::string_view bare = name.starts_with("--up-") || name.starts_with("--down-")
                                          ? name.substr(name.find('-', 2) + 1)
                                          : name.substr(std::min<std::size_t>(2, name.size()));
        std::vector<Link*> links;
        if (!name.starts_with("--down-")) links.push_back(&up);
        if (!name.starts_with("--up-")) links.push_back(&down);
        bool known = true;
        if (name == "--to") {
            relay_port = whole(value, 1, UINT16_MAX);
            if (!relay_port) return usage_error("--to needs a port");
        } else if (name == "--listen") {
            const auto port = whole(value, 0, UINT16_MAX);
            if (!port) return usage_error("--listen needs a port");
            listen_port = *port;
        } else if (name == "--seconds") {
            seconds = whole(value, 1, seconds_max);
            if (!seconds) return usage_error("--seconds needs 1 to 3600");
        } else if (name == "--seed") {
            const auto n = whole(value, 0, 2'000'000'000);
            if (!n) return usage_error("--seed needs a number");
            seed = static_cast<std::uint64_t>(*n);
        } else if (bare == "delay" || bare == "jitter") {
            const auto ms = whole(value, 0, delay_ms_max);
            if (!ms) return usage_error(std::string(name) + " needs 0 to 10000 ms");
            for (Link* link : links)
                (bare == "delay" ? link->delay_ms : link->jitter_ms) = static_cast<int>(*ms);
        } else if (bare == "loss" || bare == "dup") {
            const auto chance = percent(value);
            if (!chance) return usage_error(std::string(name) + " needs a percentage");
            for (Link* link : links) (bare == "loss" ? link->loss : link->dup) = *chance;
        } else {
            known = false;
        }
        if (!known) return usage_error("unknown option '" + std::string(name) + "'");
    }
    if (!relay_port || !seconds) return usage_error("--to and --seconds are needed");
    if (tcp && (up.loss != 0 || down.loss != 0 || up.dup != 0 || down.dup != 0))
        return usage_error("TCP loses and doubles nothing: --tcp takes no --loss or --dup");

    const int listener =
        socket(AF_INET, (tcp ? SOCK_STREAM : SOCK_DGRAM) | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const sockaddr_in address = loopback(static_cast<std::uint16_t>(listen_port));
    sockaddr_in bound{};
    socklen_t size = sizeof bound;
    if (listener < 0 ||
        bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        (tcp && listen(listener, SOMAXCONN) != 0) ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&bound), &size) != 0) {
        std::fprintf(stderr, "impair_proxy: cannot listen on 127.0.0.1:%ld (%s)\n", listen_port,
                     std::strerror(errno));
        return exit_failed;
    }
    struct sigaction action {};
    action.sa_handler = &on_stop_signal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    action.sa_handler = &on_cut_signal;
    sigaction(SIGUSR1, &action, nullptr);
    std::printf("impair_proxy listening on 127.0.0.1:%u\n",
                static_cast<unsigned>(ntohs(bound.sin_port)));
    if (tcp) {
        TcpProxy proxy(listener, static_cast<std::uint16_t>(*relay_port), seed, up, down);
        proxy.run(Clock::now() + std::chrono::seconds(*seconds));
        proxy.report();
    } else {
        Proxy proxy(listener, static_cast<std::uint16_t>(*relay_port), seed, up, down);
        proxy.run(Clock::now() + std::chrono::seconds(*seconds));
        proxy.report();
    }
    close(listener);
    return 0;
}
