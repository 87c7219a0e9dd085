#include "run/network.h"

#include "core/monitor_events.h"
#include "support/fake_clock.h"
#include "support/fake_clock_run.h"
#include "support/recording_desktop.h"
#include "support/test_network.h"

#include <deque>
#include <gtest/gtest.h>

using namespace bv;

namespace {

constexpr CalendarTime kStart = 1108980907;

class StatusSweepTest : public FakeClockRun {
protected:
    StatusSweepTest() : FakeClockRun("a 10.0.0.1 first\nb 10.0.0.2 second\n", kStart) {}
    void SetUp() override { useUtcTimeZone(); }
};

// A clock whose monotonic reading steps through the times it was given,
// then stands at the last.
class ScriptedClock final : public platform::Clock {
public:
    explicit ScriptedClock(std::deque<std::int64_t> times) : times_(std::move(times)) {}
    CalendarTime now() override { return kStart; }
    std::int64_t monotonicMilliseconds() override
    {
        const std::int64_t value = times_.front();
        if (times_.size() > 1)
            times_.pop_front();
        return value;
    }
    void sleepMilliseconds(std::int64_t) override {}

private:
    std::deque<std::int64_t> times_;
};

}  // namespace

TEST_F(StatusSweepTest, UnansweredRequestTimesOutAfterTenSeconds)
{
    send(host(0));
    clock.advance(9);
    network().sweepPass();
    EXPECT_EQ(host(0).getPingState(), PingState::AwaitingReply);
    EXPECT_TRUE(network().pingSemaphore().release()) << "count given back too early";
    ASSERT_EQ(network().pingSemaphore().wait(), platform::WaitResult::Signalled);

    clock.advance(1);
    testing::internal::CaptureStdout();
    network().sweepPass();
    const std::string trace = testing::internal::GetCapturedStdout();
    EXPECT_NE(trace.find("pn: ip timed out\n"), std::string::npos);
    EXPECT_EQ(host(0).getStatus(), HostStatus::Yellow);
    EXPECT_EQ(host(0).getErrorText(), "Timed out");
    EXPECT_EQ(host(0).getPingState(), PingState::Idle);
    EXPECT_FALSE(network().pingSemaphore().release()) << "the count was not given back";
    EXPECT_EQ(network().getYellowCount(), 1);
    EXPECT_EQ(network().getGreenCount(), 1);
    EXPECT_EQ(desktop.trayStates().back(), TrayState::Yellow);
}

TEST_F(StatusSweepTest, SecondMissTurnsRedAndIsQueuedInTheSamePass)
{
    send(host(1));
    clock.advance(10);
    network().sweepPass();
    clock.advance(20);
    const CalendarTime secondSend = clock.now();
    send(host(1));
    clock.advance(12);
    network().sweepPass();
    EXPECT_EQ(host(1).getStatus(), HostStatus::Red);
    EXPECT_EQ(network().getRedCount(), 1);
    EXPECT_EQ(desktop.trayStates().back(), TrayState::Red);
    EXPECT_EQ(host(1).getPingState(), PingState::Idle);
    ASSERT_EQ(network().printList().size(), 1u);
    const Address& queued = network().printList()[0];
    EXPECT_EQ(queued.getText(), formatTime(secondSend) + "\tRED\tb\t10.0.0.2\tsecond\t\tTimed out");
    EXPECT_EQ(queued.getDownSince(), kStart);
}

TEST_F(StatusSweepTest, RedHostThatAnsweredIsQueuedWithItsOutage)
{
    host(0).setStatus(HostStatus::Red);
    host(0).setDownSince(kStart - 120);
    send(host(0));
    // What the receiver does with the answer.
    host(0).setPingState(host(0).recordResult(PingResult { {}, "", 1 }));
    ASSERT_TRUE(network().pingSemaphore().release());
    network().sweepPass();
    ASSERT_EQ(network().printList().size(), 1u);
    EXPECT_EQ(network().printList()[0].getText(), formatTime(kStart) + "\tGREEN\ta\t10.0.0.1\tfirst\t120.000000");
    EXPECT_EQ(network().getGreenCount(), 2);
    EXPECT_EQ(desktop.trayStates().back(), TrayState::Green);
}

TEST_F(StatusSweepTest, CountsStatusTimeAndTrayAfterEachPass)
{
    EXPECT_EQ(network().getGreenCount(), 0);
    EXPECT_EQ(network().getStatusTime(), kStart);
    clock.advance(3);
    network().sweepPass();
    EXPECT_EQ(network().getGreenCount(), 2);
    EXPECT_EQ(network().getRedCount() + network().getYellowCount(), 0);
    EXPECT_EQ(network().getStatusTime(), kStart + 3);
    EXPECT_NE(network().getSummary().find("Status as of: Mon Feb 21 10:15:10 2005\r\n"), std::string::npos);
    EXPECT_EQ(desktop.trayStates(), std::vector<TrayState> { TrayState::Green });

    host(0).setStatus(HostStatus::Red);
    host(1).setStatus(HostStatus::Yellow);
    network().sweepPass();
    EXPECT_EQ(network().getRedCount(), 1);
    EXPECT_EQ(network().getYellowCount(), 1);
    EXPECT_EQ(network().getGreenCount(), 0);
    EXPECT_EQ(desktop.trayStates().back(), TrayState::Red);
}

TEST(StatusSweep, EmptyRegistryShowsRed)
{
    ExitFlagReset exitFlag;
    RecordingDesktop desktop;
    FakeClock clock(kStart);
    TestNetwork test("", clock);
    test.network->sweepPass();
    EXPECT_EQ(desktop.trayStates(), std::vector<TrayState> { TrayState::Red });
    EXPECT_EQ(test.network->getRedCount() + test.network->getYellowCount() + test.network->getGreenCount(), 0);
}

TEST(StatusSweep, PauseRule)
{
    ExitFlagReset exitFlag;
    RecordingDesktop desktop;
    // A pass every second whatever the interval: the second less the pass.
    const std::pair<std::deque<std::int64_t>, std::int64_t> cases[] = {
        { { 5000, 5000, 5000 }, 1000 },
        { { 5000, 5000, 5400 }, 600 },
        { { 5000, 5000, 6500 }, 0 },
    };
    for (const auto& [times, pause] : cases) {
        ScriptedClock clock(times);
        TestNetwork run("", clock);
        testing::internal::CaptureStdout();
        EXPECT_EQ(run.network->sweepPass(), pause);
        const std::string trace = testing::internal::GetCapturedStdout();
        EXPECT_EQ(trace.find("sleeping for: " + std::to_string(pause) + "\n") != std::string::npos, pause > 0);
    }
}

TEST(StatusSweep, ExitDuringPauseEndsAfterThePause)
{
    ExitFlagReset exitFlag;
    RecordingDesktop desktop;
    FakeClock clock(kStart);
    TestNetwork test("a 10.0.0.1\n", clock);
    int pauses = 0;
    clock.onPause([&](std::int64_t) {
        if (++pauses == 2)
            exitRequested.store(true);
    });
    testing::internal::CaptureStdout();
    test.network->statusSweep();
    const std::string trace = testing::internal::GetCapturedStdout();
    EXPECT_EQ(clock.pauses(), (std::vector<std::int64_t> { 1000, 1000 }));
    // The second pause ran to its end, and its pass finished with END.
    EXPECT_EQ(trace.substr(trace.size() - 4), "END\n");
    EXPECT_EQ(desktop.trayStates().size(), 2u);
}

TEST_F(StatusSweepTest, EachPassIsAnnouncedOnceTheTrayIsSet)
{
    // The tray state is the last thing a pass works out: a listener hearing
    // the end of a pass finds it already set.
    class PassCounter final : public MonitorListener {
    public:
        void setTrayState(TrayState) override { ++trays; }
        void sweepPassDone() override { passes.push_back(trays); }
        int trays = 0;
        std::vector<int> passes;
    } counter;
    ListenerRegistration registration(counter);
    network().sweepPass();
    network().sweepPass();
    EXPECT_EQ(counter.passes, (std::vector<int> { 1, 2 }));
}
