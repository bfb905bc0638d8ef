#pragma once
// Replays in the browser: a replay file the page's address names
// (?replay=replays/duel1.zrp, fetched by index.html from the page's own
// site before the game starts), a replay file dropped on the page, and the
// replay of the match being played offered for download when the game
// stops on an internal error.

#include <string>
#include <string_view>
#include <variant>

#include "core/replay.h"
#include "game/session.h"

namespace zobra {

// The replay the page fetched for ?replay=URL, decoded; otherwise the
// message that says why not, "replay URL " and the reason, as the desktop
// says it of a file.
std::variant<Replay, std::string> fetched_replay(std::string_view url);

// The page's notice for a replay that cannot be shown; `message` is the one
// `fetched_replay` gave.
std::string replay_notice(std::string_view message, bool dropped);

// The canvas element's data-replay attribute: "playing", "matched",
// "differs" or "crashed" (shown to the end of a replay of a game that
// stopped), and data-replay-tick, the ticks played; for the page's tests and
// anyone watching. Written only when it changed.
struct ReplayState {
    std::string_view word;
    std::size_t tick = 0;
    friend bool operator==(const ReplayState&, const ReplayState&) = default;
};
ReplayState replay_state(const Playback& playback);
void show_replay_state(const ReplayState& state);

// Leaves a replay shown on the page: the page loads again without it, the
// player's game on the title.
void leave_replay_page();

// After a crash report went on the page: the report and the replay of the
// match being played so far, in the desktop's crash report form, offered as
// the download "zobra-crash.txt" in the crash panel. The text is handed to
// the page's JavaScript in pieces straight from the recorder's bytes: the
// module allocates nothing for it. Nothing is offered when no match was
// being recorded.
void offer_crash_replay(std::string_view report, const ReplayRecorder& recorder);

}  // namespace zobra
