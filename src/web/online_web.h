#pragma once
// The page's side of play between machines, the counterpart of the desktop's
// OnlineShell: the WebSocket to the relay the online screen asks for (the
// page has no relay of its own: rooms are opened on the relay that served
// the page), the room's link to share shown in the page's HTML, and the
// client's state on the canvas element for the page's tests: data-online
// (connecting, welcomed, room, playing, reconnecting, matched, differs,
// refused, lost),
// data-online-hash (the relay's end hash) and data-online-frames and
// data-online-stalled (frames of the match shown, and those it waited in).

#include <cstdint>
#include <memory>
#include <string>

#include "game/session.h"
#include "web/relay_socket.h"
#include "web/relay_url.h"

namespace zobra {

// Where the page was loaded from, as the browser says it.
PageOrigin page_origin();

class PageOnline {
  public:
    explicit PageOnline(PageOrigin origin);

    // The relay the page's online screen uses: the page's own.
    const std::string& own_relay() const { return origin_.host; }

    // Before a frame: the socket's news into the session's client, and a new
    // socket to the same relay while the client is reconnecting.
    void before_frame(Online& online, net::Micros now);
    // After it: the socket opened or closed as the frame asked, the online
    // event logged, and the page told what to show.
    void after_frame(Online& online, const FrameOutcome& outcome, net::Micros now);

  private:
    void open(Online& online, const RelayWish& wish, net::Micros now);
    void show_state();

    PageOrigin origin_;
    std::unique_ptr<RelaySocket> socket_;
    // The client the socket serves; it outlives the session's hold on it
    // long enough for the page to show how its match ended.
    std::shared_ptr<net::OnlineClient> client_;
    std::string state_shown_;
    std::string link_shown_;
    // Where the socket goes, to open a new one when it is lost in a match
    // and the client wants its seats back.
    std::string url_;
    net::Micros retry_at_ = 0;
    // Frames the match was shown in, and those of them it stood waiting for
    // another player's input.
    std::uint32_t playing_frames_ = 0;
    std::uint32_t stalled_frames_ = 0;
};

}  // namespace zobra
