// The schedule on the fake clock: a request keeps its count only for the
// receive wait, a count goes back once, and calendar changes move nothing.

#include "ping/receiver.h"
#include "run/network.h"

#include "ping/icmp_message.h"
#include "support/addresses.h"
#include "support/fake_clock_run.h"
#include "support/recording_desktop.h"
#include "support/test_network.h"

#include <gtest/gtest.h>

using namespace bv;
using bv::test::ip;

namespace {

constexpr CalendarTime kStart = 1108980907;

class ScheduleTest : public FakeClockRun {
protected:
    ScheduleTest() : FakeClockRun(eightHosts(), kStart) {}

    // What the sender does when it must not wait: a free count or nothing.
    bool trySend(Address& record)
    {
        if (network().pingSemaphore().tryWait() != platform::WaitResult::Signalled)
            return false;
        startRequest(network().engine(), record);
        return true;
    }
    // What the receiver does after each wait.
    int expireCounts()
    {
        return network().engine().inFlight.expire(clock.monotonicMilliseconds(), network().getTimeOut());
    }
    int freeCounts()
    {
        int free = 0;
        while (free < 8 && network().pingSemaphore().tryWait() == platform::WaitResult::Signalled)
            ++free;
        for (int i = 0; i < free; ++i)
            network().pingSemaphore().release();
        return free;
    }

    static std::string eightHosts()
    {
        std::string lines;
        for (int i = 1; i <= 8; ++i)
            lines += "h" + std::to_string(i) + " 10.0.0." + std::to_string(i) + "\n";
        return lines;
    }

};

}  // namespace

TEST_F(ScheduleTest, SilentHostsHoldTheirCountsOnlyForTheReceiveWait)
{
    for (std::size_t position = 0; position < 6; ++position)
        ASSERT_TRUE(trySend(host(position)));
    // Six silent hosts hold every count: the seventh and the answering one wait.
    EXPECT_FALSE(trySend(host(6)));
    clock.sleepMilliseconds(999);
    EXPECT_EQ(expireCounts(), 0);
    clock.sleepMilliseconds(1);
    EXPECT_EQ(expireCounts(), 6);
    for (int i = 0; i < 6; ++i)
        ASSERT_TRUE(network().pingSemaphore().release());
    EXPECT_TRUE(trySend(host(6)));
    EXPECT_TRUE(trySend(host(7)));
    // The silent ones still await their replies.
    EXPECT_EQ(host(0).getPingState(), PingState::AwaitingReply);

    // A late reply is applied, and gives no second count back.
    ReplyInfo good;
    int owed = 0;
    EXPECT_EQ(applyReply(ip("10.0.0.1"), network().engine(), good, owed), ReplyMatch::Applied);
    EXPECT_EQ(owed, 0);
    EXPECT_EQ(host(0).getPingState(), PingState::Idle);
    EXPECT_EQ(host(0).getRepliesMatched(), 1u);
    // An answer in time gives its own count back, once.
    EXPECT_EQ(applyReply(ip("10.0.0.8"), network().engine(), good, owed), ReplyMatch::Applied);
    EXPECT_EQ(owed, 1);
    releaseOwedCounts(network().engine(), owed);

    // The sweep fails the silent ones after 10 s without giving counts back
    // twice: the one count still held (the seventh host's) comes back with its time-out.
    clock.advance(10);
    testing::internal::CaptureStderr();
    network().sweepPass();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    for (std::size_t position = 1; position < 7; ++position) {
        EXPECT_EQ(host(position).getStatus(), HostStatus::Yellow) << position;
        EXPECT_EQ(host(position).getErrorText(), "Timed out");
    }
    EXPECT_EQ(freeCounts(), 6);
    EXPECT_EQ(expireCounts(), 0);
}

TEST_F(ScheduleTest, CalendarChangesNeitherStopNorFailRequests)
{
    ASSERT_TRUE(trySend(host(0)));
    clock.set(kStart - 3600);
    clock.sleepMilliseconds(9000);
    network().sweepPass();
    EXPECT_EQ(host(0).getPingState(), PingState::AwaitingReply);
    clock.sleepMilliseconds(1000);
    network().sweepPass();
    EXPECT_EQ(host(0).getErrorText(), "Timed out") << "set back, the time-out still came after 10 s";

    ASSERT_TRUE(trySend(host(1)));
    clock.set(kStart + 3600);
    network().sweepPass();
    EXPECT_EQ(host(1).getPingState(), PingState::AwaitingReply) << "set forward, a request in time stays in time";
    EXPECT_EQ(host(1).getStatus(), HostStatus::Green);
}

TEST_F(ScheduleTest, OverdueHostsAreCountedAndNotedOnceAMinute)
{
    network().sweepPass();
    EXPECT_EQ(network().getOverdueCount(), 0);
    EXPECT_NE(network().getSummary().find("\r\nHosts overdue: 0\r\n"), std::string::npos);
    // Every host fell due at 30 s; none was sent.
    clock.sleepMilliseconds(31001);
    testing::internal::CaptureStderr();
    network().sweepPass();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << "late by less than an interval: no note";
    EXPECT_EQ(network().getOverdueCount(), 8);
    EXPECT_NE(network().getSummary().find("\r\nHosts overdue: 8\r\n"), std::string::npos);

    clock.sleepMilliseconds(30000);
    testing::internal::CaptureStderr();
    network().sweepPass();
    clock.sleepMilliseconds(59000);
    network().sweepPass();
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
        "8 hosts are overdue by more than one interval: raise -max (now 6) or lower -to (now 1000 ms)\n");
    clock.sleepMilliseconds(1000);
    testing::internal::CaptureStderr();
    network().sweepPass();
    EXPECT_NE(testing::internal::GetCapturedStderr(), "");
}
