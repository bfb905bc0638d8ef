#pragma once
// The window's side of play between machines: the connection to a relay that
// the online screen asked for, and the game's own relay when a player hosts
// without `ZOBRA_RELAY`, served on a thread of its own.

#include <cstdint>
#include <memory>
#include <string>

#include "game/session.h"
#include "net/relay.h"

namespace zobra {

namespace netio {
class RelayConnection;
class RelayThread;
}  // namespace netio

class OnlineShell {
  public:
    OnlineShell();
    ~OnlineShell();
    OnlineShell(const OnlineShell&) = delete;
    OnlineShell& operator=(const OnlineShell&) = delete;

    // Before a frame: the connection's news into the session's client.
    void before_frame(Online& online, net::Micros now);
    // After it: the connection opened or closed as the frame asked, and its
    // online event logged.
    void after_frame(Online& online, const FrameOutcome& outcome, net::Micros now);

  private:
    void open(Online& online, const RelayWish& wish, net::Micros now);
    void close();
    void stop_own_relay();

    std::unique_ptr<netio::RelayConnection> connection_;
    std::unique_ptr<netio::RelayThread> own_relay_;
    // Where the connection goes, to connect again when it is lost in a match.
    std::string host_;
    std::uint16_t port_ = 0;
    net::Micros retry_at_ = 0;
};

}  // namespace zobra
