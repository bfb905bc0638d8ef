// The relay's WebSocket clients beside its ENet ones, over TCP on
// 127.0.0.1: a page and a game meet in one room and play, and connections
// that misbehave (in the protocol, in WebSocket, in HTTP, or by never
// reading) are closed one by one while everyone else goes on. The relay is
// served by the test's own loop, so that its state can be read between
// rounds.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>

#include "netio/raw_client.h"
#include "netio/relay_server.h"
#include "netio/web_client.h"

namespace zobra::netio {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using test::RawClient;
using test::TcpClient;
using test::WebClient;
constexpr auto patience = 60s;  // for any one state to come; only a fault waits that long
constexpr auto tick_length = 50ms;
constexpr std::size_t client_queue_bytes_max = 512u << 10;

class LoopRelay {
  public:
    explicit LoopRelay(RelayServerOptions options = {}) {
        options.bind = "127.0.0.1";
        options.port = 0;
        options.seed = 99;
        std::string error;
        server_ = RelayServer::open(
            options, [](std::string_view) {}, error);
        if (!server_) throw std::runtime_error(error);
    }
    RelayServer& server() { return *server_; }
    std::uint16_t port() const { return server_->port(); }

    // Serves rounds, calling `round` after each, until `done` holds; false
    // when `patience` passes first.
    bool until(const std::function<void()>& round, const std::function<bool()>& done) {
        const auto deadline = Clock::now() + patience;
        while (!done()) {
            if (Clock::now() >= deadline) return false;
            server_->serve(1);
            round();
        }
        return true;
    }

  private:
    std::unique_ptr<RelayServer> server_;
};

void send(RawClient& client, const net::Message& message, bool reliable) {
    client.send(message, reliable);
}
void send(WebClient& client, const net::Message& message, bool /*reliable*/) {
    client.send(message);
}

// A player over either transport that keeps what the relay says and, once
// its match has started, sends its input for every tick as a game does (a
// few times a tick, from its first unconfirmed tick to the tick its clock
// has reached), holding one direction.
template <typename Client>
class Player {
  public:
    Player(Client& client, std::string name, Dir held)
        : client_(client), name_(std::move(name)), held_(held) {}

    void hello() { send(client_, net::Hello{net::protocol_version, rules_hash(), name_}, true); }
    void say(const net::Message& message) { send(client_, message, true); }

    void play() {
        client_.pump();
        for (net::Message& message : client_.messages()) {
            if (std::holds_alternative<net::Welcome>(message)) welcomed = true;
            if (std::holds_alternative<net::Pong>(message)) ++pongs;
            if (auto* room = std::get_if<net::Lobby>(&message)) lobby = *room;
            if (auto* start = std::get_if<net::Started>(&message)) {
                started = *start;
                start_ = Clock::now();
            }
            if (auto* ticks = std::get_if<net::Confirmed>(&message))
                for (std::size_t i = 0; i < ticks->ticks.size(); ++i)
                    if (ticks->first + i == confirmed.size()) confirmed.push_back(ticks->ticks[i]);
        }
        client_.messages().clear();
        if (!started || Clock::now() - last_sent_ < tick_length / 2) return;
        last_sent_ = Clock::now();
        const auto reached = std::uint32_t((Clock::now() - start_) / tick_length) + 1;
        net::Inputs inputs{std::uint32_t(confirmed.size()), std::uint32_t(confirmed.size()), {}};
        for (std::uint32_t t = inputs.first;
             t <= reached && inputs.ticks.size() < net::ticks_per_message; ++t)
            inputs.ticks.push_back(pack_seat(DiggerInput{false, held_}));
        send(client_, inputs, false);
    }

    bool welcomed = false;
    std::size_t pongs = 0;
    std::optional<net::Lobby> lobby;
    std::optional<net::Started> started;
    std::vector<net::ConfirmedTick> confirmed;

  private:
    Client& client_;
    std::string name_;
    Dir held_;
    Clock::time_point start_, last_sent_;
};

// A host and a guest, over whichever transports, meet by the host's room
// code and start the match.
template <typename Host, typename Guest>
void meet(LoopRelay& relay, Player<Host>& host, Player<Guest>& guest,
          const std::function<void()>& round) {
    host.hello();
    guest.hello();
    ASSERT_TRUE(relay.until(round, [&] { return host.welcomed && guest.welcomed; }));
    host.say(net::OpenRoom{0, Difficulty::Normal, 1});
    ASSERT_TRUE(relay.until(round, [&] { return host.lobby.has_value(); }));
    guest.say(net::JoinRoom{host.lobby->code, 1});
    ASSERT_TRUE(relay.until(round, [&] { return guest.lobby.has_value(); }));
    host.say(net::StartMatch{});
    ASSERT_TRUE(relay.until(round, [&] { return host.started && guest.started; }));
    EXPECT_EQ(host.started->setup, guest.started->setup);
}

// A TCP port held by someone else: the relay does not open half of itself.
TEST(WebSocketRelay, RefusesToOpenWhenItsTcpPortIsTaken) {
    const int holder = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(holder, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ASSERT_EQ(bind(holder, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(holder, 1), 0);
    ASSERT_EQ(getsockname(holder, reinterpret_cast<sockaddr*>(&address), &size), 0);
    const auto taken = ntohs(address.sin_port);

    RelayServerOptions options;
    options.bind = "127.0.0.1";
    options.port = taken;
    std::string error;
    EXPECT_EQ(RelayServer::open(
                  options, [](std::string_view) {}, error),
              nullptr);
    EXPECT_NE(error.find("cannot listen on 127.0.0.1:" + std::to_string(taken) + " over TCP"),
              std::string::npos)
        << error;
    // Without WebSocket the UDP port alone is enough.
    options.websocket = false;
    EXPECT_NE(RelayServer::open(
                  options, [](std::string_view) {}, error),
              nullptr)
        << error;
    close(holder);
}

TEST(WebSocketRelay, APageAndAGameMeetInOneRoomAndPlayTheSameConfirmedTicks) {
    LoopRelay relay;
    WebClient page(relay.port());
    RawClient game(relay.port());
    Player<WebClient> anna(page, "ANNA", Dir::Up);
    Player<RawClient> bert(game, "BERT", Dir::Down);
    const auto round = [&] { anna.play(), bert.play(); };
    ASSERT_TRUE(relay.until(round, [&] { return game.up(); }));
    meet(relay, anna, bert, round);
    if (HasFatalFailure()) return;
    EXPECT_EQ(anna.started->your_seats & bert.started->your_seats, 0);

    ASSERT_TRUE(relay.until(
        round, [&] { return anna.confirmed.size() >= 40 && bert.confirmed.size() >= 40; }));
    for (std::size_t t = 0; t < 40; ++t) ASSERT_EQ(anna.confirmed[t], bert.confirmed[t]) << t;
    EXPECT_EQ(relay.server().relay().matches(), 1u);
    EXPECT_EQ(relay.server().peers(), 2u) << "one id each, from one counter";
}

// One connection for each way of misbehaving, all at once: each is closed,
// and a well-behaved page beside them is welcomed and answered throughout.
TEST(WebSocketRelay, ClosesEachMisbehavingConnectionAndOnlyThatOne) {
    const RelayServerOptions options;
    LoopRelay relay(options);
    const std::uint16_t port = relay.port();
    const std::string header_too_long =
        "GET / HTTP/1.1\r\nHost: a\r\nX: " + std::string(9000, 'a') + "\r\n\r\n";
    Rng rng{arena_rng_start(7)};
    std::vector<std::uint8_t> garbage(40);
    for (std::uint8_t& b : garbage) b = static_cast<std::uint8_t>(rng.below(256));
    const std::vector<std::uint8_t> oversized(options.packet_size_max + 1, 0x01);

    struct Case {
        std::string what;
        std::unique_ptr<WebClient> web;  // or
        std::unique_ptr<TcpClient> tcp;
        std::function<void(Case&)> act;  // once the connection stands
        bool acted = false;
    };
    std::vector<Case> cases;
    const auto web_case = [&](std::string what, std::function<void(WebClient&)> act) {
        cases.push_back({std::move(what), std::make_unique<WebClient>(port), nullptr,
                         [act](Case& c) { act(*c.web); }});
    };
    const auto tcp_case = [&](std::string what, std::string bytes) {
        cases.push_back({std::move(what), nullptr, std::make_unique<TcpClient>(port),
                         [bytes](Case& c) { c.tcp->send(bytes); }});
    };
    web_case("a message larger than a client's", [&](WebClient& c) { c.send_binary(oversized); });
    web_case("a text frame", [](WebClient& c) { c.send_text("hello"); });
    web_case("bytes that are no message", [&](WebClient& c) { c.send_binary(garbage); });
    web_case("a hello of another protocol", [](WebClient& c) {
        c.send(net::Hello{net::protocol_version + 1, rules_hash(), "OLD"});
    });
    web_case("a page that never says hello", [](WebClient&) {});
    tcp_case("bytes that are no HTTP", std::string(garbage.begin(), garbage.end()) + "\r\n\r\n");
    tcp_case("a request header over 8 KiB", header_too_long);
    tcp_case("a connection that never sends a request", "");
    tcp_case("a handshake that never ends",
             "GET /relay HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\n");

    WebClient good(port);
    Player<WebClient> dora(good, "DORA", Dir::Left);
    dora.hello();
    const auto round = [&] {
        dora.play();
        for (Case& c : cases) {
            if (c.web) c.web->pump();
            if (c.tcp) c.tcp->pump();
            if (!c.acted && (c.tcp || c.web->open())) {
                c.acted = true;
                c.act(c);
            }
        }
    };
    const auto closed = [](const Case& c) { return c.web ? c.web->closed() : c.tcp->closed(); };
    EXPECT_TRUE(relay.until(
        round, [&] { return std::all_of(cases.begin(), cases.end(), closed) || good.closed(); }));
    for (const Case& c : cases) EXPECT_TRUE(closed(c)) << c.what;
    for (const Case& c : cases) {
        if (c.tcp) {
            EXPECT_EQ(c.tcp->received().find("200 OK"), std::string::npos) << c.what;
        }
    }

    EXPECT_TRUE(dora.welcomed);
    good.send(net::Ping{1});
    EXPECT_TRUE(relay.until(round, [&] { return dora.pongs > 0 || good.closed(); }));
    EXPECT_FALSE(good.closed());
    EXPECT_TRUE(relay.until(round, [&] { return relay.server().peers() == 1; }))
        << relay.server().peers() << " connections held";
    EXPECT_EQ(relay.server().relay().clients(), 1u);
}

// A page that never reads what it is sent, while its room plays: its queue
// stays bounded until it is closed, and another room's match goes on
// confirming ticks all the while.
TEST(WebSocketRelay, ClosesAPageThatNeverReadsWhileAnotherRoomPlaysOn) {
    LoopRelay relay;
    WebClient page_a(relay.port());
    RawClient game_a(relay.port());
    Player<WebClient> anna(page_a, "ANNA", Dir::Up);
    Player<RawClient> bert(game_a, "BERT", Dir::Down);

    WebClient page_b(relay.port());
    WebClient::Options deaf;
    deaf.reads = false;
    deaf.receive_buffer = 4096;
    WebClient slow(relay.port(), deaf);
    Player<WebClient> carl(page_b, "CARL", Dir::Left);
    std::size_t queued_most = 0;
    Clock::time_point slow_sent;
    const auto round = [&] {
        anna.play(), bert.play(), carl.play();
        slow.pump();
        queued_most = std::max(queued_most, relay.server().queued_bytes());
        // It says it has confirmed nothing, again and again, as a game
        // whose screen froze would.
        if (carl.started && Clock::now() - slow_sent > tick_length) {
            slow_sent = Clock::now();
            slow.send(net::Inputs{0, 0, {pack_seat(DiggerInput{false, Dir::Right})}});
        }
    };
    ASSERT_TRUE(relay.until(round, [&] { return game_a.up(); }));
    meet(relay, anna, bert, round);
    if (HasFatalFailure()) return;

    carl.hello();
    slow.send(net::Hello{net::protocol_version, rules_hash(), "SLOW"});
    ASSERT_TRUE(relay.until(round, [&] { return carl.welcomed && slow.open(); }));
    carl.say(net::OpenRoom{1, Difficulty::Normal, 1});
    ASSERT_TRUE(relay.until(round, [&] { return carl.lobby.has_value(); }));
    slow.send(net::JoinRoom{carl.lobby->code, 1});
    ASSERT_TRUE(relay.until(round, [&] {
        return carl.lobby && (carl.lobby->seats[1].person || carl.lobby->seats[2].person ||
                              carl.lobby->seats[3].person);
    }));
    carl.say(net::StartMatch{});
    ASSERT_TRUE(relay.until(round, [&] { return carl.started.has_value(); }));
    ASSERT_EQ(relay.server().peers(), 4u);

    ASSERT_TRUE(relay.until(round, [&] { return relay.server().peers() == 3; }))
        << "the page that never reads is still held";
    EXPECT_LE(queued_most, 2 * client_queue_bytes_max);
    const std::size_t anna_had = anna.confirmed.size(), bert_had = bert.confirmed.size();
    ASSERT_TRUE(relay.until(round, [&] {
        return anna.confirmed.size() >= anna_had + 40 && bert.confirmed.size() >= bert_had + 40;
    }));
    EXPECT_FALSE(page_a.closed());
    EXPECT_FALSE(page_b.closed());
    const std::size_t common = std::min(anna.confirmed.size(), bert.confirmed.size());
    for (std::size_t t = 0; t < common; ++t) ASSERT_EQ(anna.confirmed[t], bert.confirmed[t]) << t;
}

}  // namespace
}  // namespace zobra::netio
