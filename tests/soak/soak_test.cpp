// Long games played by the computer with the rules' invariants checked after
// every tick: four computer diggers fighting duel rounds on all five duel
// places, and the computer playing every level of the catalogue on every
// difficulty, alone and in pairs. The test run plays a few hundred rounds;
// `make soak` sets ZOBRA_SOAK_ROUNDS to play thousands.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/bot.h"
#include "core/levels.h"
#include "support/arena_invariants.h"

namespace zobra {
namespace {

using testing::checked_tick;

// Duel rounds for the test run; `make soak` asks for thousands.
constexpr std::uint64_t short_soak_rounds = 500;

std::uint64_t soak_rounds() {
    const char* text = std::getenv("ZOBRA_SOAK_ROUNDS");
    if (text == nullptr || *text == '\0') return short_soak_rounds;
    return std::strtoull(text, nullptr, 10);
}

// Plays the arena to its end with the computer steering every digger,
// checking after each tick what must hold from one tick to the next. Gives
// the number of ticks played.
std::uint64_t play_out(Arena& a) {
    const std::uint32_t clock = a.time_left;
    Arena before = a;
    // Every game ends by its clock at the latest: a level when the time is
    // up, a duel round when the time is up or one digger is left.
    while (a.outcome == Outcome::Running && a.ticks <= clock) {
        std::vector<DiggerInput> inputs(a.diggers.size());
        for (std::size_t i = 0; i < a.diggers.size(); ++i) {
            inputs[i] = bot_decide(a, i);
            if (inputs[i].drop && inputs[i].dir) {
                ADD_FAILURE() << "digger " << i << " told to drop and walk at tick " << a.ticks;
                return a.ticks;
            }
        }
        const std::vector<Event> events = checked_tick(a, inputs);
        if (::testing::Test::HasFailure()) return a.ticks;

        const auto broken = [&](const char* what) {
            ADD_FAILURE() << what << " at tick " << a.ticks;
            return a.ticks;
        };
        if (a.ticks != before.ticks + 1) return broken("the tick counter skipped");
        if (a.score < before.score) return broken("the score went down");
        if (a.time_left > before.time_left) return broken("the clock went back");
        if (a.creatures.size() > before.creatures.size()) return broken("a creature appeared");
        for (std::size_t i = 0; i < a.diggers.size(); ++i)
            if (before.diggers[i].state != DiggerState::Alive &&
                a.diggers[i].state != before.diggers[i].state)
                return broken("a dead or escaped digger came back");
        if (a.outcome != Outcome::Running) {
            const Event last = a.outcome == Outcome::Finished ? Event::RoundOver : Event::AllLost;
            if (events.empty() || events.back() != last)
                return broken("the game ended without saying so");
        }
        before = a;
    }
    EXPECT_NE(a.outcome, Outcome::Running) << "still running after its clock of " << clock;
    return a.ticks;
}

std::size_t alive(const Arena& a) {
    return static_cast<std::size_t>(
        std::count_if(a.diggers.begin(), a.diggers.end(),
                      [](const Digger& d) { return d.state == DiggerState::Alive; }));
}

TEST(Soak, FourComputerDiggersFightDuelRoundsOnEveryPlaceWithinTheRules) {
    const std::uint64_t rounds = soak_rounds();
    std::uint64_t ticks = 0, won = 0;
    for (std::uint64_t n = 0; n < rounds; ++n) {
        const std::uint64_t place = n % duel_place_count;
        const auto round = static_cast<std::uint32_t>(n / duel_place_count);
        SCOPED_TRACE(std::string(duel_places[place].name) + ", round " + std::to_string(round));
        Arena a = duel_arena(place, 0, round);
        ASSERT_EQ(a.diggers.size(), 4u);
        ticks += play_out(a);
        ASSERT_FALSE(HasFailure());
        ASSERT_EQ(a.outcome, Outcome::Finished);
        if (a.has_winner) {
            ++won;
            ASSERT_EQ(alive(a), 1u);
            ASSERT_EQ(a.diggers[a.winner].state, DiggerState::Alive);
        } else {
            ASSERT_TRUE(alive(a) == 0 || a.time_left == 0);
        }
    }
    std::printf("soak: %llu duel rounds on %llu places (%llu with a winner), %llu ticks\n",
                static_cast<unsigned long long>(rounds),
                static_cast<unsigned long long>(duel_place_count),
                static_cast<unsigned long long>(won), static_cast<unsigned long long>(ticks));
}

TEST(Soak, TheComputerPlaysEveryLevelToItsEndWithinTheRules) {
    constexpr std::array<Difficulty, 3> difficulties{Difficulty::Easy, Difficulty::Normal,
                                                     Difficulty::Hard};
    std::uint64_t games = 0, ticks = 0, finished = 0;
    for (const Level& level : level_catalogue())
        for (Difficulty difficulty : difficulties)
            for (std::uint32_t diggers : {1u, 2u}) {
                SCOPED_TRACE(std::string(level.name) + ", difficulty " +
                             std::to_string(static_cast<int>(difficulty)) + ", " +
                             std::to_string(diggers) + " digger(s)");
                Arena a = level_arena(level, diggers, difficulty);
                ticks += play_out(a);
                ++games;
                ASSERT_FALSE(HasFailure());
                if (a.outcome == Outcome::Finished) {
                    ++finished;
                    ASSERT_TRUE(a.creatures.empty());
                    ASSERT_EQ(alive(a), 0u);
                } else {
                    ASSERT_EQ(a.outcome, Outcome::Lost);
                    ASSERT_EQ(alive(a), 0u);
                }
            }
    std::printf("soak: %llu level games (%llu won by the computer), %llu ticks\n",
                static_cast<unsigned long long>(games), static_cast<unsigned long long>(finished),
                static_cast<unsigned long long>(ticks));
}

}  // namespace
}  // namespace zobra
