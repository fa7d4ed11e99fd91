// The order in which the server's loop serves clients with requests waiting.
#include <gtest/gtest.h>

#include <map>

#include "scheduler.h"

using namespace mis;
using std::chrono::microseconds;
using std::chrono::milliseconds;

namespace {

// Runs turns as the loop does, each costing what cost(id) says, and counts them per client.
std::map<int, int> run(Scheduler& s, int turns, const std::map<int, Scheduler::Duration>& cost)
{
    std::map<int, int> served;
    for (int i = 0; i < turns && !s.empty(); ++i) {
        int id = s.next();
        ++served[id];
        s.charge(id, cost.at(id));
    }
    return served;
}

} // namespace

TEST(Scheduler, BusyClientsShareEvenlyAndAWakingOneGoesFirstWithinItsCredit)
{
    Scheduler s;
    // Three busy clients, one turn costing 8 ms, the others 1 ms: equal time, not equal turns.
    for (int id : {1, 2, 3}) s.ready(id);
    auto served = run(s, 1000, {{1, milliseconds(8)}, {2, milliseconds(1)}, {3, milliseconds(1)}});
    EXPECT_NEAR(served[1] * 8, served[2], 8);
    EXPECT_NEAR(served[2], served[3], 1);

    // A client that had nothing to do comes with one cheap request: it is next, though the
    // others have been ready all along.
    s.ready(4);
    EXPECT_EQ(s.next(), 4);
    s.charge(4, microseconds(50));
    s.idle(4);
    EXPECT_FALSE(s.is_ready(4));
    // Each time it comes back it is next again.
    for (int i = 0; i < 3; ++i) {
        s.charge(s.next(), milliseconds(8));
        s.ready(4);
        EXPECT_EQ(s.next(), 4);
        s.charge(4, microseconds(50));
        s.idle(4);
    }

    // Its idle time is no store of credit: ready for good and costly, it gets at most the
    // credit's worth (and one of the others' longest turns) ahead of them, then takes its
    // share like them.
    s.ready(4);
    auto more = run(
        s, 400,
        {{1, milliseconds(8)}, {2, milliseconds(1)}, {3, milliseconds(1)}, {4, milliseconds(1)}});
    auto credit_turns = std::chrono::duration_cast<milliseconds>(Scheduler::WAKE_CREDIT).count();
    EXPECT_LE(more[4] - more[2], credit_turns + 8);
    EXPECT_GE(more[4], more[2]);
}

TEST(Scheduler, IdleAndForgottenClientsAreNeverChosen)
{
    Scheduler s;
    EXPECT_TRUE(s.empty());
    s.ready(1);
    s.ready(1); // twice ready is once in the queue
    s.ready(2);
    EXPECT_EQ(s.size(), 2u);
    s.idle(1);
    s.forget(2);
    s.charge(2, milliseconds(1)); // a turn's cost reported after the client went is ignored
    s.idle(7);                    // and so is news of a client never seen
    EXPECT_TRUE(s.empty());
    s.ready(1);
    EXPECT_EQ(s.next(), 1);
    // A client that went and a new one with its number start afresh, not with its count.
    s.charge(1, std::chrono::seconds(5));
    s.forget(1);
    s.ready(3);
    s.ready(1);
    s.charge(3, milliseconds(1));
    EXPECT_EQ(s.next(), 1);
}
