// The relay's rooms and referee against any sequence of connections,
// packets, leavings and passing time from a handful of clients, the packets
// either any bytes or messages of every kind a client sends (with any
// values, cut short or not). The relay never crashes, never holds more
// clients or rooms than its limits, only writes whole messages of the
// relay's kinds to clients it holds, and after an advance has nothing left
// that was due. The decoder, given the same bytes, gives a message only
// for bytes that the encoder writes back the same.

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "net/protocol.h"
#include "net/relay.h"

namespace {

using namespace zobra;
using namespace zobra::net;
using fuzz::require;

constexpr std::size_t steps_max = 300;
constexpr std::size_t raw_size_max = 160;
constexpr Micros step_time_max = 200'000;  // up to four ticks between steps
// Small limits, so that a few clients reach them.
constexpr RelayLimits limits{3, 2, 1'000'000, 150'000, 30'000'000};

void require_decodes_as_written(const std::vector<std::uint8_t>& bytes) {
    if (const std::optional<Message> message = decode(bytes))
        require(encode(*message) == bytes, "a decoded message is written back as the same bytes");
}

// A message of one of the kinds clients send, with values from the input.
Message client_message(FuzzedDataProvider& data) {
    const auto any8 = [&] { return data.ConsumeIntegral<std::uint8_t>(); };
    const auto any32 = [&] { return data.ConsumeIntegral<std::uint32_t>(); };
    switch (data.ConsumeIntegralInRange(0, 8)) {
        case 0:
            return Hello{data.ConsumeBool() ? protocol_version : any32(),
                         data.ConsumeBool() ? rules_hash() : data.ConsumeIntegral<std::uint64_t>(),
                         data.ConsumeRandomLengthString(name_size_max)};
        case 1:
            return OpenRoom{data.ConsumeIntegralInRange<std::uint8_t>(0, 6),
                            static_cast<Difficulty>(data.ConsumeIntegralInRange(0, 2)), any8()};
        case 2: {
            JoinRoom join{{}, any8()};
            for (char& c : join.code)
                c = room_code_letters[data.ConsumeIntegralInRange<std::size_t>(0, 3)];
            return join;
        }
        case 3:
            return QuickMatch{any8()};
        case 4:
            return StartMatch{};
        case 5: {
            Inputs inputs{data.ConsumeIntegralInRange<std::uint32_t>(0, 300),
                          data.ConsumeIntegralInRange<std::uint32_t>(0, 300),
                          {}};
            inputs.ticks.resize(data.ConsumeIntegralInRange<std::size_t>(0, ticks_per_message));
            for (LocalInput& tick : inputs.ticks) tick = data.ConsumeIntegral<LocalInput>();
            return inputs;
        }
        case 6:
            return HashReport{data.ConsumeIntegralInRange<std::uint32_t>(0, 300),
                              data.ConsumeIntegral<std::uint64_t>()};
        case 7:
            return Leave{};
        default:
            return Ping{any32()};
    }
}

bool relay_kind(const Message& message) { return message.index() >= Message(Welcome{}).index(); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    FuzzedDataProvider data(bytes, size);
    Relay relay(limits, data.ConsumeIntegral<std::uint64_t>(), [](std::string_view line) {
        require(!line.empty() && line.find('\n') == std::string_view::npos,
                "a log line is one non-empty line");
    });
    Micros now = 1'000'000;
    ClientId next_id = 1;
    std::set<ClientId> held;  // connected, taken, and not yet gone
    const auto pick = [&]() -> std::optional<ClientId> {
        if (held.empty()) return std::nullopt;
        return *std::next(held.begin(), std::ptrdiff_t(data.ConsumeIntegralInRange<std::size_t>(
                                            0, held.size() - 1)));
    };

    for (std::size_t step = 0; step < steps_max && data.remaining_bytes() > 0; ++step) {
        ClientId refused = 0;
        switch (data.ConsumeIntegralInRange(0, 5)) {
            case 0:
                // One the relay does not take may still be told why, once.
                if (relay.connected(next_id, now))
                    held.insert(next_id);
                else
                    refused = next_id;
                ++next_id;
                break;
            case 1:
                if (const auto id = pick()) {
                    relay.disconnected(*id, now);
                    held.erase(*id);
                }
                break;
            case 2:
                if (const auto id = pick()) {
                    const std::vector<std::uint8_t> raw = data.ConsumeBytes<std::uint8_t>(
                        data.ConsumeIntegralInRange<std::size_t>(0, raw_size_max));
                    require_decodes_as_written(raw);
                    relay.received(*id, raw, now);
                }
                break;
            case 3:
            case 4:
                if (const auto id = pick()) {
                    std::vector<std::uint8_t> message = encode(client_message(data));
                    if (data.ConsumeBool())
                        message.resize(data.ConsumeIntegralInRange<std::size_t>(0, message.size()));
                    require_decodes_as_written(message);
                    relay.received(*id, message, now);
                }
                break;
            default:
                now += data.ConsumeIntegralInRange<Micros>(0, step_time_max);
                if (relay.next_wakeup() <= now) {
                    relay.advance(now);
                    require(relay.next_wakeup() > now, "an advance leaves nothing that was due");
                }
                break;
        }

        require(relay.clients() <= limits.clients_max, "no more clients than the limit");
        require(relay.rooms() <= limits.rooms_max, "no more rooms than the limit");
        require(relay.matches() <= relay.rooms(), "every match is a room's");
        for (const Outgoing& out : relay.outbox()) {
            require(held.contains(out.to) || out.to == refused,
                    "messages go only to clients the relay holds");
            require(out.bytes.size() <= message_size_max, "no message is larger than the largest");
            const std::optional<Message> message = decode(out.bytes);
            require(message.has_value() && relay_kind(*message),
                    "the relay writes whole messages of its own kinds");
        }
        relay.outbox().clear();
        // The transport closes what the relay asks it to, and tells it so.
        const std::vector<ClientId> closing = relay.to_close();
        relay.to_close().clear();
        for (const ClientId id : closing)
            if (held.erase(id) > 0) relay.disconnected(id, now);
    }
    return 0;
}
