#include "net/fake_link.h"

#include <algorithm>
#include <limits>
#include <utility>

namespace zobra::net {

namespace {
constexpr Micros never = std::numeric_limits<Micros>::max();
}

FakeLink::FakeLink(Impairment impairment, std::uint64_t seed)
    : impairment_(impairment), rng_{arena_rng_start(seed)} {}

bool FakeLink::chance(std::uint32_t ppm) { return ppm != 0 && rng_.below(1'000'000) < ppm; }

Micros FakeLink::jitter() {
    return impairment_.jitter == 0 ? 0
                                   : rng_.below(static_cast<std::uint32_t>(std::min<Micros>(
                                                    impairment_.jitter, 1u << 30)) +
                                                1);
}

void FakeLink::send(std::span<const std::uint8_t> bytes, bool reliable, Micros now) {
    if (cut_) return;
    const Micros delay = impairment_.delay;
    if (reliable) {
        // Lost copies are sent again after a resend timeout (at least ENet's
        // round trip and its spread), until one gets through; the datagrams
        // of a connection's reliable stream are handed over in order.
        const Micros timeout = std::max<Micros>(2 * delay + 4 * impairment_.jitter, 50'000);
        Micros at = now;
        ++datagrams_;
        payload_ += bytes.size();
        while (chance(impairment_.loss)) {
            at += timeout;
            ++datagrams_;
            payload_ += bytes.size();
        }
        at = std::max(at + delay + jitter(), last_reliable_);
        last_reliable_ = at;
        flight_.emplace(std::pair{at, sent_++},
                        std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
        return;
    }
    ++datagrams_;
    payload_ += bytes.size();
    if (chance(impairment_.loss)) return;
    Micros at = now + delay + jitter();
    if (chance(impairment_.reorder)) at += 2 * impairment_.jitter + 40'000;
    flight_.emplace(std::pair{at, sent_++}, std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
    if (chance(impairment_.duplicate))
        flight_.emplace(std::pair{at + rng_.below(20'000), sent_++},
                        std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
}

std::vector<std::vector<std::uint8_t>> FakeLink::take(Micros now) {
    std::vector<std::vector<std::uint8_t>> arrived;
    while (!flight_.empty() && flight_.begin()->first.first <= now) {
        arrived.push_back(std::move(flight_.begin()->second));
        flight_.erase(flight_.begin());
    }
    return arrived;
}

Micros FakeLink::next_arrival() const {
    return flight_.empty() ? never : flight_.begin()->first.first;
}

void FakeLink::cut() {
    cut_ = true;
    flight_.clear();
}

// ---------------------------------------------------------------------------

struct FakeNetwork::Peer {
    ClientId id = 0;
    OnlineClient client;
    FakeLink up;
    FakeLink down;
    Micros next_frame = 0;
    bool open = true;
    Peer(ClientId i, std::string name, Impairment u, Impairment d, std::uint64_t seed)
        : id(i), client(std::move(name)), up(u, seed * 2 + 1), down(d, seed * 2 + 2) {}
};

FakeNetwork::FakeNetwork(RelayLimits limits, std::uint64_t seed,
                         std::function<void(std::string_view)> log)
    : relay_(limits, seed, std::move(log)), seed_(seed) {}

FakeNetwork::~FakeNetwork() = default;

std::size_t FakeNetwork::add(std::string name, Impairment up, Impairment down) {
    const ClientId id = next_id_++;
    peers_.push_back(
        std::make_unique<Peer>(id, std::move(name), up, down, seed_ * 131 + peers_.size()));
    const std::size_t i = peers_.size() - 1;
    Peer& p = *peers_[i];
    by_id_[id] = i;
    // A few frames apart, as machines are.
    p.next_frame = now_ + (i * 5'000) % frame_micros;
    bool taken = false;
    timed([&] { taken = relay_.connected(id, now_); });
    if (!taken) {
        p.open = false;
        p.client.lost(now_);
        return i;
    }
    p.client.connected(now_);
    flush();
    return i;
}

std::size_t FakeNetwork::size() const { return peers_.size(); }
OnlineClient& FakeNetwork::client(std::size_t i) { return peers_.at(i)->client; }
FakeLink& FakeNetwork::up(std::size_t i) { return peers_.at(i)->up; }
FakeLink& FakeNetwork::down(std::size_t i) { return peers_.at(i)->down; }
ClientId FakeNetwork::id(std::size_t i) const { return peers_.at(i)->id; }
bool FakeNetwork::open(std::size_t i) const { return peers_.at(i)->open; }

template <class F>
void FakeNetwork::timed(F&& call) {
    if (!stopwatch) {
        call();
        return;
    }
    const std::uint64_t start = stopwatch();
    call();
    relay_time_ += stopwatch() - start;
}

void FakeNetwork::close(std::size_t i) {
    Peer& p = *peers_[i];
    if (!p.open) return;
    p.open = false;
    p.up.cut();
    p.down.cut();
    p.client.lost(now_);
}

void FakeNetwork::disconnect(std::size_t i) {
    if (!peers_.at(i)->open) return;
    close(i);
    timed([&] { relay_.disconnected(peers_[i]->id, now_); });
    flush();
}

void FakeNetwork::reconnect(std::size_t i) {
    Peer& p = *peers_.at(i);
    if (p.open) return;
    by_id_.erase(p.id);
    p.id = next_id_++;
    by_id_[p.id] = i;
    p.up.mend();
    p.down.mend();
    bool taken = false;
    timed([&] { taken = relay_.connected(p.id, now_); });
    if (!taken) {
        p.client.lost(now_);
        return;
    }
    p.open = true;
    p.client.connected(now_);
    flush();
}

void FakeNetwork::silence(std::size_t i) {
    peers_.at(i)->up.cut();
    peers_.at(i)->down.cut();
}

void FakeNetwork::flush() {
    // The outbox of each side onto its links; the relay's closings.
    for (auto& p : peers_) {
        for (const ToRelay& m : p->client.outbox()) p->up.send(m.bytes, m.reliable, now_);
        p->client.outbox().clear();
    }
    for (const Outgoing& m : relay_.outbox()) {
        const auto it = by_id_.find(m.to);
        if (it != by_id_.end()) peers_[it->second]->down.send(m.bytes, m.reliable, now_);
    }
    relay_.outbox().clear();
    std::vector<ClientId> closing = std::exchange(relay_.to_close(), {});
    for (const ClientId id : closing) {
        const auto it = by_id_.find(id);
        if (it == by_id_.end()) continue;
        close(it->second);
        timed([&] { relay_.disconnected(id, now_); });
    }
}

void FakeNetwork::run_until(Micros until, const Frame& frame) {
    while (now_ < until) {
        now_ = std::min(now_ + step, until);
        for (std::size_t i = 0; i < peers_.size(); ++i) {
            Peer& p = *peers_[i];
            for (const auto& bytes : p.up.take(now_))
                timed([&] { relay_.received(p.id, bytes, now_); });
            for (const auto& bytes : p.down.take(now_)) p.client.received(bytes, now_);
        }
        if (relay_.next_wakeup() <= now_) timed([&] { relay_.advance(now_); });
        flush();
        for (std::size_t i = 0; i < peers_.size(); ++i) {
            Peer& p = *peers_[i];
            if (p.next_frame > now_) continue;
            p.next_frame += frame_micros;
            if (frame) frame(i, now_);
        }
        flush();
    }
}

}  // namespace zobra::net
