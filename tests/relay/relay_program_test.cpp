// zobra-relay as its operators and its attackers meet it: started on
// 127.0.0.1 with a free port, it answers its options as command-line tools
// do, keeps two players' match going while others send it garbage, cut
// and wrong messages, claim seats that are not theirs and open a thousand
// connections at once, holds its memory while it does, and ends cleanly on
// SIGTERM. With --site it serves the web page on its TCP port, where the
// page's players reach it over WebSocket.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <regex>

#include "core/arena.h"
#include "e2e/process.h"
#include "netio/raw_client.h"
#include "netio/web_client.h"

namespace zobra::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

const std::string relay_exe = ZOBRA_RELAY_EXE;
constexpr auto tick_length = 50ms;
constexpr auto patience = 60s;  // for any one state to come; only a broken relay waits that long

// The relay program on 127.0.0.1 and the port its start line names.
struct RunningRelay {
    std::unique_ptr<e2e::Process> process;
    std::uint16_t port = 0;
};

RunningRelay start_relay(std::vector<std::string> extra = {},
                         const std::map<std::string, std::string>& env = {}) {
    std::vector<std::string> argv = {relay_exe, "--bind", "127.0.0.1", "--port", "0"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    RunningRelay relay;
    relay.process = std::make_unique<e2e::Process>(argv, env, "/tmp");
    const std::regex start_line(R"(^zobra-relay 0\.1\.0 listening on 127\.0\.0\.1:(\d+)\n)");
    std::smatch found;
    std::string out;
    e2e::eventually(
        [&] {
            out = relay.process->output();
            return std::regex_search(out, found, start_line) || !relay.process->running();
        },
        patience);
    if (found.empty())
        throw std::runtime_error("the relay did not start: " + out + relay.process->error_output());
    relay.port = static_cast<std::uint16_t>(std::stoi(found[1].str()));
    return relay;
}

// Plain UDP datagrams to 127.0.0.1:port, the bytes as given.
void send_datagrams(std::uint16_t port, const std::vector<std::vector<std::uint8_t>>& datagrams) {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) throw std::runtime_error("no UDP socket");
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const sockaddr_in from = to;  // any port on loopback
    if (bind(fd, reinterpret_cast<const sockaddr*>(&from), sizeof from) != 0)
        throw std::runtime_error("no UDP socket on loopback");
    to.sin_port = htons(port);
    for (const std::vector<std::uint8_t>& bytes : datagrams)
        sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to),
               sizeof to);
    close(fd);
}

// The memory the process holds now, in KiB, from /proc.
long resident_kib(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.starts_with("VmRSS:")) return std::stol(line.substr(6));
    return -1;
}

std::uint8_t nibble(Dir dir) { return pack_seat(DiggerInput{false, dir}); }

// The nibble of seat `seat` in a confirmed tick.
std::uint8_t seat_nibble(const net::ConfirmedTick& tick, int seat) {
    return static_cast<std::uint8_t>(tick.seats >> (4 * seat) & 0xF);
}

// A player that speaks the protocol by hand: it meets another in a room,
// then holds one direction for every tick, sends its input as a game does
// (a few times a tick, from its first unconfirmed tick to the tick its
// clock has reached) and keeps every confirmed tick.
class RawPlayer {
  public:
    RawPlayer(std::uint16_t port, std::string name, Dir held)
        : client_(port), name_(std::move(name)), held_(held) {}

    bool say_hello() {
        if (!client_.wait_connected(patience)) return false;
        client_.send(net::Hello{net::protocol_version, rules_hash(), name_});
        return client_.wait_for<net::Welcome>(patience).has_value();
    }
    RawClient& client() { return client_; }

    void started(const net::Started& start) {
        seats_ = start.your_seats;
        start_ = Clock::now();
        playing_ = true;
    }
    std::uint8_t seats() const { return seats_; }
    const std::vector<net::ConfirmedTick>& confirmed() const { return confirmed_; }
    const std::optional<net::Ended>& ended() const { return ended_; }

    void play() {
        client_.pump();
        for (const net::Message& message : client_.messages()) {
            if (const auto* ticks = std::get_if<net::Confirmed>(&message)) {
                for (std::size_t i = 0; i < ticks->ticks.size(); ++i)
                    if (ticks->first + i == confirmed_.size())
                        confirmed_.push_back(ticks->ticks[i]);
            }
            if (const auto* end = std::get_if<net::Ended>(&message)) ended_ = *end;
        }
        client_.messages().clear();
        if (!playing_ || Clock::now() - last_sent_ < tick_length / 2) return;
        last_sent_ = Clock::now();
        const auto reached = std::uint32_t((Clock::now() - start_) / tick_length) + 1;
        net::Inputs inputs{std::uint32_t(confirmed_.size()), std::uint32_t(confirmed_.size()), {}};
        for (std::uint32_t t = inputs.first;
             t <= reached && inputs.ticks.size() < net::ticks_per_message; ++t)
            inputs.ticks.push_back(nibble(held_));
        client_.send(inputs, false);
    }

  private:
    RawClient client_;
    std::string name_;
    Dir held_;
    std::uint8_t seats_ = 0;
    bool playing_ = false;
    Clock::time_point start_, last_sent_;
    std::vector<net::ConfirmedTick> confirmed_;
    std::optional<net::Ended> ended_;
};

// Two players meet in a room by its code and start the match.
void meet(RawPlayer& host, RawPlayer& guest, net::RoomCode& code) {
    ASSERT_TRUE(host.say_hello());
    ASSERT_TRUE(guest.say_hello());
    host.client().send(net::OpenRoom{0, Difficulty::Normal, 1});
    const std::optional<net::Lobby> room = host.client().wait_for<net::Lobby>(patience);
    ASSERT_TRUE(room);
    code = room->code;
    guest.client().send(net::JoinRoom{room->code, 1});
    ASSERT_TRUE(guest.client().wait_for<net::Lobby>(patience));
    host.client().send(net::StartMatch{});
    const std::optional<net::Started> a = host.client().wait_for<net::Started>(patience);
    const std::optional<net::Started> b = guest.client().wait_for<net::Started>(patience);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a->setup, b->setup);
    EXPECT_EQ(a->your_seats & b->your_seats, 0) << "two players were given one seat";
    host.started(*a);
    guest.started(*b);
}

TEST(RelayProgram, AnswersItsOptionsAsCommandLineToolsDo) {
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string out, err;  // found in what it wrote
    };
    const Case table[] = {
        {{"--help"}, 0, "Usage: zobra-relay [OPTION]...", ""},
        {{"--version"}, 0, "zobra-relay 0.1.0\n", ""},
        {{"--frobnicate"}, 2, "", "unknown option '--frobnicate'"},
        {{"-p", "5"}, 2, "", "unknown option '-p'"},
        {{"extra"}, 2, "", "unknown option 'extra'"},
        {{"--port"}, 2, "", "option '--port' needs a value"},
        {{"--port", "65536"}, 2, "", "'65536' is no port"},
        {{"--port=abc"}, 2, "", "'abc' is no port"},
        {{"--port", "-1"}, 2, "", "'-1' is no port"},
        {{"--max-rooms", "0"}, 2, "", "'0' is no number of rooms"},
        {{"--max-clients", "4001"}, 2, "", "'4001' is no number of clients (1 to 4000)"},
        {{"--help=yes"}, 2, "", "option '--help' takes no value"},
        {{"--bind", "not-an-address", "--port", "0"}, 1, "", "'not-an-address' is no IPv4 address"},
    };
    for (const Case& c : table) {
        std::vector<std::string> argv = {relay_exe};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        const e2e::Result r = e2e::run_to_end(argv, {}, "/tmp", patience);
        const std::string shown = c.args.empty() ? "" : c.args[0];
        EXPECT_TRUE(r.ending.exited) << shown;
        EXPECT_EQ(r.ending.status, c.status) << shown << ": " << r.err;
        EXPECT_NE(r.out.find(c.out), std::string::npos) << shown << ": " << r.out;
        EXPECT_NE(r.err.find(c.err), std::string::npos) << shown << ": " << r.err;
        if (c.status == 2) {
            EXPECT_NE(r.err.find("Try 'zobra-relay --help'"), std::string::npos);
        }
        if (c.status != 0) {
            EXPECT_EQ(r.out, "") << shown;
        }
    }
}

TEST(RelayProgram, ASecondRelayOnTheSamePortFailsAndTheFirstEndsCleanlyOnSigterm) {
    RunningRelay first = start_relay();
    const e2e::Result second =
        e2e::run_to_end({relay_exe, "--bind", "127.0.0.1", "--port", std::to_string(first.port)},
                        {}, "/tmp", patience);
    EXPECT_EQ(second.ending.status, 1);
    EXPECT_NE(second.err.find("cannot listen on 127.0.0.1:" + std::to_string(first.port)),
              std::string::npos)
        << second.err;

    ASSERT_EQ(kill(first.process->pid(), SIGTERM), 0);
    const e2e::Ending end = first.process->wait(patience);
    EXPECT_TRUE(end.exited && end.status == 0);
    EXPECT_NE(first.process->output().find("\nzobra-relay stopped\n"), std::string::npos);
}

TEST(RelayProgram, KeepsAMatchGoingThroughGarbageLiesAndAThousandConnections) {
    constexpr int clients_max = 300;
    RunningRelay relay = start_relay({"--max-clients", std::to_string(clients_max)});
    RawPlayer anna(relay.port, "ANNA", Dir::Up), bert(relay.port, "BERT", Dir::Down);
    net::RoomCode code{};
    meet(anna, bert, code);
    if (HasFatalFailure()) return;

    // Every wait below keeps both players playing.
    const auto until = [&](const std::function<bool()>& done) {
        const auto deadline = Clock::now() + patience;
        while (Clock::now() < deadline) {
            anna.play();
            bert.play();
            if (done()) return true;
        }
        return false;
    };
    ASSERT_TRUE(
        until([&] { return anna.confirmed().size() >= 20 && bert.confirmed().size() >= 20; }));
    const long memory_before = resident_kib(relay.process->pid());
    const std::size_t ticks_before = anna.confirmed().size();

    // Datagrams that are no ENet at all.
    Rng rng{arena_rng_start(2024)};
    std::vector<std::vector<std::uint8_t>> garbage;
    for (int i = 0; i < 2000; ++i) {
        std::vector<std::uint8_t>& bytes = garbage.emplace_back(rng.below(1400));
        for (std::uint8_t& b : bytes) b = static_cast<std::uint8_t>(rng.below(256));
    }
    send_datagrams(relay.port, garbage);

    // Connections that send garbage, a hello cut short at every length, or
    // a hello of another protocol or other rules: each is closed, the
    // wrong hellos with the reason first.
    RawClient noise(relay.port), cut(relay.port), other_version(relay.port),
        other_rules(relay.port);
    for (RawClient* c : {&noise, &cut, &other_version, &other_rules})
        ASSERT_TRUE(c->wait_connected(patience));
    for (int i = 0; i < 50; ++i) noise.send_bytes(garbage[std::size_t(i)]);
    const std::vector<std::uint8_t> hello =
        net::encode(net::Hello{net::protocol_version, rules_hash(), "CUT"});
    for (std::size_t n = 1; n < hello.size(); ++n) cut.send_bytes(std::span(hello).first(n));
    other_version.send(net::Hello{net::protocol_version + 1, rules_hash(), "OLD"});
    other_rules.send(net::Hello{net::protocol_version, rules_hash() ^ 1, "ODD"});
    ASSERT_TRUE(until([&] {
        for (RawClient* c : {&noise, &cut, &other_version, &other_rules}) c->pump();
        return noise.closed() && cut.closed() && other_version.closed() && other_rules.closed();
    }));
    const auto refusal = [](RawClient& c) -> std::optional<net::RefusedReason> {
        for (const net::Message& m : c.messages())
            if (const auto* r = std::get_if<net::Refused>(&m)) return r->reason;
        return std::nullopt;
    };
    EXPECT_EQ(refusal(other_version), net::RefusedReason::OtherVersion);
    EXPECT_EQ(refusal(other_rules), net::RefusedReason::OtherRules);
    for (RawClient* c : {&noise, &cut})
        for (const net::Message& m : c->messages())
            EXPECT_FALSE(std::holds_alternative<net::Welcome>(m));

    // A third player claims a seat of the running match: the room is full,
    // and the inputs, hashes and start it sends anyway change nothing.
    RawPlayer cheat(relay.port, "CARL", Dir::Left);
    ASSERT_TRUE(cheat.say_hello());
    cheat.client().send(net::JoinRoom{code, 1});
    const std::optional<net::Refused> full = cheat.client().wait_for<net::Refused>(patience);
    EXPECT_TRUE(full && full->reason == net::RefusedReason::RoomFull);
    net::Inputs claimed{0, 0,
                        std::vector<net::LocalInput>(net::ticks_per_message,
                                                     nibble(Dir::Left) | nibble(Dir::Left) << 4)};
    for (int round = 0; round < 20; ++round) {
        claimed.first = std::uint32_t(anna.confirmed().size());
        cheat.client().send(claimed, false);
        cheat.client().send(net::HashReport{claimed.first, rng.next()}, false);
        cheat.client().send(net::StartMatch{});
        ASSERT_TRUE(until([&] { return true; }));
    }

    // A thousand connections at once: the relay takes what its limit
    // allows, closes the rest at once or never answers them, and takes
    // nobody beyond its limit even when they all say hello.
    {
        RawPeers crowd(relay.port, 1000, 1000);
        using State = RawPeers::State;
        ASSERT_TRUE(until([&] { return crowd.pump(), crowd.count(State::Waiting) == 0; }));
        EXPECT_GT(crowd.accepted(), 0u);
        EXPECT_LE(crowd.count(State::Up), std::size_t(clients_max));
        crowd.send_all(hello);
        crowd.close_all();
        EXPECT_TRUE(until([&] { return crowd.pump(), crowd.count(State::Up) == 0; }));
    }
    // Once they are gone, a newcomer is welcomed again.
    RawPlayer late(relay.port, "DORA", Dir::Right);
    EXPECT_TRUE(late.say_hello());

    // The match went on all along, the same for both, each seat with its
    // own player's input wherever that came in time.
    ASSERT_TRUE(until([&] {
        return anna.confirmed().size() >= ticks_before + 100 &&
               bert.confirmed().size() >= ticks_before + 100;
    }));
    EXPECT_TRUE(relay.process->running());
    const long memory_after = resident_kib(relay.process->pid());
    EXPECT_LT(memory_after - memory_before, 64L << 10)
        << memory_before << " KiB before, " << memory_after << " after";

    const std::size_t common = std::min(anna.confirmed().size(), bert.confirmed().size());
    for (std::size_t t = 0; t < common; ++t)
        ASSERT_EQ(anna.confirmed()[t], bert.confirmed()[t]) << "tick " << t;
    std::size_t own = 0;
    for (const auto& [player, held] : {std::pair{&anna, Dir::Up}, std::pair{&bert, Dir::Down}})
        for (int seat = 0; seat < int(max_seats); ++seat) {
            if ((player->seats() >> seat & 1) == 0) continue;
            for (std::size_t t = 0; t < common; ++t) {
                const net::ConfirmedTick& tick = anna.confirmed()[t];
                EXPECT_NE(seat_nibble(tick, seat), nibble(Dir::Left)) << "tick " << t;
                if ((tick.late >> seat & 1) == 0 && (tick.to_computer >> seat & 1) == 0) {
                    EXPECT_EQ(seat_nibble(tick, seat), nibble(held))
                        << "tick " << t << " seat " << seat;
                    ++own;
                }
            }
        }
    EXPECT_GT(own, common) << "most ticks carry both players' own input";

    ASSERT_EQ(kill(relay.process->pid(), SIGTERM), 0);
    EXPECT_EQ(relay.process->wait(patience).status, 0);
}

// A folder under /tmp holding a page's index.html; removed at the end.
class PageFolder {
  public:
    PageFolder() {
        std::string name = "/tmp/zobra-page-XXXXXX";
        if (mkdtemp(name.data()) == nullptr) throw std::runtime_error("no temporary folder");
        path_ = name;
        std::ofstream(path_ / "index.html") << page;
    }
    ~PageFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    PageFolder(const PageFolder&) = delete;
    PageFolder& operator=(const PageFolder&) = delete;
    const std::filesystem::path& path() const { return path_; }
    static constexpr std::string_view page = "<!doctype html><title>Zobra</title>\n";

  private:
    std::filesystem::path path_;
};

// One HTTP request on a connection of its own, and the whole answer.
std::string ask(std::uint16_t port, const std::string& request) {
    TcpClient connection(port);
    connection.send(request);
    e2e::eventually([&] { return connection.pump(), connection.closed(); }, patience);
    return connection.received();
}

TEST(RelayProgram, ServesThePageFromItsSiteFolderAndWelcomesItsPlayersOverWebSocket) {
    const PageFolder site;
    RunningRelay relay = start_relay({"--site", site.path().string()});
    const auto request = [&](const std::string& method, const std::string& target) {
        return ask(relay.port, method + " " + target +
                                   " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
    };
    struct Case {
        std::string method, target;
        std::string status;  // the answer's first line
        bool page;           // and whether the page follows
    };
    const Case table[] = {
        {"GET", "/", "HTTP/1.1 200 OK", true},
        {"GET", "/?room=K7QX", "HTTP/1.1 200 OK", true},
        {"GET", "/index.html", "HTTP/1.1 200 OK", true},
        {"HEAD", "/", "HTTP/1.1 200 OK", false},
        {"GET", "/zobra.wasm", "HTTP/1.1 404 Not Found", false},
        {"GET", "/../index.html", "HTTP/1.1 404 Not Found", false},
        {"POST", "/", "HTTP/1.1 405 Method Not Allowed", false},
        {"GET", "/relay", "HTTP/1.1 426 Upgrade Required", false},
    };
    for (const Case& c : table) {
        const std::string answer = request(c.method, c.target);
        const std::string shown = c.method + " " + c.target + ": " + answer;
        EXPECT_TRUE(answer.starts_with(c.status + "\r\n")) << shown;
        EXPECT_EQ(answer.ends_with("\r\n\r\n" + std::string(PageFolder::page)), c.page) << shown;
        if (c.status.ends_with("200 OK")) {
            EXPECT_NE(answer.find("Content-Type: text/html; charset=utf-8\r\n"), std::string::npos);
            EXPECT_NE(answer.find("Cache-Control: no-cache\r\n"), std::string::npos);
            EXPECT_NE(answer.find("Content-Length: " + std::to_string(PageFolder::page.size())),
                      std::string::npos);
        }
    }

    WebClient page(relay.port);
    page.send(net::Hello{net::protocol_version, rules_hash(), "PAGE"});
    ASSERT_TRUE(e2e::eventually(
        [&] {
            page.pump();
            return page.closed() ||
                   std::any_of(page.messages().begin(), page.messages().end(), [](const auto& m) {
                       return std::holds_alternative<net::Welcome>(m);
                   });
        },
        patience));
    EXPECT_FALSE(page.closed());

    // Without a site folder only the relay's own path is answered.
    RunningRelay bare = start_relay();
    EXPECT_TRUE(ask(bare.port, "GET / HTTP/1.1\r\nHost: a\r\nConnection: close\r\n\r\n")
                    .starts_with("HTTP/1.1 404 Not Found\r\n"));
    const e2e::Result no_folder = e2e::run_to_end({relay_exe, "--bind", "127.0.0.1", "--port", "0",
                                                   "--site", (site.path() / "index.html").string()},
                                                  {}, "/tmp", patience);
    EXPECT_EQ(no_folder.ending.status, 1);
    EXPECT_NE(no_folder.err.find("is no folder"), std::string::npos) << no_folder.err;
}

TEST(RelayProgram, EndsMatchesAfterTheTicksTheTestsAskFor) {
    constexpr std::uint32_t match_ticks = 40;
    RunningRelay relay = start_relay({}, {{"ZOBRA_TEST_MATCH_TICKS", std::to_string(match_ticks)}});
    RawPlayer anna(relay.port, "ANNA", Dir::Up), bert(relay.port, "BERT", Dir::Down);
    net::RoomCode code{};
    meet(anna, bert, code);
    if (HasFatalFailure()) return;
    const auto deadline = Clock::now() + patience;
    while ((!anna.ended() || !bert.ended()) && Clock::now() < deadline) anna.play(), bert.play();
    ASSERT_TRUE(anna.ended() && bert.ended());
    EXPECT_EQ(anna.ended()->ticks, match_ticks);
    EXPECT_EQ(*anna.ended(), *bert.ended());
}

// The impairing proxy in its TCP mode, between pages and the relay: a
// page's messages come back no sooner than the round trip it was given,
// and a cut closes every page at once while new ones still get through.
TEST(RelayProgram, PagesReachItThroughTheImpairingProxyOverTcpAndACutClosesThemAll) {
    constexpr int delay_ms = 40;  // each way
    RunningRelay relay = start_relay();
    e2e::Process proxy({ZOBRA_IMPAIR_PROXY, "--tcp", "--to", std::to_string(relay.port),
                        "--seconds", "600", "--delay", std::to_string(delay_ms), "--jitter", "10"},
                       {}, "/tmp");
    const std::regex start_line(R"(^impair_proxy listening on 127\.0\.0\.1:(\d+)\n)");
    std::smatch found;
    std::string out;
    ASSERT_TRUE(e2e::eventually(
        [&] { return std::regex_search(out = proxy.output(), found, start_line); }, patience))
        << out << proxy.error_output();
    const auto port = static_cast<std::uint16_t>(std::stoi(found[1].str()));

    const auto welcomed = [](WebClient& page) {
        return std::any_of(page.messages().begin(), page.messages().end(),
                           [](const auto& m) { return std::holds_alternative<net::Welcome>(m); });
    };
    std::vector<std::unique_ptr<WebClient>> pages;
    for (int i = 0; i < 3; ++i) {
        pages.push_back(std::make_unique<WebClient>(port));
        pages.back()->send(net::Hello{net::protocol_version, rules_hash(), "PAGE"});
    }
    ASSERT_TRUE(e2e::eventually(
        [&] {
            for (auto& page : pages) page->pump();
            return std::all_of(pages.begin(), pages.end(), [&](auto& p) { return welcomed(*p); });
        },
        patience));

    // A ping's pong comes after the round trip at the soonest (the jitter
    // is within the delay's own).
    const auto sent = Clock::now();
    pages[0]->send(net::Ping{7});
    ASSERT_TRUE(e2e::eventually(
        [&] {
            pages[0]->pump();
            return std::any_of(pages[0]->messages().begin(), pages[0]->messages().end(),
                               [](const auto& m) { return std::holds_alternative<net::Pong>(m); });
        },
        patience));
    EXPECT_GE(Clock::now() - sent, std::chrono::milliseconds(2 * (delay_ms - 10)));

    ASSERT_EQ(kill(proxy.pid(), SIGUSR1), 0);
    EXPECT_TRUE(e2e::eventually(
        [&] {
            for (auto& page : pages) page->pump();
            return std::all_of(pages.begin(), pages.end(), [](auto& p) { return p->closed(); });
        },
        patience));
    WebClient again(port);
    again.send(net::Hello{net::protocol_version, rules_hash(), "BACK"});
    EXPECT_TRUE(e2e::eventually([&] { return again.pump(), welcomed(again); }, patience));

    ASSERT_EQ(kill(proxy.pid(), SIGTERM), 0);
    EXPECT_TRUE(proxy.wait(patience).exited);
    EXPECT_NE(proxy.output().find("impair_proxy: tcp 4 connections, 3 cut"), std::string::npos)
        << proxy.output();
}

}  // namespace
}  // namespace zobra::test
