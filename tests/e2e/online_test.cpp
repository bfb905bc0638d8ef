// Two real games in windows meet online: one hosts on its own relay, the
// other types the address (a loopback proxy that delays, jitters and loses
// datagrams as a distant network would) and the room's code, the host
// starts, both play with keys, and both end the match with the relay's end
// hash and keep the same replay. CI runs a clean link and a bad one with
// the match cut short after a minute; ZOBRA_NET_MATRIX=full runs every
// round trip and loss of the matrix to the match's real end (make soak-net).

#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>
#include <thread>

#include "e2e/process.h"

namespace zobra::e2e {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr auto patience = 60s;  // for any one state; only a broken game waits that long

struct Link {
    int round_trip_ms = 0;
    int loss_pct = 0;
};

// The first capture of `pattern` in the game's log, once it is there.
std::optional<std::string> wait_for_log(const GameFolder& folder, const std::string& pattern,
                                        std::chrono::milliseconds limit = patience) {
    const std::regex re(pattern);
    std::optional<std::string> found;
    eventually(
        [&] {
            for (const std::string& line : read_lines(folder.log_file())) {
                std::smatch m;
                if (std::regex_search(line, m, re)) {
                    found = m.size() > 1 ? m[1].str() : m[0].str();
                    return true;
                }
            }
            return false;
        },
        limit);
    return found;
}

// The loopback proxy between the guest and the host's relay, and its port.
struct Proxy {
    std::unique_ptr<Process> process;
    std::uint16_t port = 0;
};

Proxy start_proxy(std::uint16_t relay_port, Link link) {
    Proxy proxy;
    proxy.process = std::make_unique<Process>(
        std::vector<std::string>{
            ZOBRA_IMPAIR_PROXY, "--to", std::to_string(relay_port), "--seconds", "1200", "--seed",
            "7", "--delay", std::to_string(link.round_trip_ms / 2), "--jitter",
            link.round_trip_ms > 0 ? "10" : "0", "--loss", std::to_string(link.loss_pct)},
        std::map<std::string, std::string>{}, "/tmp");
    const std::regex start(R"(listening on 127\.0\.0\.1:(\d+))");
    std::smatch m;
    std::string out;
    eventually(
        [&] {
            out = proxy.process->output();
            return std::regex_search(out, m, start) || !proxy.process->running();
        },
        patience);
    if (!m.empty()) proxy.port = static_cast<std::uint16_t>(std::stoi(m[1].str()));
    return proxy;
}

// A game in a window on a display of its own.
struct Player {
    Xvfb x;
    GameFolder folder;
    std::unique_ptr<Process> game;
    unsigned long window = 0;

    explicit Player(std::map<std::string, std::string> extra) {
        std::map<std::string, std::string> env = x.environment();
        env["ZOBRA_SAVE"] = (folder.path() / "save.json").string();
        env.insert(extra.begin(), extra.end());
        game = std::make_unique<Process>(folder.executable(), env, folder.path());
        if (const auto found = find_window(x.display(), "Zobra", patience)) window = found->id;
        eventually([&] { return logged(folder, "start: entering the event loop"); }, patience);
    }
    void keys(const std::vector<std::string>& keys) { press_keys(x.display(), window, keys); }
    void type(const std::string& text) {
        xdotool(x.display(), {"type", "--window", std::to_string(window), text});
    }
};

// The match's end line, "online match over after N ticks: …", once logged.
std::optional<std::string> end_line(const GameFolder& folder) {
    for (const std::string& line : read_lines(folder.log_file()))
        if (line.find("online match over after") != std::string::npos) return line;
    return std::nullopt;
}

void play_online(Link link, bool whole_match) {
    SCOPED_TRACE(std::to_string(link.round_trip_ms) + " ms, " + std::to_string(link.loss_pct) +
                 " % loss");
    std::map<std::string, std::string> host_env = {{"ZOBRA_HOST_BIND", "127.0.0.1"}};
    if (!whole_match) host_env["ZOBRA_TEST_MATCH_TICKS"] = "1200";
    Player host(host_env);
    ASSERT_NE(host.window, 0u) << host.game->error_output();

    // The host opens a room on its own relay.
    host.keys({"o", "Return"});
    const auto port = wait_for_log(host.folder, R"(hosting a relay on port (\d+))");
    ASSERT_TRUE(port) << "the host's relay never started";
    const auto code = wait_for_log(host.folder, R"(room ([A-Z0-9]{4}) opened)");
    ASSERT_TRUE(code) << "no room was opened";

    // The guest reaches it through the impaired link by address and code.
    const Proxy proxy = start_proxy(static_cast<std::uint16_t>(std::stoi(*port)), link);
    ASSERT_NE(proxy.port, 0) << proxy.process->error_output();
    Player guest({});
    ASSERT_NE(guest.window, 0u) << guest.game->error_output();
    guest.keys({"o", "Down", "Return"});
    guest.type("127.0.0.1:" + std::to_string(proxy.port));
    guest.keys({"Return"});
    guest.type(*code);
    guest.keys({"Return"});
    ASSERT_TRUE(wait_for_log(host.folder, "room " + *code + R"( .*joined|joined.* )" + *code))
        << "the guest never joined";

    host.keys({"Return"});
    for (Player* p : {&host, &guest})
        ASSERT_TRUE(wait_for_log(p->folder, "online match started in room " + *code))
            << "the match never started";

    // Both walk and light charges now and then, and confirm every end;
    // each keeps going until its game logs the match's end.
    const std::vector<std::vector<std::string>> moves = {{"Right"}, {"Down"}, {"space"},
                                                         {"Left"},  {"Up"},   {"Return"}};
    const auto deadline = std::chrono::steady_clock::now() + (whole_match ? 20min : 3min);
    for (std::size_t i = 0; !(end_line(host.folder) && end_line(guest.folder)); ++i) {
        if (std::chrono::steady_clock::now() >= deadline) {
            // What each game last said, to tell where the match went astray.
            for (Player* p : {&host, &guest}) {
                const std::vector<std::string> lines = read_lines(p->folder.log_file());
                std::string tail;
                for (std::size_t k = lines.size() > 25 ? lines.size() - 25 : 0; k < lines.size();
                     ++k)
                    tail += "  " + lines[k] + "\n";
                ADD_FAILURE() << (p == &host ? "host" : "guest") << " log:\n" << tail;
            }
            FAIL() << "the match never ended";
        }
        for (Player* p : {&host, &guest})
            if (!end_line(p->folder)) p->keys(moves[(i + (p == &guest ? 3 : 0)) % moves.size()]);
        std::this_thread::sleep_for(200ms);
    }

    // Both came to the relay's end hash, the same one.
    const std::regex over(
        R"(over after (\d+) ticks: hash ([0-9a-f]{16}), the relay's ([0-9a-f]{16}) \(matched\))");
    std::smatch h, g;
    const std::string host_end = *end_line(host.folder);
    const std::string guest_end = *end_line(guest.folder);
    ASSERT_TRUE(std::regex_search(host_end, h, over)) << host_end;
    ASSERT_TRUE(std::regex_search(guest_end, g, over)) << guest_end;
    EXPECT_EQ(h[1].str(), g[1].str());
    EXPECT_EQ(h[3].str(), g[3].str());

    // And both kept it as a replay that plays again to that hash.
    for (Player* p : {&host, &guest}) {
        std::vector<fs::path> files;
        if (fs::exists(p->folder.path() / "replays"))
            for (const auto& e : fs::directory_iterator(p->folder.path() / "replays"))
                files.push_back(e.path());
        ASSERT_EQ(files.size(), 1u);
        const Result check =
            run_to_end({p->folder.executable().string()},
                       {{"ZOBRA_REPLAY_CHECK", files[0].string()}}, p->folder.path(), patience);
        EXPECT_EQ(check.ending.status, 0) << check.out << check.err;
        EXPECT_NE(check.out.find(h[3].str()), std::string::npos) << check.out;
    }
    for (Player* p : {&host, &guest}) {
        request_close(p->x.display(), p->window);
        const Ending ending = p->game->wait(patience);
        EXPECT_TRUE(ending.exited && ending.status == 0) << p->game->error_output();
    }
}

TEST(Online, TwoGamesPlayThroughAGoodAndABadLinkToTheRelaysEndHash) {
    const char* matrix = std::getenv("ZOBRA_NET_MATRIX");
    if (matrix != nullptr && std::string(matrix) == "full") {
        for (const int rtt : {0, 60, 150, 300})
            for (const int loss : {0, 2, 5}) play_online({rtt, loss}, true);
        return;
    }
    play_online({0, 0}, false);
    play_online({300, 5}, false);
}

}  // namespace
}  // namespace zobra::e2e
