// The end-to-end tests' own promise: a test that dies, for whatever reason
// (a crash, an abort, the test runner's kill after a time-out), takes its
// Xvfb and its game with it instead of leaving them running.

#include "e2e/process.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace zobra::e2e {
namespace {

using namespace std::chrono_literals;

// Whether an adopted process ends within the limit (killed with the test,
// or ending by itself when the test died before it could be tied to it).
bool ends(pid_t pid, std::chrono::milliseconds limit) {
    return eventually([&] { return waitpid(pid, nullptr, WNOHANG) == pid; }, limit);
}

TEST(TestProcesses, ATestKilledMidwayTakesItsXvfbAndItsGameWithIt) {
    // Orphans come to this process while the test runs, so that it can see
    // how they end.
    struct Adopting {
        Adopting() { prctl(PR_SET_CHILD_SUBREAPER, 1); }
        ~Adopting() { prctl(PR_SET_CHILD_SUBREAPER, 0); }
    } adopting;
    GameFolder folder;
    int pids[2];
    ASSERT_EQ(pipe(pids), 0);
    const pid_t test = fork();
    ASSERT_GE(test, 0);
    if (test == 0) {
        // A test that has started its server and game, then hangs.
        Xvfb x;
        Process game(folder.executable(), x.environment(), folder.path());
        const pid_t started[2] = {x.pid(), game.pid()};
        if (write(pids[1], started, sizeof started) != sizeof started) _exit(1);
        for (;;) pause();
    }
    close(pids[1]);
    pid_t started[2] = {0, 0};
    const bool told = read(pids[0], started, sizeof started) == sizeof started;
    close(pids[0]);
    kill(test, SIGKILL);
    waitpid(test, nullptr, 0);
    ASSERT_TRUE(told) << "the test's Xvfb did not start";

    const char* names[2] = {"Xvfb", "the game"};
    for (int i = 0; i < 2; ++i) {
        const bool ended = ends(started[i], 10s);
        EXPECT_TRUE(ended) << names[i] << " outlived its test";
        if (!ended) {
            kill(started[i], SIGKILL);
            waitpid(started[i], nullptr, 0);
        }
    }
}

}  // namespace
}  // namespace zobra::e2e
