// The relay and the rollback client against any bytes and any order of
// events: connections that come and go, garbage, truncated and well-formed
// messages from several clients (hellos, rooms, starts, inputs for any
// tick, hashes, pings), time that jumps, and one real client talking to the
// relay in between so that rooms start and matches run. Nothing crashes or
// hangs; the relay keeps its limits on clients and rooms, sends only whole
// messages of its own kinds, never queues more than its caps for one
// client, and asks to close only clients it knew.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <vector>

#include "fuzz_check.h"
#include "net/client.h"
#include "net/relay.h"

namespace {

using namespace zobra;
using namespace zobra::net;
using fuzz::require;

constexpr ClientId real_client = 1;
constexpr ClientId clients_max = 6;

Message some_message(FuzzedDataProvider& in, const RoomCode& code) {
    const auto players = static_cast<std::uint8_t>(in.ConsumeIntegralInRange<int>(1, 2));
    switch (in.ConsumeIntegralInRange<int>(0, 11)) {
        case 0:
            return Hello{protocol_version,
                         in.ConsumeBool() ? rules_hash() : in.ConsumeIntegral<std::uint64_t>(),
                         in.ConsumeRandomLengthString(20)};
        case 1:
            return OpenRoom{static_cast<std::uint8_t>(in.ConsumeIntegralInRange<int>(0, 4)),
                            Difficulty::Hard, players};
        case 2:
            return JoinRoom{code, players};
        case 3:
            return QuickMatch{players};
        case 4:
            return StartMatch{};
        case 5: {
            Inputs m{in.ConsumeIntegralInRange<std::uint32_t>(0, 300),
                     in.ConsumeIntegralInRange<std::uint32_t>(0, 300),
                     {}};
            for (int n = in.ConsumeIntegralInRange<int>(0, 70); n > 0; --n)
                m.ticks.push_back(in.ConsumeIntegral<std::uint16_t>());
            return m;
        }
        case 6:
            return HashReport{in.ConsumeIntegralInRange<std::uint32_t>(0, 400),
                              in.ConsumeIntegral<std::uint64_t>()};
        case 7:
            return Leave{};
        case 8:
            return Ping{in.ConsumeIntegral<std::uint32_t>()};
        case 9:
            return Watch{code};
        case 10:
            return Rejoin{code, in.ConsumeIntegral<std::uint64_t>()};
        default:
            return Welcome{in.ConsumeIntegral<std::uint32_t>(), 0};
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    RelayLimits limits;
    limits.clients_max = clients_max;
    limits.rooms_max = 3;
    limits.quiet_drop = 2'000'000;
    limits.lobby_idle = 20'000'000;
    limits.match_ticks_max = 400;
    Relay relay(limits, in.ConsumeIntegral<std::uint64_t>(), [](std::string_view) {});
    OnlineClient client("REAL");
    Micros now = 0;
    std::set<ClientId> known;
    RoomCode code = *parse_room_code("AAAA");

    const auto settle = [&] {
        std::map<ClientId, std::size_t> queued;
        for (const Outgoing& o : relay.outbox()) {
            require(known.count(o.to) != 0, "messages go only to known clients");
            const std::optional<Message> m = decode(o.bytes);
            require(m.has_value(), "the relay sends whole messages");
            require(m->index() >= 11, "the relay sends only its own kinds");
            if (const auto* lobby = std::get_if<Lobby>(&*m)) code = lobby->code;
            require(++queued[o.to] <= 64, "no more than the cap queued for a client");
            if (o.to == real_client) client.received(o.bytes, now);
        }
        relay.outbox().clear();
        for (const ClientId id : relay.to_close()) {
            require(known.count(id) != 0, "only known clients are closed");
            known.erase(id);
            relay.disconnected(id, now);
            if (id == real_client) client.lost(now);
        }
        relay.to_close().clear();
        require(relay.clients() <= limits.clients_max, "clients within their limit");
        require(relay.rooms() <= limits.rooms_max, "rooms within their limit");
        require(relay.matches() <= relay.rooms(), "a match has its room");
    };

    if (relay.connected(real_client, now)) {
        known.insert(real_client);
        client.connected(now);
    }
    while (in.remaining_bytes() > 0) {
        const auto id = static_cast<ClientId>(in.ConsumeIntegralInRange<int>(1, clients_max + 2));
        switch (in.ConsumeIntegralInRange<int>(0, 11)) {
            case 0:
                if (relay.connected(id, now)) known.insert(id);
                break;
            case 1:
                relay.disconnected(id, now);
                known.erase(id);
                if (id == real_client) client.lost(now);
                break;
            case 2: {
                const std::vector<std::uint8_t> bytes =
                    in.ConsumeBytes<std::uint8_t>(in.ConsumeIntegralInRange<std::size_t>(0, 80));
                relay.received(id, bytes, now);
                break;
            }
            case 3:
            case 4: {
                std::vector<std::uint8_t> bytes = encode(some_message(in, code));
                if (in.ConsumeBool() && !bytes.empty())
                    bytes.resize(in.ConsumeIntegralInRange<std::size_t>(0, bytes.size()));
                relay.received(id, bytes, now);
                break;
            }
            case 5:
                now += in.ConsumeIntegralInRange<Micros>(0, 3'000'000);
                relay.advance(now);
                break;
            case 6: {
                // Garbage for the real client.
                const std::vector<std::uint8_t> bytes =
                    in.ConsumeBytes<std::uint8_t>(in.ConsumeIntegralInRange<std::size_t>(0, 40));
                client.received(bytes, now);
                break;
            }
            default: {
                // The real client plays a frame and talks to the relay.
                now += in.ConsumeIntegralInRange<Micros>(0, 60'000);
                switch (in.ConsumeIntegralInRange<int>(0, 6)) {
                    case 0:
                        client.open_room(0, Difficulty::Normal, 1);
                        break;
                    case 1:
                        client.join_room(code, 1);
                        break;
                    case 2:
                        client.quick_match(1);
                        break;
                    case 3:
                        client.start_match();
                        break;
                    default:
                        break;
                }
                const DiggerInput keys{in.ConsumeBool(),
                                       static_cast<Dir>(in.ConsumeIntegralInRange<int>(0, 3))};
                const ClientUpdate u = client.update({keys, keys}, in.ConsumeBool(), now);
                require(u.waiting_for <= 15, "waiting for seats that exist");
                for (const ToRelay& m : client.outbox())
                    if (known.count(real_client) != 0) relay.received(real_client, m.bytes, now);
                client.outbox().clear();
                if (relay.next_wakeup() <= now) relay.advance(now);
                break;
            }
        }
        settle();
    }
    return 0;
}
