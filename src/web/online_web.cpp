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
// leave the room at once, in the same frame.
std::string state_word(const net::OnlineClient& client, bool played) {
    if (played && client.end_hash() != 0) return client.end_matched() ? "matched" : "differs";
    switch (client.phase()) {
        case net::ClientPhase::Connecting:
            return "connecting";
        case net::ClientPhase::Welcomed:
            return "welcomed";
        case net::ClientPhase::InRoom:
            return "room";
        case net::ClientPhase::Playing:
            return "playing";
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
    if (socket_ && online.client == client_) socket_->pump(now);
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
    // The link to share while the room waits for its players.
    const std::optional<net::Lobby>& lobby = client_->lobby();
    const std::string link = client_->phase() == net::ClientPhase::InRoom && lobby
                                 ? room_link(origin_, net::room_code_text(lobby->code))
                                 : std::string();
    if (link != link_shown_) {
        link_shown_ = link;
        put_room_link(link.c_str());
    }
}

}  // namespace zobra
