#include "web/online_web.h"

#include <emscripten/em_js.h>
#include <emscripten/em_macros.h>

#include <cstdlib>
#include <utility>

#include "core/replay.h"
#include "files/log.h"
#include "web/page.h"

namespace zobra {

namespace {

// A match's lost connection is tried again this often while the client
// wants its seats back.
constexpr net::Micros reconnect_every = 500'000;

// Frames between two readings of the match's frame counts on the page.
constexpr std::uint32_t frames_per_reading = 60;

// clang-format off
EM_JS(int, page_is_secure, (), {
    return location.protocol === 'https:';
});

EM_JS(char*, page_host, (), {
    return allocateUTF8(location.host);
});

// The canvas element's data-online (the client's state) and
// data-online-hash (the relay's end hash), for the page's tests.
EM_JS(void, put_online_state, (const char* word, const char* hash), {
    const element = Module['canvas'];
    element.dataset.online = UTF8ToString(word);
    const text = UTF8ToString(hash);
    if (text) element.dataset.onlineHash = text;
});

EM_JS(void, put_online_frames, (int frames, int stalled), {
    const element = Module['canvas'];
    element.dataset.onlineFrames = String(frames);
    element.dataset.onlineStalled = String(stalled);
});

// The room's link over the picture (index.html), or none for an empty one.
EM_JS(void, put_room_link, (const char* link), {
    if (typeof window.zobraShowRoomLink === 'function')
        window.zobraShowRoomLink(UTF8ToString(link));
});
// clang-format on

// The client's state as one word. A match that has ended shows as such
// for as long as the page keeps its client: the session has the client
// leave the room at once, in the same frame. (The relay's end may come
// while the client still plays the ticks before it.)
std::string state_word(const net::OnlineClient& client, bool played) {
    const net::ClientPhase phase = client.phase();
    if (played && phase != net::ClientPhase::Playing && client.end_hash() != 0)
        return client.end_matched() ? "matched" : "differs";
    switch (phase) {
        case net::ClientPhase::Connecting:
            return "connecting";
        case net::ClientPhase::Welcomed:
            return "welcomed";
        case net::ClientPhase::InRoom:
            return "room";
        case net::ClientPhase::Playing:
            return "playing";
        case net::ClientPhase::Reconnecting:
            return "reconnecting";
        case net::ClientPhase::Ended:
            return client.end_matched() ? "matched" : "differs";
        case net::ClientPhase::Refused:
            return "refused";
        case net::ClientPhase::Lost:
            return "lost";
    }
    return "lost";
}

}  // namespace

PageOrigin page_origin() {
    char* host = page_host();
    PageOrigin origin{page_is_secure() != 0, host != nullptr ? std::string(host) : std::string()};
    std::free(host);
    return origin;
}

PageOnline::PageOnline(PageOrigin origin) : origin_(std::move(origin)) {}

void PageOnline::before_frame(Online& online, net::Micros now) {
    if (!client_ || online.client != client_) return;
    if (socket_) socket_->pump(now);
    // The client greets the relay again and takes its seats back by itself,
    // or gives up (Lost) once the relay has given them to the computer.
    if ((socket_ && !socket_->is_lost()) || client_->phase() != net::ClientPhase::Reconnecting ||
        now < retry_at_)
        return;
    retry_at_ = now + reconnect_every;
    page_log("connecting to the relay at " + url_ + " again");
    std::string error;
    socket_ = RelaySocket::open(url_, client_, error);
    if (!socket_) page_log("could not reach the relay at " + url_ + ": " + error);
}

void PageOnline::after_frame(Online& online, const FrameOutcome& outcome, net::Micros now) {
    if (outcome.log_line) page_log(*outcome.log_line);
    if (outcome.relay_closed && socket_) {
        // The last words (a leave) go out before the socket closes.
        socket_->pump(now);
        socket_.reset();
    }
    if (outcome.relay) open(online, *outcome.relay, now);
    if (client_ && client_->phase() == net::ClientPhase::Playing) {
        ++playing_frames_;
        if (online.waiting_for != 0) ++stalled_frames_;
        if (playing_frames_ % frames_per_reading == 0)
            put_online_frames(static_cast<int>(playing_frames_), static_cast<int>(stalled_frames_));
    }
    show_state();
}

void PageOnline::open(Online& online, const RelayWish& wish, net::Micros now) {
    socket_.reset();
    client_ = online.client;
    playing_frames_ = 0;
    stalled_frames_ = 0;
    if (!client_) return;
    // The page has no relay of its own to host: a room it opens is on the
    // relay that served the page.
    const std::optional<std::string> url =
        relay_socket_url(wish.host_here ? std::string() : wish.address, origin_);
    if (!url) {
        page_log("no relay at \"" + wish.address + "\": not an address");
        client_->lost(now);
        return;
    }
    std::string error;
    socket_ = RelaySocket::open(*url, client_, error);
    if (!socket_) {
        page_log("could not reach the relay at " + *url + ": " + error);
        client_->lost(now);
        return;
    }
    page_log("connecting to the relay at " + *url);
    url_ = *url;
}

void PageOnline::show_state() {
    if (!client_) return;
    const std::string word = state_word(*client_, playing_frames_ > 0);
    if (word != state_shown_) {
        if (socket_ && socket_->is_lost()) page_log("relay connection: " + socket_->problem());
        state_shown_ = word;
        put_online_frames(static_cast<int>(playing_frames_), static_cast<int>(stalled_frames_));
        const bool ended = word == "matched" || word == "differs";
        put_online_state(word.c_str(), ended ? hash_text(client_->end_hash()).c_str() : "");
    }
    // The link to share while the room waits for its players: to play in
    // it, or to watch it for a page that watches.
    const std::optional<net::Lobby>& lobby = client_->lobby();
    std::string link;
    if (client_->phase() == net::ClientPhase::InRoom && lobby) {
        const std::string code = net::room_code_text(lobby->code);
        link = client_->watching() ? watch_link(origin_, code) : room_link(origin_, code);
    }
    if (link != link_shown_) {
        link_shown_ = link;
        put_room_link(link.c_str());
    }
}

}  // namespace zobra
