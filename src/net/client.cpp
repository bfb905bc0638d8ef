#include "net/client.h"

#include <algorithm>
#include <deque>
#include <limits>
#include <map>
#include <utility>

namespace zobra::net {

namespace {

constexpr Micros tick_micros = 50'000;
// Pings: every quarter second until a few have come back in a phase, then
// every half second.
constexpr Micros ping_fast = 250'000;
constexpr Micros ping_slow = 1'000'000;
constexpr std::uint32_t fast_pings = 8;
// The relay's clock is read off the answer with the shortest round trip
// among the last few.
constexpr std::size_t sync_samples = 8;
// How far ahead of the relay's clock the client plays beyond half a round
// trip (its input then comes in as the tick falls due). None: a tick is
// confirmed a round trip after this client played it whatever its lead, as
// long as every client leads alike; a margin would only widen its own gap
// between shown and confirmed ticks, and the relay waits 150 ms past a
// tick's time before it holds a missing input.
constexpr Micros lead_margin = 0;
// Off by more than this, the clock jumps; less, the ticks run up to a tenth
// faster or slower until it is right.
constexpr std::int64_t clock_snap = 100'000;
constexpr std::int64_t rate_one = 1'000'000;
constexpr std::int64_t rate_swing = 100'000;
// Ticks run in one update at most (catching up after a stall).
constexpr std::uint32_t catch_up_max = 4;
// Inputs go out every tick, and at least this often while none runs.
constexpr Micros inputs_every = 50'000;
// Confirmed ticks kept that came before one still missing: a message's
// worth, or a spectator's burst while it catches up (the relay's sixteen).
constexpr std::uint32_t early_max = 17 * ticks_per_message;
constexpr std::uint32_t hash_every = 20;
// No answer to a ping for this long: the match waits for this client's own
// connection.
constexpr Micros silent_after = 1'000'000;
// Ended with another hash than the relay's: the hash is reported again this
// often until the relay's state comes.
constexpr Micros end_report_every = 250'000;
// A lost connection is given up this long after it was lost. The relay gives
// the seats to the computer after 3 s of silence, but a rejoin that comes
// later still watches the match to its end.
constexpr Micros rejoin_within = 6'000'000;
// A spectator shows the match this many ticks (a second) behind the relay's
// clock, so that the confirmed ticks are there before they are shown, and
// plays at most this many in one update while it catches up.
constexpr std::uint32_t watch_delay_ticks = 20;
constexpr std::uint32_t watch_catch_up_max = 600;

// Events that are only announced once their tick is confirmed: a death or a
// decided round must not be taken back.
bool confirmed_only(Event e) {
    return e == Event::DiggerDied || e == Event::DiggerEscaped || e == Event::RoundOver ||
           e == Event::AllLost;
}

constexpr std::size_t event_kinds = 16;

// The events of one tick already played, by kind, so that a tick played
// again after a rollback plays only what it did not play before.
struct Heard {
    std::uint32_t tick = std::numeric_limits<std::uint32_t>::max();
    std::array<std::uint8_t, event_kinds> count{};
};

struct SyncSample {
    Micros rtt = 0;
    std::int64_t offset = 0;
};

}  // namespace

struct OnlineClient::Impl {
    std::string name;
    ClientPhase phase = ClientPhase::Connecting;
    bool welcomed = false;
    std::optional<RefusedReason> refused;
    std::optional<Lobby> lobby;
    std::uint8_t seats = 0;
    bool watcher = false;     // asked to watch, or lost its seats
    std::uint64_t token = 0;  // the welcome's, to rejoin with
    Micros lost_at = 0;
    std::vector<ToRelay> out;

    // Time: the round trip, and the relay's match clock as an offset to ours.
    Micros next_ping = 0;
    Micros last_pong = 0;
    std::uint32_t pongs = 0;  // in this phase
    Micros srtt = 0;
    bool have_rtt = false;
    std::array<SyncSample, sync_samples> samples{};
    std::size_t sample_count = 0;
    std::int64_t offset = 0;  // relay's match time = our time + offset

    // The match's clock as this client runs it: tick k runs once `clock`
    // reaches k ticks.
    std::int64_t clock = 0;
    std::int64_t rate = rate_one;
    Micros last_update = 0;
    bool clock_set = false;
    Micros last_inputs = 0;
    Micros last_end_report = 0;

    // The match: the confirmed copy after `confirmed_ticks` ticks, the shown
    // one after `shown_ticks`, every confirmed tick's input (`log`, which
    // may lag the confirmed copy after a state came), the inputs the shown
    // copy used past the confirmed one, and this machine's own inputs past it.
    Match confirmed;
    Match shown;
    std::uint32_t confirmed_ticks = 0;
    std::uint32_t shown_ticks = 0;
    std::vector<TickInput> log;
    std::map<std::uint32_t, ConfirmedTick> early;
    std::uint32_t newest_heard = 0;  // the tick after the newest confirmed one heard of
    std::uint32_t acked = 0;         // the log's length last told to the relay
    std::deque<TickInput> predicted;
    std::deque<LocalInput> own;
    std::uint32_t own_first = 0;
    std::array<DiggerInput, max_seats> held{};
    bool replay = false;  // the shown copy must be played again from the confirmed one
    std::array<bool, local_seats_max> latched_drop{};
    bool latched_confirm = false;

    // Sounds.
    std::array<Heard, 32> heard{};
    std::uint32_t announced = 0;  // confirmed ticks whose deaths were announced
    std::vector<Event> pending;
    bool recovered = false;

    // The end.
    std::optional<Ended> end;
    std::uint64_t end_hash = 0;
    bool end_matched = false;

    explicit Impl(std::string n) : name(std::move(n)) {}

    void send(const Message& m, bool reliable) {
        // A connection made again says nothing before its hello is
        // answered: the relay closes one whose first word is not a hello.
        if (phase == ClientPhase::Reconnecting && !welcomed && !std::holds_alternative<Hello>(m))
            return;
        out.push_back(ToRelay{encode(m), reliable});
    }

    bool can_lobby() const {
        return welcomed && (phase == ClientPhase::Welcomed || phase == ClientPhase::Refused ||
                            phase == ClientPhase::Ended);
    }

    // ---- Time ------------------------------------------------------------

    void take_pong(const Pong& p, Micros now) {
        const Micros rtt = static_cast<std::uint32_t>(static_cast<std::uint32_t>(now) - p.echo);
        if (rtt > 10'000'000) return;  // not one of ours
        last_pong = now;
        ++pongs;
        srtt = have_rtt ? (7 * srtt + rtt) / 8 : rtt;
        have_rtt = true;
        if (phase != ClientPhase::Playing || p.match_ms == 0) return;
        const auto relay = static_cast<std::int64_t>(Micros{p.match_ms} * 1000 + 500 + rtt / 2);
        samples[sample_count++ % sync_samples] = {rtt, relay - static_cast<std::int64_t>(now)};
        const std::size_t n = std::min(sample_count, sync_samples);
        const auto best = std::min_element(
            samples.begin(), samples.begin() + static_cast<std::ptrdiff_t>(n),
            [](const SyncSample& a, const SyncSample& b) { return a.rtt < b.rtt; });
        offset = best->offset;
    }

    void ping(Micros now) {
        if (!welcomed || now < next_ping) return;
        send(Ping{static_cast<std::uint32_t>(now)}, false);
        next_ping = now + (pongs < fast_pings ? ping_fast : ping_slow);
    }

    // Where this client's clock should stand: the relay's, plus the time
    // its input takes to get there.
    std::int64_t clock_target(Micros now) const {
        return static_cast<std::int64_t>(now) + offset + static_cast<std::int64_t>(srtt / 2) +
               static_cast<std::int64_t>(lead_margin);
    }

    void run_clock(Micros now) {
        const std::int64_t target = clock_target(now);
        if (!clock_set) {
            clock = target;
            clock_set = true;
        } else {
            const auto dt =
                static_cast<std::int64_t>(std::min<Micros>(now - last_update, 1'000'000));
            clock += dt * rate / rate_one;
        }
        last_update = now;
        const std::int64_t error = target - clock;
        if (error > clock_snap || error < -clock_snap) {
            clock = target;
            rate = rate_one;
        } else {
            // A tick (50 ms) off runs a tenth faster or slower.
            rate = rate_one + std::clamp<std::int64_t>(error * 2, -rate_swing, rate_swing);
        }
    }

    // ---- The match -------------------------------------------------------

    void start(const Started& m, Micros now) {
        phase = ClientPhase::Playing;
        seats = m.your_seats;
        watcher = seats == 0;
        newest_heard = 0;
        acked = 0;
        confirmed = Match(m.setup);
        shown = confirmed;
        confirmed_ticks = shown_ticks = 0;
        log.clear();
        early.clear();
        predicted.clear();
        own.clear();
        own_first = 0;
        held = {};
        replay = false;
        latched_drop = {};
        latched_confirm = false;
        heard = {};
        announced = 0;
        end.reset();
        end_hash = 0;
        end_matched = false;
        // The relay's clock started when it sent this, half a round trip ago.
        sample_count = 0;
        pongs = 0;
        next_ping = now;  // the relay's clock at once: this message may have come late
        offset = static_cast<std::int64_t>(srtt / 2) - static_cast<std::int64_t>(now);
        clock_set = false;
        rate = rate_one;
        last_inputs = 0;
    }

    // The input of a tick as this client foresees it: its own players'
    // input, and for the others the direction each held in the last
    // confirmed tick (never a charge, never a confirm).
    TickInput foreseen(LocalInput mine) const {
        TickInput input;
        std::size_t local = 0;
        for (std::size_t s = 0; s < max_seats; ++s) {
            if (((seats >> s) & 1u) != 0)
                input.diggers[s] =
                    unpack_seat(static_cast<std::uint8_t>((mine >> (4 * local++)) & 15u))
                        .value_or(DiggerInput{});
            else
                input.diggers[s] = held[s];
        }
        input.confirm = (mine & 0x100u) != 0;
        return input;
    }

    void hear(std::uint32_t tick, const std::vector<Event>& events, std::vector<Event>& sounds) {
        Heard& h = heard[tick % heard.size()];
        if (h.tick != tick) h = Heard{tick, {}};
        std::array<std::uint8_t, event_kinds> seen{};
        for (const Event e : events) {
            const auto kind = static_cast<std::size_t>(e);
            if (confirmed_only(e) || kind >= event_kinds) continue;
            if (++seen[kind] <= h.count[kind]) continue;
            h.count[kind] = seen[kind];
            sounds.push_back(e);
        }
    }

    void drop_own_before(std::uint32_t tick) {
        while (!own.empty() && own_first < tick) {
            own.pop_front();
            ++own_first;
        }
        if (own.empty()) own_first = std::max(own_first, tick);
    }

    // One confirmed tick, the next the log lacks.
    void take_confirmed(const ConfirmedTick& t) {
        const std::uint32_t tick = static_cast<std::uint32_t>(log.size());
        const TickInput input = tick_input(t);
        log.push_back(input);
        for (std::size_t s = 0; s < max_seats; ++s)
            held[s] = DiggerInput{false, input.diggers[s].dir};
        if (tick < confirmed_ticks) return;  // a state brought the copy past it already
        const TickReport report = confirmed.advance(input);
        ++confirmed_ticks;
        if (tick >= announced) {
            for (const Event e : report.events)
                if (confirmed_only(e)) pending.push_back(e);
            announced = tick + 1;
        }
        // Only hashes the relay still keeps are reported: a client catching
        // up would otherwise send a flood the relay cannot check.
        if (confirmed_ticks % hash_every == 0 && confirmed_ticks + hash_every >= newest_heard)
            send(HashReport{confirmed_ticks, state_hash(confirmed)}, false);
        if (!predicted.empty()) {
            if (predicted.front() != input) replay = true;
            predicted.pop_front();
        } else {
            replay = true;  // the shown copy is behind the confirmed one
        }
        drop_own_before(confirmed_ticks);
    }

    void take_confirmed(const Confirmed& m) {
        const auto have = static_cast<std::uint32_t>(log.size());
        newest_heard = std::max<std::uint32_t>(
            newest_heard, static_cast<std::uint32_t>(std::min<std::uint64_t>(
                              std::uint64_t{m.first} + m.ticks.size(), UINT32_MAX)));
        for (std::size_t i = 0; i < m.ticks.size(); ++i) {
            const std::uint64_t tick = std::uint64_t{m.first} + i;
            if (tick < have) continue;
            if (tick >= std::uint64_t{have} + early_max) break;
            early.emplace(static_cast<std::uint32_t>(tick), m.ticks[i]);
        }
        while (!early.empty() && early.begin()->first <= log.size()) {
            if (early.begin()->first == log.size()) take_confirmed(early.begin()->second);
            early.erase(early.begin());
        }
        reach_end();
    }

    void take_state(const State& m) {
        std::optional<Match> match = decode_match(m.match);
        if (!match || match->setup != confirmed.setup) return;
        confirmed = std::move(*match);
        confirmed_ticks = m.tick;
        // The log may hold ticks past the state's: play them on it.
        while (confirmed_ticks < log.size()) confirmed.advance(log[confirmed_ticks++]);
        announced = std::max(announced, confirmed_ticks);
        predicted.clear();
        drop_own_before(confirmed_ticks);
        replay = true;
        recovered = true;
        if (phase == ClientPhase::Ended) {
            finish_end();
        } else {
            reach_end();
        }
    }

    // A spectator ends once it has shown the last tick.
    void reach_end() {
        if (phase == ClientPhase::Playing && end && confirmed_ticks >= end->ticks &&
            (!watcher || shown_ticks >= end->ticks))
            finish_end();
    }

    void finish_end() {
        phase = ClientPhase::Ended;
        shown = confirmed;
        shown_ticks = confirmed_ticks;
        predicted.clear();
        own.clear();
        replay = false;
        const std::uint64_t hash = state_hash(confirmed);
        end_matched = end && confirmed_ticks == end->ticks && hash == end->hash;
        ack();
        // The end's hash goes to the relay too: a copy that went astray in
        // the last ticks asks for the state so, and one mended says so (for
        // certain: it is the last word on the match).
        send(HashReport{confirmed_ticks, hash}, true);
        last_end_report = 0;
    }

    void ack() {
        Inputs m;
        m.confirmed = static_cast<std::uint32_t>(log.size());
        m.first = own_first;
        send(m, false);
    }

    // The shown copy played again from the confirmed one, with the newest
    // foresight.
    void play_again(std::vector<Event>& sounds) {
        const std::uint32_t upto = std::max(shown_ticks, confirmed_ticks);
        shown = confirmed;
        shown_ticks = confirmed_ticks;
        predicted.clear();
        drop_own_before(confirmed_ticks);
        while (shown_ticks < upto && shown_ticks - own_first < own.size()) {
            const TickInput input = foreseen(own[shown_ticks - own_first]);
            hear(shown_ticks, shown.advance(input).events, sounds);
            predicted.push_back(input);
            ++shown_ticks;
        }
        replay = false;
    }

    // A new tick with this frame's input.
    void play(const std::array<DiggerInput, local_seats_max>& local, bool confirm,
              std::vector<Event>& sounds) {
        LocalInput mine = 0;
        for (std::size_t i = 0; i < local_seats_max; ++i) {
            DiggerInput input = local[i];
            input.drop = input.drop || latched_drop[i];
            mine = static_cast<LocalInput>(mine | pack_seat(input) << (4 * i));
        }
        if (confirm || latched_confirm) mine = static_cast<LocalInput>(mine | 0x100u);
        latched_drop = {};
        latched_confirm = false;
        if (own.empty()) own_first = shown_ticks;
        own.push_back(mine);
        const TickInput input = foreseen(mine);
        hear(shown_ticks, shown.advance(input).events, sounds);
        predicted.push_back(input);
        ++shown_ticks;
    }

    void send_inputs(Micros now) {
        acked = static_cast<std::uint32_t>(log.size());
        Inputs m;
        m.confirmed = static_cast<std::uint32_t>(log.size());
        m.first = own_first;
        const std::size_t n = std::min(own.size(), ticks_per_message);
        m.ticks.assign(own.begin(), own.begin() + static_cast<std::ptrdiff_t>(n));
        send(m, false);
        last_inputs = now;
    }

    std::uint8_t waiting(Micros now) const {
        const auto others = static_cast<std::uint8_t>(people_seats(confirmed.setup) & ~seats &
                                                      ~confirmed.computer_seats);
        // Without answers to its pings, or without anyone else, the match
        // waits for this client's own connection.
        if (now >= last_pong + silent_after || others == 0) return seats;
        return others;
    }

    // A spectator's update: the log played on, up to a second behind the
    // relay's clock; every event is heard, but only near that moment.
    void watch(Micros now, ClientUpdate& u) {
        pending.clear();
        run_clock(now);
        const std::int64_t at = clock / static_cast<std::int64_t>(tick_micros) - watch_delay_ticks;
        const auto goal = static_cast<std::uint32_t>(
            std::clamp<std::int64_t>(at, 0, static_cast<std::int64_t>(log.size())));
        if (shown_ticks < confirmed_ticks && confirmed_ticks > log.size()) {
            // A state came past the log: show it.
            shown = confirmed;
            shown_ticks = confirmed_ticks;
        }
        std::uint32_t ran = 0;
        while (shown_ticks < goal && ran < watch_catch_up_max) {
            const TickReport report = shown.advance(log[shown_ticks]);
            ++shown_ticks;
            ++ran;
            if (goal - shown_ticks < 2)
                u.sounds.insert(u.sounds.end(), report.events.begin(), report.events.end());
        }
        u.ticks_run = ran;
        if (log.size() > acked || now >= last_inputs + inputs_every) send_inputs(now);
        reach_end();
    }

    ClientUpdate update(const std::array<DiggerInput, local_seats_max>& local, bool confirm,
                        Micros now) {
        ClientUpdate u;
        if (phase == ClientPhase::Reconnecting && now >= lost_at + rejoin_within) {
            phase = ClientPhase::Lost;
            return u;
        }
        ping(now);
        u.sounds = std::exchange(pending, {});
        u.recovered = std::exchange(recovered, false);
        if (phase == ClientPhase::Ended && !end_matched && end &&
            now >= last_end_report + end_report_every) {
            // Ask for the relay's state by reporting the differing end.
            send(HashReport{confirmed_ticks, state_hash(confirmed)}, false);
            last_end_report = now;
        }
        if (phase != ClientPhase::Playing && phase != ClientPhase::Reconnecting) return u;
        if (watcher) {
            watch(now, u);
            return u;
        }
        for (std::size_t i = 0; i < local_seats_max; ++i)
            latched_drop[i] = latched_drop[i] || local[i].drop;
        latched_confirm = latched_confirm || confirm;

        const std::uint32_t before = shown_ticks;
        if (replay) play_again(u.sounds);
        run_clock(now);
        const std::int64_t due = clock < 0 ? 0 : clock / static_cast<std::int64_t>(tick_micros) + 1;
        std::uint32_t ran = 0;
        while (static_cast<std::int64_t>(shown_ticks) < due && ran < catch_up_max &&
               shown_ticks < confirmed_ticks + rollback_ticks_max) {
            play(local, confirm, u.sounds);
            ++ran;
        }
        // Waiting, unless the match is over and only its end is to come.
        if (static_cast<std::int64_t>(shown_ticks) < due &&
            shown_ticks >= confirmed_ticks + rollback_ticks_max &&
            confirmed.phase != MatchPhase::Over)
            u.waiting_for = waiting(now);
        if (ran > 0 || now >= last_inputs + inputs_every) send_inputs(now);
        u.ticks_run = shown_ticks - before;
        return u;
    }

    float fraction(Micros now) const {
        if (phase != ClientPhase::Playing || !clock_set || shown_ticks == 0) return 0.0f;
        std::int64_t at = clock + static_cast<std::int64_t>(now - last_update) * rate / rate_one;
        if (watcher) at -= std::int64_t{watch_delay_ticks} * static_cast<std::int64_t>(tick_micros);
        const std::int64_t into = at - static_cast<std::int64_t>(shown_ticks - 1) *
                                           static_cast<std::int64_t>(tick_micros);
        return static_cast<float>(std::clamp<std::int64_t>(into, 0, tick_micros)) /
               static_cast<float>(tick_micros);
    }

    // ---- Messages --------------------------------------------------------

    void take(const Message& message, Micros now) {
        if (const auto* welcome = std::get_if<Welcome>(&message)) {
            if (welcomed) return;
            if (phase == ClientPhase::Reconnecting && lobby) {
                // Back: the seats, under the old connection's token.
                welcomed = true;
                send(Rejoin{lobby->code, token}, true);
            } else if (phase == ClientPhase::Connecting) {
                phase = ClientPhase::Welcomed;
            } else {
                return;
            }
            welcomed = true;
            token = welcome->token;
            next_ping = now;
        } else if (const auto* refusal = std::get_if<Refused>(&message)) {
            refused = refusal->reason;
            // Inside a room or a match a refused request changes nothing,
            // unless the room itself is gone. A rejoin refused is the end.
            if (phase == ClientPhase::Reconnecting) {
                phase = ClientPhase::Lost;
                return;
            }
            if (phase == ClientPhase::Playing) return;
            if (phase == ClientPhase::InRoom && refusal->reason != RefusedReason::NoRoom) return;
            lobby.reset();
            phase = ClientPhase::Refused;
        } else if (const auto* l = std::get_if<Lobby>(&message)) {
            if (!welcomed) return;
            lobby = *l;
            if (phase == ClientPhase::Playing || phase == ClientPhase::Reconnecting) return;
            seats = l->your_seats;
            phase = ClientPhase::InRoom;
        } else if (const auto* started = std::get_if<Started>(&message)) {
            if (!welcomed || phase == ClientPhase::Playing) return;
            if (phase == ClientPhase::Reconnecting && started->setup == confirmed.setup) {
                // The same match goes on, with the seats given back, or none.
                phase = ClientPhase::Playing;
                seats = started->your_seats;
                refused.reset();
                if (seats == 0 && !watcher) {
                    // The computer has the seats by now: watch from what
                    // is confirmed, nothing foreseen.
                    watcher = true;
                    shown = confirmed;
                    shown_ticks = confirmed_ticks;
                    predicted.clear();
                    own.clear();
                }
                return;
            }
            start(*started, now);
        } else if (const auto* c = std::get_if<Confirmed>(&message)) {
            if (phase != ClientPhase::Playing && phase != ClientPhase::Ended &&
                phase != ClientPhase::Reconnecting)
                return;
            take_confirmed(*c);
            if (phase == ClientPhase::Ended) ack();
        } else if (const auto* state = std::get_if<State>(&message)) {
            if (phase != ClientPhase::Playing && phase != ClientPhase::Ended) return;
            take_state(*state);
        } else if (const auto* ended = std::get_if<Ended>(&message)) {
            if (phase != ClientPhase::Playing) return;
            end = *ended;
            end_hash = ended->hash;
            reach_end();
        } else if (const auto* pong = std::get_if<Pong>(&message)) {
            take_pong(*pong, now);
        }
        // A client's own kinds of message from the relay mean nothing.
    }
};

OnlineClient::OnlineClient(std::string name) : impl_(std::make_unique<Impl>(std::move(name))) {}
OnlineClient::~OnlineClient() = default;

void OnlineClient::connected(Micros now) {
    Impl& im = *impl_;
    im.welcomed = false;
    im.last_pong = now;
    if (im.phase == ClientPhase::Reconnecting) {
        // What waited for the lost connection is said again once back.
        im.out.clear();
        im.send(Hello{protocol_version, rules_hash(), im.name}, true);
        return;
    }
    im.phase = ClientPhase::Connecting;
    im.refused.reset();
    im.lobby.reset();
    im.send(Hello{protocol_version, rules_hash(), im.name}, true);
}

void OnlineClient::received(std::span<const std::uint8_t> bytes, Micros now) {
    if (impl_->phase == ClientPhase::Lost) return;
    if (const std::optional<Message> message = decode(bytes)) impl_->take(*message, now);
}

void OnlineClient::lost(Micros now) {
    Impl& im = *impl_;
    im.welcomed = false;
    // A match goes on without the connection for a while, and the client
    // comes back into it; an ended match stays ended: its end and hash are
    // known.
    if (im.phase == ClientPhase::Playing && im.lobby && im.token != 0) {
        im.phase = ClientPhase::Reconnecting;
        im.lost_at = now;
        im.out.clear();
    } else if (im.phase != ClientPhase::Ended && im.phase != ClientPhase::Reconnecting) {
        im.phase = ClientPhase::Lost;
    }
}

std::vector<ToRelay>& OnlineClient::outbox() { return impl_->out; }

void OnlineClient::open_room(std::uint8_t place, Difficulty difficulty, std::uint8_t players) {
    if (!impl_->can_lobby()) return;
    impl_->refused.reset();
    impl_->watcher = false;
    impl_->send(OpenRoom{static_cast<std::uint8_t>(place % duel_place_count), difficulty,
                         std::clamp<std::uint8_t>(players, 1, local_seats_max)},
                true);
}

void OnlineClient::join_room(const RoomCode& code, std::uint8_t players) {
    if (!impl_->can_lobby()) return;
    impl_->refused.reset();
    impl_->watcher = false;
    impl_->send(JoinRoom{code, std::clamp<std::uint8_t>(players, 1, local_seats_max)}, true);
}

void OnlineClient::quick_match(std::uint8_t players) {
    if (!impl_->can_lobby()) return;
    impl_->refused.reset();
    impl_->watcher = false;
    impl_->send(QuickMatch{std::clamp<std::uint8_t>(players, 1, local_seats_max)}, true);
}

void OnlineClient::watch_room(const RoomCode& code) {
    if (!impl_->can_lobby()) return;
    impl_->refused.reset();
    impl_->watcher = true;
    impl_->send(Watch{code}, true);
}

void OnlineClient::start_match() {
    if (impl_->phase == ClientPhase::InRoom && impl_->lobby && impl_->lobby->host)
        impl_->send(StartMatch{}, true);
}

void OnlineClient::leave() {
    Impl& im = *impl_;
    if (im.phase != ClientPhase::InRoom && im.phase != ClientPhase::Playing &&
        im.phase != ClientPhase::Ended && im.phase != ClientPhase::Reconnecting)
        return;
    im.send(Leave{}, true);
    im.phase = ClientPhase::Welcomed;
    im.lobby.reset();
}

ClientUpdate OnlineClient::update(const std::array<DiggerInput, local_seats_max>& local,
                                  bool confirm, Micros now) {
    return impl_->update(local, confirm, now);
}

ClientPhase OnlineClient::phase() const { return impl_->phase; }
std::optional<RefusedReason> OnlineClient::refused() const { return impl_->refused; }
const std::optional<Lobby>& OnlineClient::lobby() const { return impl_->lobby; }
std::uint8_t OnlineClient::your_seats() const { return impl_->seats; }
bool OnlineClient::watching() const { return impl_->watcher; }
const Match& OnlineClient::shown() const { return impl_->shown; }
float OnlineClient::tick_fraction(Micros now) const { return impl_->fraction(now); }
const std::vector<TickInput>& OnlineClient::confirmed_inputs() const { return impl_->log; }
std::uint64_t OnlineClient::end_hash() const { return impl_->end_hash; }
bool OnlineClient::end_matched() const { return impl_->end_matched; }
Micros OnlineClient::round_trip() const { return impl_->srtt; }

void OnlineClient::spoil_for_test() {
    // The arena's score, and the match's tick count, which outlasts a round.
    impl_->confirmed.arena.score += 7;
    impl_->confirmed.ticks += 1;
}

}  // namespace zobra::net
