#include "net/relay.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdio>
#include <deque>
#include <limits>
#include <map>
#include <optional>
#include <queue>
#include <string>
#include <tuple>
#include <utility>

namespace zobra::net {

namespace {

constexpr Micros tick_micros = 50'000;
constexpr Micros never = std::numeric_limits<Micros>::max();
// Inputs are kept for this many ticks from the first unconfirmed one on;
// those further ahead are ignored (a client plays at most a few ahead).
constexpr std::uint32_t input_window = 64;
// Every confirmed tick is kept for the match's length, so that a spectator
// may come at any moment and play it from the start (4 bytes a tick on the
// wire, 6 here: 36 KB for a five-minute match). A client that lacks more
// than a message's worth is catching up and is sent this many at once each
// time its acknowledgement moves on.
constexpr std::uint32_t history_reserved = 8192;
constexpr std::uint32_t catch_up_messages = 16;
// Spectators in one room at most.
constexpr std::uint32_t watchers_max = 64;
// The relay's state hashes, one every `hash_every` ticks, the last 16 kept.
constexpr std::uint32_t hash_every = 20;
constexpr std::uint32_t hash_ring = 16;
// A client that lacks ticks and was sent none this long gets them again with
// its next message (a little over a tick: it may be waiting for them).
constexpr Micros resend_idle = 60'000;
// After the end, a client that lacks ticks is sent them this often.
constexpr Micros resend_ended = 100'000;
// Into an end screen this long, the relay confirms by itself (4 s).
constexpr std::uint32_t auto_confirm_ticks = 80;
// A client given the state is given it again only after this long.
constexpr Micros state_retry = 1'000'000;
// An ended room waits this long for its clients to have every tick.
constexpr Micros end_grace = 10'000'000;
// Messages queued for one client before the caller takes the outbox: past
// the first, unreliable ones are dropped; past the second, the client is
// flooding the relay with requests and is closed.
constexpr std::uint32_t queue_unreliable_max = 32;
constexpr std::uint32_t queue_reliable_max = 64;

struct Room;

struct Client {
    ClientId id = 0;
    bool hello = false;
    std::string name;
    std::uint64_t token = 0;  // its secret for rejoining
    Micros last_heard = 0;
    Room* room = nullptr;
    std::uint8_t seats = 0;  // in its room
    bool watcher = false;    // a spectator: in the room without seats
    // The connection is gone, but its seats wait for it to rejoin until it
    // has been quiet for the drop time.
    bool gone = false;
    // The match: the ticks it holds, when it was last sent some, and the
    // tick after the last one sent.
    std::uint32_t ack = 0;
    Micros confirmed_sent = 0;
    std::uint32_t sent_upto = 0;
    // A state sent after a hash that differed, until a hash agrees again.
    bool astray = false;
    bool at_end = false;  // it reported the end's hash
    Micros state_sent = 0;
    std::uint32_t state_tick = 0;
    // Messages queued since the outbox was last emptied.
    std::uint64_t epoch = 0;
    std::uint32_t queued = 0;
};

// The inputs that came in for one tick.
struct InputSlot {
    std::uint32_t tick = std::numeric_limits<std::uint32_t>::max();
    std::uint8_t have = 0;  // seats whose input is in
    std::uint8_t confirms = 0;
    std::uint16_t nibbles = 0;
};

enum class Stage : std::uint8_t { Lobby, Playing, Ended };

struct Room {
    std::uint64_t serial = 0;
    RoomCode code{};
    std::uint8_t place = 0;
    Difficulty difficulty = Difficulty::Normal;
    bool quick = false;
    Stage stage = Stage::Lobby;
    Micros opened = 0;
    ClientId host = 0;
    std::vector<ClientId> members;  // in the order they came, spectators too
    std::uint32_t watchers = 0;
    // Spectators came or went: the lobby goes out again at the next wakeup,
    // once for however many there were.
    bool lobby_stale = false;
    std::array<std::optional<ClientId>, max_seats> seat_client{};

    // The match.
    Match match;
    Micros start = 0;
    std::uint32_t confirmed = 0;   // ticks confirmed so far
    std::uint8_t waiting = 0;      // people's seats whose input is waited for
    std::uint8_t to_computer = 0;  // for the next confirmed tick
    std::array<DiggerInput, max_seats> held{};
    std::array<InputSlot, input_window> inputs{};
    std::vector<ConfirmedTick> history;  // every confirmed tick
    std::array<std::pair<std::uint32_t, std::uint64_t>, hash_ring> hashes{};
    std::uint32_t end_ticks = 0;
    std::uint64_t end_hash = 0;
    Micros ended_at = 0;
    Micros scheduled = never;  // the earliest wakeup queued for it

    std::uint8_t taken() const {
        std::uint8_t mask = 0;
        for (std::size_t i = 0; i < max_seats; ++i)
            if (seat_client[i]) mask = static_cast<std::uint8_t>(mask | 1u << i);
        return mask;
    }
    Micros due(std::uint32_t tick) const { return start + Micros{tick} * tick_micros; }
    std::size_t players() const { return members.size() - watchers; }
};

// A 64-bit mix (SplitMix64's finaliser).
std::uint64_t mixed(std::uint64_t x) {
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
    return x ^ (x >> 31);
}

std::string printable(std::string_view name) {
    std::string out(name.substr(0, name_size_max));
    for (char& c : out)
        if (c < 0x20 || c > 0x7E) c = '?';
    return out;
}

const char* difficulty_text(Difficulty d) {
    switch (d) {
        case Difficulty::Easy:
            return "easy";
        case Difficulty::Hard:
            return "hard";
        default:
            return "normal";
    }
}

}  // namespace

struct Relay::Impl {
    RelayLimits limits;
    Rng rng;
    std::function<void(std::string_view)> log;
    std::uint64_t rules = rules_hash();
    // Rejoin tokens: the connection's number mixed with two keys from the
    // seed, so that one token tells nothing of another.
    std::array<std::uint64_t, 2> token_keys{};
    std::map<ClientId, Client> clients;
    std::map<RoomCode, std::unique_ptr<Room>> rooms;
    std::uint64_t next_serial = 1;
    std::size_t playing = 0;
    std::vector<Outgoing> out;
    std::vector<ClientId> closing;
    std::vector<ClientId> flooding;
    std::uint64_t epoch = 0;
    Micros now = 0;  // of the call at hand
    // Rooms' wakeups (time, serial, code), lazily: a room checks and queues
    // its own next one when an entry comes due.
    using Wake = std::tuple<Micros, std::uint64_t, RoomCode>;
    std::priority_queue<Wake, std::vector<Wake>, std::greater<>> wakeups;
    // Connections that still owe a hello, in the order they came.
    std::deque<std::pair<Micros, ClientId>> greeting;

    Impl(RelayLimits l, std::uint64_t seed, std::function<void(std::string_view)> lg)
        : limits(l),
          rng{arena_rng_start(seed)},
          log(std::move(lg)),
          token_keys{mixed(seed ^ 0x5EA7ED5EA7ULL), mixed(~seed + 0x70CE2ULL)} {}

    std::uint64_t token_for(ClientId id) const {
        const std::uint64_t token =
            mixed(token_keys[0] ^ id) + mixed(token_keys[1] + mixed(std::uint64_t{id} << 1));
        return token != 0 ? token : 1;
    }

    void say(const std::string& line) const {
        if (log) log(line);
    }
    static std::string who(const Client& c) {
        return (c.name.empty() ? std::string("?") : c.name) + " (client " + std::to_string(c.id) +
               ")";
    }
    static std::string room_text(const Room& r) { return "room " + room_code_text(r.code); }

    // ---- Sending --------------------------------------------------------

    void send(Client& c, const Message& message, bool reliable) {
        if (c.gone) return;  // its connection is closed: it hears all again when it rejoins
        if (out.empty()) ++epoch;
        if (c.epoch != epoch) {
            c.epoch = epoch;
            c.queued = 0;
        }
        if (!reliable && c.queued >= queue_unreliable_max) return;
        if (reliable && c.queued >= queue_reliable_max) {
            flooding.push_back(c.id);  // closed once the message at hand is done
            return;
        }
        ++c.queued;
        out.push_back(Outgoing{c.id, encode(message), reliable});
    }

    // Closes the clients that flooded the relay while a message was handled.
    void settle() {
        while (!flooding.empty()) {
            const ClientId id = flooding.back();
            flooding.pop_back();
            close(id, "flooding the relay");
        }
    }

    void refuse(Client& c, RefusedReason reason) { send(c, Refused{reason}, true); }

    void send_lobby(Room& r) {
        Lobby lobby;
        lobby.code = r.code;
        lobby.place = r.place;
        lobby.difficulty = r.difficulty;
        for (std::size_t i = 0; i < max_seats; ++i) {
            if (!r.seat_client[i]) continue;
            lobby.seats[i].person = true;
            lobby.seats[i].name = clients.at(*r.seat_client[i]).name;
        }
        lobby.watchers = static_cast<std::uint8_t>(std::min<std::uint32_t>(r.watchers, 255));
        for (const ClientId id : r.members) {
            Client& c = clients.at(id);
            lobby.your_seats = c.seats;
            lobby.host = id == r.host;
            send(c, lobby, true);
        }
    }

    // ---- Clients and rooms ---------------------------------------------

    // Takes the client out of the relay at once: out of its room, into the
    // list the transport closes.
    void close(ClientId id, const char* why) {
        const auto it = clients.find(id);
        if (it == clients.end()) return;
        const bool gone = it->second.gone;
        leave_room(it->second, why);
        clients.erase(it);
        if (!gone) closing.push_back(id);  // a gone one's connection is closed already
    }

    void schedule(Room& r, Micros when) {
        if (when >= r.scheduled) return;
        r.scheduled = when;
        wakeups.emplace(when, r.serial, r.code);
    }

    Room* open_room(Client& c, std::uint8_t place, Difficulty difficulty, bool quick, Micros now) {
        if (rooms.size() >= limits.rooms_max) {
            refuse(c, RefusedReason::RelayFull);
            return nullptr;
        }
        RoomCode code{};
        do {
            for (char& ch : code)
                ch = room_code_letters[rng.below(
                    static_cast<std::uint32_t>(room_code_letters.size()))];
        } while (rooms.contains(code));
        auto room = std::make_unique<Room>();
        room->serial = next_serial++;
        room->code = code;
        room->place = place;
        room->difficulty = difficulty;
        room->quick = quick;
        room->opened = now;
        room->host = c.id;
        Room* r = room.get();
        rooms.emplace(code, std::move(room));
        schedule(*r, now + limits.lobby_idle);
        return r;
    }

    // Seats the client's players in the first free seats; false if there
    // are not enough.
    static bool seat(Room& r, Client& c, std::uint8_t players) {
        const std::uint8_t free = static_cast<std::uint8_t>(~r.taken() & 15u);
        if (std::popcount(free) < players) return false;
        std::uint8_t mine = 0;
        for (std::size_t i = 0; i < max_seats && std::popcount(mine) < players; ++i) {
            if (((free >> i) & 1u) == 0) continue;
            mine = static_cast<std::uint8_t>(mine | 1u << i);
            r.seat_client[i] = c.id;
        }
        c.seats = mine;
        c.room = &r;
        c.watcher = false;
        r.members.push_back(c.id);
        return true;
    }

    void join(Client& c, Room& r, std::uint8_t players, Micros now) {
        if (r.stage != Stage::Lobby || !seat(r, c, players)) {
            refuse(c, RefusedReason::RoomFull);
            return;
        }
        if (r.players() == 1 && r.host == c.id)
            say(room_text(r) + " opened by " + who(c) + (r.quick ? " for a quick match" : ""));
        else
            say(room_text(r) + " joined by " + who(c));
        send_lobby(r);
        if (r.quick && r.players() >= 2) start(r, now);
    }

    // A spectator comes in: the room as it stands, and once the match runs,
    // its start and every confirmed tick from the first on.
    void watch(Client& c, Room& r, Micros now) {
        if (r.stage == Stage::Ended || r.watchers >= watchers_max) {
            refuse(c, r.stage == Stage::Ended ? RefusedReason::NoRoom : RefusedReason::RoomFull);
            return;
        }
        c.room = &r;
        c.seats = 0;
        c.watcher = true;
        r.members.push_back(c.id);
        ++r.watchers;
        say(room_text(r) + " watched by " + who(c));
        r.lobby_stale = true;
        schedule(r, now);
        if (r.stage == Stage::Playing) send_start(r, c, now);
    }

    // A client whose connection was lost takes its seats back, under the
    // token of the connection it had; without seats waiting for it, it
    // watches.
    void rejoin(Client& c, Room& r, std::uint64_t token, Micros now) {
        const auto old = std::find_if(r.members.begin(), r.members.end(), [&](ClientId id) {
            const Client& o = clients.at(id);
            return id != c.id && !o.watcher && o.seats != 0 && o.token == token;
        });
        if (token == 0 || r.stage == Stage::Lobby || old == r.members.end()) {
            if (r.stage == Stage::Playing) return watch(c, r, now);
            return refuse(c, RefusedReason::NoRoom);
        }
        Client& o = clients.at(*old);
        *old = c.id;
        for (auto& s : r.seat_client)
            if (s == o.id) s = c.id;
        if (r.host == o.id) r.host = c.id;
        c.room = &r;
        c.seats = o.seats;
        c.watcher = false;
        c.ack = o.ack;
        say(room_text(r) + ": " + who(c) + " took back the seats of " + who(o) + " at tick " +
            std::to_string(r.confirmed));
        // The old connection, if the transport still holds it, is closed.
        const ClientId old_id = o.id;
        const bool was_gone = o.gone;
        o.room = nullptr;
        clients.erase(old_id);
        if (!was_gone) closing.push_back(old_id);
        r.lobby_stale = true;
        schedule(r, now);
        send_start(r, c, now);
        if (r.stage == Stage::Ended) send(c, Ended{r.end_ticks, r.end_hash}, true);
    }

    void send_start(Room& r, Client& c, Micros now) {
        c.at_end = false;
        c.confirmed_sent = now;
        c.sent_upto = c.ack;
        c.last_heard = std::max(c.last_heard, now);
        send(c, Started{r.match.setup, c.seats}, true);
    }

    void start(Room& r, Micros now) {
        MatchSetup setup;
        setup.mode = Mode::DuelSolo;
        setup.place = r.place;
        setup.difficulty = r.difficulty;
        setup.seats = r.taken();
        r.match = Match(setup);
        r.stage = Stage::Playing;
        r.start = now;
        r.confirmed = 0;
        r.waiting = setup.seats;
        r.history.clear();
        r.history.reserve(history_reserved);
        ++playing;
        std::string seats;
        for (std::size_t i = 0; i < max_seats; ++i) {
            seats += i == 0 ? "" : ", ";
            seats += r.seat_client[i] ? clients.at(*r.seat_client[i]).name : std::string("COM");
        }
        say(room_text(r) + " started: place " + std::to_string(r.place) + ", " +
            difficulty_text(r.difficulty) + ", seats " + seats);
        for (const ClientId id : r.members) {
            Client& c = clients.at(id);
            c.ack = 0;
            send_start(r, c, now);
        }
        schedule(r, r.due(0) + limits.late_after);
    }

    void close_room(Room& r, const char* why) {
        for (const ClientId id : r.members) {
            Client& c = clients.at(id);
            if (c.gone) {
                clients.erase(id);  // it waited for a rejoin that never came
                continue;
            }
            c.room = nullptr;
            c.seats = 0;
            c.watcher = false;
            c.astray = false;
        }
        if (r.stage == Stage::Playing) --playing;
        say(room_text(r) + " closed" + (why[0] != 0 ? std::string(": ") + why : std::string()));
        rooms.erase(r.code);
    }

    // The client leaves its room: in the lobby its seats are free again (and
    // the next one hosts); in a match the computer takes them over.
    void leave_room(Client& c, const char* why) {
        Room* r = c.room;
        if (r == nullptr) return;
        std::erase(r->members, c.id);
        for (auto& s : r->seat_client)
            if (s == c.id) s.reset();
        const std::uint8_t seats = c.seats;
        const bool watcher = c.watcher;
        c.room = nullptr;
        c.seats = 0;
        c.watcher = false;
        c.astray = false;
        if (watcher) {
            --r->watchers;
            if (r->members.empty()) {
                close_room(*r, "nobody left");
                return;
            }
            r->lobby_stale = true;
            schedule(*r, now);
            return;
        }
        if (r->stage == Stage::Lobby) {
            say(room_text(*r) + " left by " + who(c));
            if (r->players() == 0) {
                // Spectators of a room nobody will start are told it is gone.
                for (const ClientId id : r->members) refuse(clients.at(id), RefusedReason::NoRoom);
                close_room(*r, "empty");
                return;
            }
            if (r->host == c.id)
                r->host = *std::find_if(r->members.begin(), r->members.end(),
                                        [&](ClientId id) { return !clients.at(id).watcher; });
            send_lobby(*r);
            return;
        }
        if (r->stage == Stage::Playing) {
            r->waiting = static_cast<std::uint8_t>(r->waiting & ~seats);
            r->to_computer = static_cast<std::uint8_t>(r->to_computer | seats);
            say(room_text(*r) + " dropped " + who(c) + " at tick " + std::to_string(r->confirmed) +
                ": " + why);
        }
        if (r->members.empty()) {
            close_room(*r, "nobody left");
            return;
        }
        // The ticks that waited only for the seats now the computer's.
        if (r->stage == Stage::Playing && confirm_ready(*r, now)) send_confirmed(*r, now);
    }

    // ---- The match -----------------------------------------------------

    void take_inputs(Client& c, const Inputs& m, Micros now) {
        Room& r = *c.room;
        c.ack = std::max(c.ack, std::min(m.confirmed, r.confirmed));
        if (r.stage != Stage::Playing) return;
        const std::uint8_t mine = static_cast<std::uint8_t>(c.seats & r.waiting);
        for (std::size_t i = 0; i < m.ticks.size(); ++i) {
            const std::uint64_t tick = std::uint64_t{m.first} + i;
            if (tick < r.confirmed || tick >= std::uint64_t{r.confirmed} + input_window) continue;
            InputSlot& slot = r.inputs[tick % input_window];
            if (slot.tick != tick) slot = InputSlot{static_cast<std::uint32_t>(tick)};
            std::size_t local = 0;
            for (std::size_t s = 0; s < max_seats; ++s) {
                if (((c.seats >> s) & 1u) == 0) continue;
                const auto bit = static_cast<std::uint8_t>(1u << s);
                const std::uint32_t nibble = (m.ticks[i] >> (4 * local++)) & 15u;
                if ((mine & bit) == 0 || (slot.have & bit) != 0) continue;
                slot.have = static_cast<std::uint8_t>(slot.have | bit);
                slot.nibbles = static_cast<std::uint16_t>(slot.nibbles | nibble << (4 * s));
                if ((m.ticks[i] & 0x100u) != 0)
                    slot.confirms = static_cast<std::uint8_t>(slot.confirms | bit);
            }
        }
        if (confirm_ready(r, now)) send_confirmed(r, now);
        // A client that lacks ticks and was sent none for a while (they
        // were lost, and it waits for them) is sent them again; one catching
        // up is sent the next ones once it has taken half of those in flight.
        if (r.stage != Stage::Playing || c.ack >= r.confirmed) return;
        constexpr std::uint32_t half_burst = catch_up_messages / 2 * ticks_per_message;
        if (c.sent_upto < r.confirmed && c.ack + half_burst >= c.sent_upto &&
            c.ack + ticks_per_message < r.confirmed)
            send_confirmed(r, c, now, c.sent_upto);
        else if (now >= c.confirmed_sent + resend_idle)
            send_confirmed(r, c, now);
    }

    // Confirms every tick whose inputs are all in or whose wait is over;
    // true if any was.
    bool confirm_ready(Room& r, Micros now) {
        bool any = false;
        while (r.stage == Stage::Playing) {
            InputSlot& slot = r.inputs[r.confirmed % input_window];
            if (slot.tick != r.confirmed) slot = InputSlot{r.confirmed};
            // (With nobody left to wait for, ticks go by the clock alone.)
            const bool complete = r.waiting != 0 && (slot.have & r.waiting) == r.waiting;
            if (!complete && now < r.due(r.confirmed) + limits.late_after) break;
            confirm_tick(r, slot, now);
            any = true;
        }
        return any;
    }

    void confirm_tick(Room& r, const InputSlot& slot, Micros now) {
        TickInput input;
        std::uint8_t late = 0;
        for (std::size_t s = 0; s < max_seats; ++s) {
            const auto bit = static_cast<std::uint8_t>(1u << s);
            if ((r.waiting & bit) == 0) continue;
            if ((slot.have & bit) != 0) {
                input.diggers[s] =
                    unpack_seat(static_cast<std::uint8_t>((slot.nibbles >> (4 * s)) & 15u))
                        .value_or(DiggerInput{});
            } else {
                input.diggers[s] = r.held[s];
                late = static_cast<std::uint8_t>(late | bit);
            }
            r.held[s] = DiggerInput{false, input.diggers[s].dir};
        }
        input.confirm = (slot.confirms & r.waiting) != 0;
        // An end screen nobody confirms goes on by itself after a while.
        if (r.match.phase != MatchPhase::Running && r.match.end_ticks + 1 >= auto_confirm_ticks)
            input.confirm = true;
        input.to_computer = r.to_computer;
        r.to_computer = 0;
        r.match.advance(input);
        r.history.push_back(confirmed_tick(input, late));
        ++r.confirmed;
        if (r.confirmed % hash_every == 0)
            r.hashes[(r.confirmed / hash_every) % hash_ring] = {r.confirmed, state_hash(r.match)};
        if (r.match.phase == MatchPhase::Over || r.confirmed >= limits.match_ticks_max)
            end_match(r, now);
    }

    void end_match(Room& r, Micros now) {
        r.stage = Stage::Ended;
        --playing;
        r.end_ticks = r.confirmed;
        r.end_hash = state_hash(r.match);
        r.ended_at = now;
        char hash[20];
        std::snprintf(hash, sizeof hash, "%016llx", static_cast<unsigned long long>(r.end_hash));
        say(room_text(r) + " ended after " + std::to_string(r.end_ticks) + " ticks, hash " + hash);
        for (const ClientId id : r.members)
            send(clients.at(id), Ended{r.end_ticks, r.end_hash}, true);
        schedule(r, now + tick_micros);
    }

    // Sends each client of the room the confirmed ticks it lacks.
    void send_confirmed(Room& r, Micros now) {
        for (const ClientId id : r.members) send_confirmed(r, clients.at(id), now);
    }

    // Every tick from the first the client lacks: each message says again
    // what the lost ones said. One far behind is sent several messages.
    void send_confirmed(Room& r, Client& c, Micros now) { send_confirmed(r, c, now, c.ack); }
    void send_confirmed(Room& r, Client& c, Micros now, std::uint32_t from) {
        if (std::max(from, c.ack) >= r.confirmed) return;
        c.confirmed_sent = now;
        std::uint32_t first = std::max(from, c.ack);
        for (std::uint32_t n = 0; n < catch_up_messages && first < r.confirmed; ++n) {
            Confirmed m;
            m.first = first;
            const std::uint32_t last =
                std::min<std::uint32_t>(r.confirmed, first + ticks_per_message);
            m.ticks.assign(r.history.begin() + static_cast<std::ptrdiff_t>(first),
                           r.history.begin() + static_cast<std::ptrdiff_t>(last));
            send(c, m, false);
            first = last;
        }
        c.sent_upto = first;
    }

    void send_state(Room& r, Client& c, Micros now) {
        c.astray = true;
        c.state_sent = now;
        c.state_tick = r.confirmed;
        send(c, State{r.confirmed, encode_match(r.match)}, true);
    }

    void take_hash(Client& c, const HashReport& m, Micros now) {
        Room& r = *c.room;
        if (r.stage == Stage::Lobby || m.tick == 0) return;
        // Every 20th tick, and the last one of an ended match.
        std::uint64_t hash = r.end_hash;
        if (r.stage != Stage::Ended || m.tick != r.end_ticks) {
            const auto& [tick, kept] = r.hashes[(m.tick / hash_every) % hash_ring];
            if (m.tick % hash_every != 0 || tick != m.tick) return;
            hash = kept;
        }
        if (hash == m.hash) {
            if (r.stage == Stage::Ended && m.tick == r.end_ticks) c.at_end = true;
            if (c.astray && m.tick >= c.state_tick) {
                c.astray = false;
                say(room_text(r) + " desync of " + who(c) + " recovered at tick " +
                    std::to_string(m.tick));
            }
            return;
        }
        if (c.astray && now < c.state_sent + state_retry) return;
        say(room_text(r) + " desync of " + who(c) + " at tick " + std::to_string(m.tick) +
            ": state of tick " + std::to_string(r.confirmed) + " sent");
        send_state(r, c, now);
    }

    // Whatever falls due for the room at `now`; then its next wakeup.
    void check(Room& r, Micros now) {
        r.scheduled = never;
        if (r.lobby_stale && r.stage != Stage::Ended) send_lobby(r);
        r.lobby_stale = false;
        if (r.stage == Stage::Lobby) {
            if (now >= r.opened + limits.lobby_idle) {
                for (const ClientId id : r.members) refuse(clients.at(id), RefusedReason::NoRoom);
                close_room(r, "not started in time");
                return;
            }
            schedule(r, r.opened + limits.lobby_idle);
            return;
        }
        if (r.stage == Stage::Playing) {
            for (const ClientId id : std::vector<ClientId>(r.members)) {
                const Client& c = clients.at(id);
                if (now >= c.last_heard + limits.quiet_drop) {
                    // Dropped by the relay: the transport closes the connection.
                    if (c.room == &r && r.members.size() == 1) {
                        close(id, "quiet");
                        return;  // the room closed with it
                    }
                    close(id, "quiet");
                }
            }
            if (confirm_ready(r, now)) send_confirmed(r, now);
        }
        if (r.stage == Stage::Playing) {
            Micros next = r.due(r.confirmed) + limits.late_after;
            for (const ClientId id : r.members)
                next = std::min(next, clients.at(id).last_heard + limits.quiet_drop);
            schedule(r, std::max(next, now + 1));
            return;
        }
        // Ended: the clients still lacking ticks are sent them until they
        // have them all and have reported the end's hash, or the grace is over.
        bool lacking = false;
        for (const ClientId id : r.members) {
            Client& c = clients.at(id);
            lacking = lacking || c.astray || !c.at_end;
            if (c.ack >= r.end_ticks) continue;
            lacking = true;
            if (now >= c.confirmed_sent + resend_ended) send_confirmed(r, c, now);
        }
        if (!lacking || now >= r.ended_at + end_grace) {
            close_room(r, lacking ? "ended, some clients did not answer" : "ended");
            return;
        }
        schedule(r, now + tick_micros);
    }

    // ---- Messages ------------------------------------------------------

    void take(Client& c, const Message& message, Micros now) {
        const auto not_allowed = [&] { refuse(c, RefusedReason::NotAllowed); };
        // A client in an ended room may go on to another.
        const bool free = c.room == nullptr || c.room->stage == Stage::Ended;
        if (std::holds_alternative<Hello>(message)) {
            not_allowed();
        } else if (const auto* open = std::get_if<OpenRoom>(&message)) {
            if (!free) return not_allowed();
            leave_room(c, "left");
            if (Room* r = open_room(c, open->place, open->difficulty, false, now))
                join(c, *r, open->players, now);
        } else if (const auto* join_room = std::get_if<JoinRoom>(&message)) {
            if (!free) return not_allowed();
            leave_room(c, "left");
            const auto it = rooms.find(join_room->code);
            if (it == rooms.end()) return refuse(c, RefusedReason::NoRoom);
            join(c, *it->second, join_room->players, now);
        } else if (const auto* w = std::get_if<Watch>(&message)) {
            if (!free) return not_allowed();
            leave_room(c, "left");
            const auto it = rooms.find(w->code);
            if (it == rooms.end()) return refuse(c, RefusedReason::NoRoom);
            watch(c, *it->second, now);
        } else if (const auto* back = std::get_if<Rejoin>(&message)) {
            if (!free) return not_allowed();
            leave_room(c, "left");
            const auto it = rooms.find(back->code);
            if (it == rooms.end()) return refuse(c, RefusedReason::NoRoom);
            rejoin(c, *it->second, back->token, now);
        } else if (const auto* quick = std::get_if<QuickMatch>(&message)) {
            if (!free) return not_allowed();
            leave_room(c, "left");
            Room* waiting = nullptr;
            for (auto& [code, room] : rooms)
                if (room->quick && room->stage == Stage::Lobby &&
                    std::popcount(static_cast<unsigned>(~room->taken() & 15u)) >= quick->players) {
                    waiting = room.get();
                    break;
                }
            if (waiting == nullptr) {
                const auto place = static_cast<std::uint8_t>(rng.below(duel_place_count));
                waiting = open_room(c, place, Difficulty::Normal, true, now);
            }
            if (waiting != nullptr) join(c, *waiting, quick->players, now);
        } else if (std::holds_alternative<StartMatch>(message)) {
            if (c.room == nullptr || c.room->stage != Stage::Lobby || c.room->host != c.id)
                return not_allowed();
            start(*c.room, now);
        } else if (const auto* inputs = std::get_if<Inputs>(&message)) {
            if (c.room != nullptr && c.room->stage != Stage::Lobby) take_inputs(c, *inputs, now);
        } else if (const auto* hash = std::get_if<HashReport>(&message)) {
            if (c.room != nullptr) take_hash(c, *hash, now);
        } else if (std::holds_alternative<Leave>(message)) {
            leave_room(c, "left");
        } else if (const auto* ping = std::get_if<Ping>(&message)) {
            std::uint32_t ms = 0;
            if (c.room != nullptr && c.room->stage != Stage::Lobby)
                ms = static_cast<std::uint32_t>((now - c.room->start) / 1000);
            send(c, Pong{ping->sent, ms}, false);
        } else {
            close(c.id, "garbage");  // a relay's message from a client is garbage
        }
    }

    void hello(Client& c, const Hello& m) {
        if (m.version != protocol_version || m.rules != rules) {
            refuse(c, m.version != protocol_version ? RefusedReason::OtherVersion
                                                    : RefusedReason::OtherRules);
            close(c.id, "refused");
            return;
        }
        c.hello = true;
        c.name = printable(m.name);
        c.token = token_for(c.id);
        send(c, Welcome{c.id, c.token}, true);
    }
};

Relay::Relay(RelayLimits limits, std::uint64_t seed, std::function<void(std::string_view)> log)
    : impl_(std::make_unique<Impl>(limits, seed, std::move(log))) {}

Relay::~Relay() = default;

bool Relay::connected(ClientId client, Micros now) {
    Impl& im = *impl_;
    im.now = now;
    im.close(client, "connected again");  // a connection under a number still held replaces it
    std::erase(im.closing, client);
    if (im.clients.size() >= im.limits.clients_max) return false;
    Client& c = im.clients[client];
    c.id = client;
    c.last_heard = now;
    im.greeting.emplace_back(now + im.limits.hello_within, client);
    return true;
}

void Relay::received(ClientId client, std::span<const std::uint8_t> bytes, Micros now) {
    Impl& im = *impl_;
    const auto it = im.clients.find(client);
    if (it == im.clients.end()) return;
    Client& c = it->second;
    im.now = now;
    c.last_heard = now;
    const std::optional<Message> message = decode(bytes);
    if (!message) {
        im.close(client, "garbage");
        return;
    }
    if (!c.hello) {
        if (const auto* hello = std::get_if<Hello>(&*message))
            im.hello(c, *hello);
        else
            im.close(client, "no hello");
        return;
    }
    im.take(c, *message, now);
    im.settle();
}

void Relay::disconnected(ClientId client, Micros now) {
    Impl& im = *impl_;
    im.now = now;
    const auto it = im.clients.find(client);
    if (it == im.clients.end()) return;
    Client& c = it->second;
    // A player's seats in a match wait for it to come back until the drop
    // time is over, as if it had only gone quiet; after the end, until the
    // room closes.
    if (c.room != nullptr && c.room->stage != Stage::Lobby && !c.watcher && c.seats != 0) {
        c.gone = true;
        im.say(Impl::room_text(*c.room) + " lost the connection of " + Impl::who(c) + " at tick " +
               std::to_string(c.room->confirmed));
        return;
    }
    im.leave_room(c, "disconnected");
    im.clients.erase(it);
    im.settle();
}

void Relay::advance(Micros now) {
    Impl& im = *impl_;
    im.now = now;
    while (!im.greeting.empty() && im.greeting.front().first <= now) {
        const ClientId id = im.greeting.front().second;
        im.greeting.pop_front();
        const auto it = im.clients.find(id);
        if (it != im.clients.end() && !it->second.hello) im.close(id, "no hello");
    }
    while (!im.wakeups.empty() && std::get<0>(im.wakeups.top()) <= now) {
        const auto [when, serial, code] = im.wakeups.top();
        im.wakeups.pop();
        const auto it = im.rooms.find(code);
        if (it == im.rooms.end() || it->second->serial != serial) continue;
        Room& r = *it->second;
        if (r.scheduled != when) continue;  // a later entry stands for it
        im.check(r, now);
        im.settle();
    }
}

Micros Relay::next_wakeup() const {
    Micros next = never;
    if (!impl_->wakeups.empty()) next = std::get<0>(impl_->wakeups.top());
    if (!impl_->greeting.empty()) next = std::min(next, impl_->greeting.front().first);
    return next;
}

std::vector<Outgoing>& Relay::outbox() { return impl_->out; }
std::vector<ClientId>& Relay::to_close() { return impl_->closing; }
std::size_t Relay::clients() const { return impl_->clients.size(); }
std::size_t Relay::rooms() const { return impl_->rooms.size(); }
std::size_t Relay::matches() const { return impl_->playing; }

}  // namespace zobra::net
