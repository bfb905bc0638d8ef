// Save points of a match, as a rollback would take them: the match copied
// in mid-play, run on with random inputs, the copy assigned back and run
// again on the same inputs must pass through the same states tick for tick,
// by `==` and by `state_hash`. A third run with one input changed may end
// alike or not, but `==` and the hash must agree on which. Solo and pair
// levels and both kinds of duel, a few save points each; the test run plays
// a short version, `make soak` (ZOBRA_SOAK_ROUNDS) thousands of them.

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/levels.h"
#include "core/match.h"

namespace zobra {
namespace {

constexpr std::uint64_t short_sync_rounds = 200;
constexpr int save_points_per_round = 4;

std::uint64_t sync_rounds() {
    const char* text = std::getenv("ZOBRA_SOAK_ROUNDS");
    if (text == nullptr || *text == '\0') return short_sync_rounds;
    return std::strtoull(text, nullptr, 10);
}

// A player at the keys: a held direction that changes now and then, a
// charge now and then, a confirm now and then.
class RandomPlayer {
  public:
    explicit RandomPlayer(std::uint64_t seed) : rng_{arena_rng_start(seed)} {}
    TickInput next() {
        TickInput input;
        for (std::size_t i = 0; i < max_humans; ++i) {
            if (rng_.below(4) == 0) held_[i] = static_cast<std::uint8_t>(rng_.below(5));
            if (held_[i] < 4) input.diggers[i].dir = static_cast<Dir>(held_[i]);
            input.diggers[i].drop = rng_.below(12) == 0;
        }
        input.confirm = rng_.below(30) == 0;
        return input;
    }

  private:
    Rng rng_;
    std::array<std::uint8_t, max_humans> held_{4, 4};
};

MatchSetup setup_for(std::uint64_t round) {
    constexpr std::array<Mode, 4> modes{Mode::Solo, Mode::DuelSolo, Mode::Pair, Mode::DuelPair};
    const Mode mode = modes[round % modes.size()];
    const std::uint64_t n = round / modes.size();
    const std::uint64_t places = is_duel(mode) ? duel_place_count : level_count;
    return {.mode = mode,
            .difficulty = static_cast<Difficulty>(n % 3),
            .place = static_cast<std::uint8_t>(n % places)};
}

// The states after each tick of the inputs.
std::vector<Match> run(Match match, const std::vector<TickInput>& inputs) {
    std::vector<Match> states;
    states.reserve(inputs.size());
    for (const TickInput& input : inputs) {
        match.advance(input);
        states.push_back(match);
    }
    return states;
}

// `==` and the state hash agree about the two matches.
::testing::AssertionResult agree(const Match& a, const Match& b) {
    const bool equal = a == b;
    const bool same_hash = state_hash(a) == state_hash(b);
    if (equal == same_hash) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << (equal ? "equal matches with different hashes"
                                                   : "different matches with the same hash")
                                         << " at tick " << a.ticks << " and " << b.ticks;
}

TEST(Soak, AMatchRestoredFromACopyReplaysTheSameTicks) {
    const std::uint64_t rounds = sync_rounds();
    std::uint64_t restores = 0, ticks = 0, diverged = 0;
    for (std::uint64_t round = 0; round < rounds; ++round) {
        const MatchSetup setup = setup_for(round);
        SCOPED_TRACE("round " + std::to_string(round) + ", mode " +
                     std::to_string(static_cast<int>(setup.mode)) + ", place " +
                     std::to_string(setup.place));
        RandomPlayer player(round);
        Match match(setup);
        for (int point = 0; point < save_points_per_round && match.phase != MatchPhase::Over;
             ++point) {
            // Play on to the save point.
            const std::uint64_t lead =
                20 + (round * 7 + static_cast<std::uint64_t>(point) * 13) % 60;
            for (std::uint64_t t = 0; t < lead; ++t) match.advance(player.next());
            const Match saved = match;
            ASSERT_TRUE(agree(saved, match));

            std::vector<TickInput> inputs(30 + round % 50);
            for (TickInput& input : inputs) input = player.next();
            const std::vector<Match> first = run(match, inputs);

            match = saved;
            ASSERT_TRUE(match == saved);
            ASSERT_EQ(state_hash(match), state_hash(saved));
            const std::vector<Match> again = run(match, inputs);
            for (std::size_t t = 0; t < inputs.size(); ++t) {
                ASSERT_TRUE(again[t] == first[t]) << "tick " << t << " after the save point";
                ASSERT_EQ(state_hash(again[t]), state_hash(first[t])) << "tick " << t;
            }

            // One input changed: whatever follows, both ways of comparing agree.
            std::vector<TickInput> changed = inputs;
            TickInput& one = changed[round % changed.size()];
            one.diggers[0].drop = !one.diggers[0].drop;
            const std::vector<Match> other = run(saved, changed);
            for (std::size_t t = 0; t < changed.size(); ++t) {
                ASSERT_TRUE(agree(other[t], first[t])) << "tick " << t << " after the save point";
                diverged += other[t] == first[t] ? 0 : 1;
            }
            ASSERT_TRUE(agree(saved, first.back()));

            match = first.back();
            ++restores;
            ticks += 3 * inputs.size();
        }
    }
    EXPECT_GT(diverged, 0u) << "no changed input ever changed a match";
    std::printf("soak: %llu save points restored over %llu matches, %llu ticks, %llu diverged\n",
                static_cast<unsigned long long>(restores), static_cast<unsigned long long>(rounds),
                static_cast<unsigned long long>(ticks), static_cast<unsigned long long>(diverged));
}

}  // namespace
}  // namespace zobra
