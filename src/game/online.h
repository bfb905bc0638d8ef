#pragma once
// The online screen, opened with O on the title: open a room (the game's own
// relay serves it, or the one `ZOBRA_RELAY` names), join one by address and
// code, ask for a quick match, or watch a room; then the room with its seats
// until the host starts, and the result once the match is over. A link (the
// web page's `?room=` and `?watch=`) goes straight into a room. The session holds it;
// the shell opens and closes the connection it asks for and feeds the client.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "core/levels.h"
#include "net/client.h"

namespace zobra {

enum class OnlineStep : std::uint8_t {
    Menu,        // what to do, with the players, place and difficulty
    Typing,      // the relay's address and the room's code
    Connecting,  // waiting for the relay, then for the room
    Room,        // in a room before the match
    Result,      // the match is over (or was left); any key goes back
};

// The menu's rows, top to bottom.
enum class OnlineItem : std::uint8_t { Open, Join, Quick, Watch, Players, Place, Difficulty };
inline constexpr std::uint8_t online_item_count = 7;

// Which of the typed fields the cursor is in.
enum class OnlineField : std::uint8_t { Address, Code };

// What the shell is asked to do with the connection after a frame.
struct RelayWish {
    bool host_here = false;  // start the game's own relay and join it
    std::string address;     // the relay to connect to, "host" or "host:port"
};

struct Online {
    OnlineStep step = OnlineStep::Menu;
    OnlineItem item = OnlineItem::Open;
    OnlineItem action = OnlineItem::Open;  // what Connecting leads to
    std::uint8_t players = 1;              // people on this machine
    std::uint8_t place = 0;
    Difficulty difficulty = Difficulty::Normal;
    OnlineField field = OnlineField::Address;
    std::string address;        // typed: the host's or relay's address
    std::string code;           // typed: the room's code
    std::string relay;          // ZOBRA_RELAY, when set: every room is there
    std::string shown_address;  // where others reach the game's own relay
    std::string message;        // the last failure or result, on the menu
    std::shared_ptr<net::OnlineClient> client;
    bool asked = false;            // the room was asked for on this connection
    std::uint8_t waiting_for = 0;  // seats the match waits for
    // A link to follow at the next frame: Join or Watch, and the code.
    std::optional<OnlineItem> link;

    // The match is on (or its connection is being made again): the arena
    // shows instead of this screen.
    bool playing() const {
        return client && (client->phase() == net::ClientPhase::Playing ||
                          client->phase() == net::ClientPhase::Reconnecting);
    }
};

// A link into a room: `join` (else watch) the room `code` on the relay the
// session's `relay` names, at the next frame. False, and nothing asked,
// if the code is none.
bool open_online_link(Online& online, bool join, std::string_view code);

// Characters a pad steps through in each field.
inline constexpr std::string_view address_letters = "0123456789.:ABCDEFGHIJKLMNOPQRSTUVWXYZ-";

// The refusal or loss as the player reads it.
std::string_view online_failure_text(const net::OnlineClient& client);

}  // namespace zobra
