// The online screen's rules and the match between machines as the session
// plays it: the client runs the ticks, the session shows its match, plays
// its sounds and keeps the confirmed match as a replay at the end.

#include <algorithm>
#include <cctype>
#include <utility>

#include "core/replay.h"
#include "game/session.h"

namespace zobra {

namespace {

constexpr std::size_t address_size_max = 40;

template <typename T>
T step_through(T value, std::uint32_t count, int by) {
    const auto at = static_cast<std::int64_t>(value) + by + static_cast<std::int64_t>(count);
    return static_cast<T>(at % count);
}

// Typed text into a field: capitals, only the characters the field takes,
// up to its length.
void type_into(std::string& field, std::string_view typed, std::uint64_t backspaces,
               std::string_view letters, std::size_t size_max) {
    for (std::uint64_t i = 0; i < backspaces && !field.empty(); ++i) field.pop_back();
    for (const char c : typed) {
        const char upper = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (letters.find(upper) != std::string_view::npos && field.size() < size_max)
            field.push_back(upper);
    }
}

// A pad (or the arrow keys) types too: up and down change the last
// character through the field's letters, right adds one, left takes one away.
void step_into(std::string& field, Dir dir, std::string_view letters, std::size_t size_max) {
    if (dir == Dir::Left) {
        if (!field.empty()) field.pop_back();
        return;
    }
    if (dir == Dir::Right || field.empty()) {
        if (field.size() < size_max) field.push_back(letters[0]);
        return;
    }
    const std::size_t at = letters.find(field.back());
    const auto n = static_cast<std::uint32_t>(letters.size());
    field.back() =
        letters[step_through(at == std::string_view::npos ? 0 : at, n, dir == Dir::Up ? -1 : 1)];
}

std::optional<Dir> menu_press(const FrameInput& input) {
    return input.pressed_dir[0] ? input.pressed_dir[0] : input.pressed_dir[1];
}

// The finished match as a replay: the confirmed input played again from
// the start, checks and all.
FinishedReplay replay_of(const net::OnlineClient& client, std::string_view player,
                         ReplayEnding ending) {
    Match match(client.shown().setup);
    ReplayRecorder recorder;
    recorder.start(match, player);
    for (const TickInput& input : client.confirmed_inputs()) {
        match.advance(input);
        recorder.record(input, match);
    }
    FinishedReplay replay;
    replay.setup = match.setup;
    replay.score = match.arena.score;
    replay.won = false;
    for (std::size_t i = 0; i < max_seats; ++i)
        if (((client.your_seats() >> i) & 1u) != 0 && match.duel_wins[i] >= duel_wins_to_end)
            replay.won = true;
    replay.bytes = recorder.finish(ending, match);
    return replay;
}

}  // namespace

bool open_online_link(Online& online, bool join, std::string_view code) {
    const std::optional<net::RoomCode> room = net::parse_room_code(code);
    if (!room) return false;
    online.code = net::room_code_text(*room);
    online.link = join ? OnlineItem::Join : OnlineItem::Watch;
    return true;
}

std::string_view online_failure_text(const net::OnlineClient& client) {
    if (const std::optional<net::RefusedReason> reason = client.refused()) {
        switch (*reason) {
            case net::RefusedReason::OtherVersion:
            case net::RefusedReason::OtherRules:
                return "ANDERE SPIELVERSION";
            case net::RefusedReason::NoRoom:
                return "KEIN RAUM MIT DIESEM CODE";
            case net::RefusedReason::RoomFull:
                return "RAUM VOLL ODER SCHON IM SPIEL";
            case net::RefusedReason::RelayFull:
                return "SERVER VOLL";
            case net::RefusedReason::NotAllowed:
                return "ABGELEHNT";
        }
    }
    return "KEINE VERBINDUNG";
}

void Session::update_online(const FrameInput& input, FrameOutcome& out) {
    net::OnlineClient* client = online.client.get();
    if (client) {
        const net::ClientPhase phase = client->phase();
        if (phase == net::ClientPhase::Refused || phase == net::ClientPhase::Lost) {
            end_online(std::string(online_failure_text(*client)), out);
            return;
        }
        if (phase == net::ClientPhase::Welcomed && online.step == OnlineStep::Connecting &&
            !online.asked) {
            online.asked = true;
            if (online.action == OnlineItem::Open)
                client->open_room(online.place, online.difficulty, online.players);
            else if (online.action == OnlineItem::Quick)
                client->quick_match(online.players);
            else if (const auto code = net::parse_room_code(online.code))
                online.action == OnlineItem::Watch ? client->watch_room(*code)
                                                   : client->join_room(*code, online.players);
        }
        if (phase == net::ClientPhase::InRoom) online.step = OnlineStep::Room;
        if (phase == net::ClientPhase::Playing) {
            match = client->shown();
            show_new_arena();
            out.log_line =
                std::string(client->watching() ? "watching the online match in room "
                                               : "online match started in room ") +
                (client->lobby() ? net::room_code_text(client->lobby()->code) : std::string("?"));
            return;
        }
    }

    switch (online.step) {
        case OnlineStep::Menu:
            update_online_menu(input, out);
            return;
        case OnlineStep::Typing:
            update_online_typing(input, out);
            return;
        case OnlineStep::Connecting:
        case OnlineStep::Room:
            if (input.back) {
                end_online("", out);
                online.step = OnlineStep::Menu;
            } else if (input.confirm && client && client->lobby() && client->lobby()->host) {
                client->start_match();
            }
            return;
        case OnlineStep::Result:
            if (input.confirm || input.back) online.step = OnlineStep::Menu;
            return;
    }
}

void Session::update_online_menu(const FrameInput& input, FrameOutcome& out) {
    if (input.back) {
        screen = Screen::Title;
        return;
    }
    const std::optional<Dir> press = menu_press(input);
    const int side = press == Dir::Right ? 1 : press == Dir::Left ? -1 : 0;
    if (press == Dir::Up || press == Dir::Down)
        online.item = step_through(online.item, online_item_count, press == Dir::Up ? -1 : 1);
    else if (side != 0 && online.item == OnlineItem::Players)
        online.players = online.players == 1 ? 2 : 1;
    else if (side != 0 && online.item == OnlineItem::Place)
        online.place = step_through(online.place, duel_place_count, side);
    else if (side != 0 && online.item == OnlineItem::Difficulty)
        online.difficulty = step_through(online.difficulty, 3, side);
    if (!input.confirm) return;

    online.message.clear();
    online.action = online.item;
    switch (online.item) {
        case OnlineItem::Open:
            connect_online(OnlineItem::Open, online.relay, out);
            return;
        case OnlineItem::Quick:
            if (!online.relay.empty()) {
                connect_online(OnlineItem::Quick, online.relay, out);
                return;
            }
            [[fallthrough]];
        case OnlineItem::Join:
        case OnlineItem::Watch:
            online.field = online.relay.empty() ? OnlineField::Address : OnlineField::Code;
            online.code.clear();
            online.step = OnlineStep::Typing;
            return;
        default:
            return;
    }
}

void Session::update_online_typing(const FrameInput& input, FrameOutcome& out) {
    if (input.back) {
        online.step = OnlineStep::Menu;
        return;
    }
    const bool code = online.field == OnlineField::Code;
    std::string& field = code ? online.code : online.address;
    const std::string_view letters = code ? net::room_code_letters : address_letters;
    const std::size_t size_max = code ? net::RoomCode{}.size() : address_size_max;
    type_into(field, input.typed, input.backspaces, letters, size_max);
    if (input.typed.empty() && input.pressed_dir[0])
        step_into(field, *input.pressed_dir[0], letters, size_max);
    if (!input.confirm_typing) return;

    if (!code && online.address.empty()) return;
    if (!code && (online.action == OnlineItem::Join || online.action == OnlineItem::Watch)) {
        online.field = OnlineField::Code;
        return;
    }
    if (code && !net::parse_room_code(online.code)) return;
    connect_online(online.action, online.relay.empty() ? online.address : online.relay, out);
}

void Session::connect_online(OnlineItem action, std::string address, FrameOutcome& out) {
    online.client = std::make_shared<net::OnlineClient>(
        progress.name.empty() ? std::string("SPIELER") : progress.name);
    online.action = action;
    online.asked = false;
    online.step = OnlineStep::Connecting;
    online.shown_address.clear();
    out.relay = RelayWish{address.empty(), std::move(address)};
}

void Session::end_online(std::string message, FrameOutcome& out) {
    if (online.client) {
        online.client->leave();
        out.relay_closed = true;
    }
    online.client.reset();
    online.message = std::move(message);
    online.step = online.message.empty() ? OnlineStep::Menu : OnlineStep::Result;
    screen = Screen::Online;
}

// ---------------------------------------------------------------------------
// The match between machines.

// A link followed: the online screen, connecting to the room at once.
void Session::follow_online_link(FrameOutcome& out) {
    const OnlineItem action = *online.link;
    online.link.reset();
    if (online.client) end_online("", out);
    online.step = OnlineStep::Menu;
    online.message.clear();
    screen = Screen::Online;
    connect_online(action, online.relay, out);
}

void Session::update_online_play(const FrameInput& input, float dt, FrameOutcome& out) {
    net::OnlineClient& client = *online.client;
    if (input.back || client.phase() == net::ClientPhase::Lost) {
        const bool left = input.back;
        finished_.push_back(replay_of(client, progress.name, ReplayEnding::Left));
        out.log_line = left ? "online match left" : "online match lost its connection";
        end_online(left ? "SPIEL VERLASSEN" : "VERBINDUNG VERLOREN", out);
        return;
    }

    latch_presses(input, dt);
    // One player here steers with either set of keys; two each with their
    // own; a spectator steers nothing.
    std::array<DiggerInput, net::local_seats_max> local{};
    for (std::size_t j = 0; j < local.size() && !client.watching(); ++j) {
        const std::size_t first = online.players == 2 ? j : 0;
        const std::size_t last = online.players == 2 ? j : 1;
        if (online.players == 1 && j == 1) break;
        for (std::size_t s = first; s <= last; ++s) {
            if (!local[j].dir) local[j].dir = latched_dir[s] ? latched_dir[s] : input.held_dir[s];
            local[j].drop = local[j].drop || latched_drop[s];
        }
    }
    const net::ClientUpdate update = client.update(local, latched_confirm, input.clock_us);
    if (update.ticks_run > 0) {
        latched_dir = {};
        latched_drop = {};
        latched_confirm = false;
    }
    online.waiting_for = update.waiting_for;
    if (update.recovered) out.log_line = "online match recovered the relay's state";

    const EventList heard = audible_steps();
    match = client.shown();
    for (const Event event : update.sounds) {
        const bool is_step = event == Event::CreatureStep || event == Event::WispStep;
        if (!is_step || heard.contains(event)) out.events.add(event);
    }
    const Screen shown =
        match.phase == MatchPhase::RoundOver ? Screen::DuelRoundOver : Screen::Play;
    if (shown != screen) {
        screen = shown;
        end_timer = 0.0f;
        if (shown == Screen::Play) camera = camera_target(*this);
    }
    tick_time = client.tick_fraction(input.clock_us) * tick_seconds;

    if (client.phase() == net::ClientPhase::Ended) {
        finished_.push_back(replay_of(client, progress.name, ReplayEnding::Completed));
        out.log_line = "online match over after " + std::to_string(match.ticks) + " ticks: hash " +
                       hash_text(state_hash(match)) + ", the relay's " +
                       hash_text(client.end_hash()) +
                       (client.end_matched() ? " (matched)" : " (DIFFERS)");
        std::string result = "UNENTSCHIEDEN";
        for (std::size_t i = 0; i < max_seats; ++i)
            if (match.duel_wins[i] >= duel_wins_to_end)
                result = (match.arena.diggers[i].bot ? "COM " : "SP ") + std::to_string(i + 1) +
                         " GEWINNT";
        end_online(result, out);
        return;
    }
    follow_camera(dt);
}

}  // namespace zobra
