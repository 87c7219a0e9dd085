// The slow and loss alarms: their hysteresis, their lines and notices, and
// the sweep that judges them.

#include "core/round_trip_alarm.h"

#include "shell/common/change_notices.h"
#include "shell/common/terminal_lines.h"
#include "support/fake_clock_run.h"

#include <gtest/gtest.h>

using namespace bv;
using Turn = RoundTripAlarm::Turn;

namespace {

constexpr std::int64_t kTimeOut = 1000;  // microseconds

// A host's window driven request by request, each judged once its fate is
// known, as the sweep judges it every second.
class Feed {
public:
    explicit Feed(const RoundTripAlarm& alarm) : alarm_(alarm) {}

    // A request answered after `roundTrip` µs, or lost when negative.
    RoundTripAlarm::Turns next(std::int64_t roundTrip)
    {
        window_.requestSent(sequence_, { now_, std::nullopt });
        if (roundTrip >= 0)
            window_.replyCame(sequence_, roundTrip);
        ++sequence_;
        now_ += 2 * kTimeOut;
        return alarm_.evaluate(state, window_.figures(now_, kTimeOut));
    }

    RoundTripAlarms state;

private:
    const RoundTripAlarm& alarm_;
    RoundTripWindow window_ { 20 };
    std::uint16_t sequence_ = 0;
    std::int64_t now_ = 1000000;
};

RoundTripAlarmChange change(AlarmKind kind, bool raised, const std::string& name, std::int32_t lost,
    std::int64_t median)
{
    RoundTripAlarmChange made { kind, raised, name, "10.0.0.1", {}, kind == AlarmKind::Slow ? 100 : 10 };
    made.figures.requests = 20;
    made.figures.replies = 20 - lost;
    made.figures.lost = lost;
    made.figures.median = median;
    return made;
}

}  // namespace

TEST(RoundTripAlarm, SlowNeedsTheMedianAboveAndEndsOnlyAfterAWholeCalmWindow)
{
    const RoundTripAlarm alarm(100, 0, 20);
    Feed feed(alarm);
    // A spike among fast replies is absorbed by the median.
    for (int request = 0; request < 20; ++request)
        EXPECT_EQ(feed.next(request == 5 ? 500000 : 10000).slow, Turn::None) << request;
    // Slow replies raise it once they are half the window.
    for (int slow = 1; slow <= 20; ++slow)
        EXPECT_EQ(feed.next(250000).slow, slow == 10 ? Turn::Raised : Turn::None) << slow;
    EXPECT_TRUE(feed.state.slow);
    // 70 ms is below 80 % of 100 ms; the median gets there with the 11th
    // such reply, and a whole window later the alarm ends, a spike on the
    // way notwithstanding.
    for (int calm = 1; calm <= 30; ++calm)
        EXPECT_EQ(feed.next(calm == 20 ? 900000 : 70000).slow, calm == 30 ? Turn::Ended : Turn::None) << calm;
    EXPECT_FALSE(feed.state.slow);
    EXPECT_EQ(feed.state.loss, false) << "the loss alarm is off";

    // 90 ms is below the threshold but not below 80 % of it: it never ends.
    Feed between(alarm);
    for (int slow = 1; slow <= 20; ++slow)
        between.next(250000);
    ASSERT_TRUE(between.state.slow);
    for (int request = 0; request < 60; ++request)
        EXPECT_EQ(between.next(90000).slow, Turn::None) << request;

    // A window of too few answers raises nothing, whatever their median.
    Feed early(alarm);
    for (int request = 1; request <= 10; ++request)
        EXPECT_EQ(early.next(request == 1 ? 500000 : 300000).slow, request == 10 ? Turn::Raised : Turn::None)
            << request;
}

TEST(RoundTripAlarm, LossAboveItsShareAndEndsOnlyAfterAWholeCalmWindow)
{
    const RoundTripAlarm alarm(0, 10, 20);
    Feed feed(alarm);
    auto lostAt = [](int request) { return request == 5 || request == 20 || request == 21 || request == 45 || request == 46; };
    for (int request = 0; request < 100; ++request) {
        const Turn turn = feed.next(lostAt(request) ? -1 : 1000).loss;
        // One lost of 20 (5 %) and then two (10 %) are not above 10 %;
        // three are.
        if (request == 21)
            EXPECT_EQ(turn, Turn::Raised);
        // Back to one lost in the window (5 %, below 8 %) at request 40;
        // two more at 45 and 46 (10 %) start the count again, which begins
        // anew at 65 once one of them left the window: a whole window later
        // it ends.
        else if (request == 84)
            EXPECT_EQ(turn, Turn::Ended);
        else
            EXPECT_EQ(turn, Turn::None) << request;
    }
    EXPECT_FALSE(feed.state.loss);
    EXPECT_FALSE(feed.state.slow) << "the slow alarm is off";

    EXPECT_FALSE(RoundTripAlarm(0, 0, 20).enabled());
    EXPECT_TRUE(RoundTripAlarm(0, 10, 20).enabled());
}

TEST(RoundTripAlarmText, ExactFiguresLinesAndGroupedNotices)
{
    EXPECT_EQ(thousandthsText(250000), "250");
    EXPECT_EQ(thousandthsText(412), "0.412");
    EXPECT_EQ(thousandthsText(1500), "1.5");
    EXPECT_EQ(thousandthsText(1020), "1.02");
    EXPECT_EQ(thousandthsText(0), "0");
    RoundTripFigures third;
    third.requests = 3;
    third.lost = 1;
    EXPECT_EQ(lossPercentText(third), "33.333");
    third.lost = 2;
    EXPECT_EQ(lossPercentText(third), "66.667");

    EXPECT_EQ(alarmLine(change(AlarmKind::Slow, true, "db1", 0, 250000)),
        "SLOW db1 10.0.0.1: median 250 ms over 20 requests, threshold 100 ms");
    EXPECT_EQ(alarmLine(change(AlarmKind::Loss, true, "db1", 6, 1000)),
        "LOSS db1 10.0.0.1: loss 30 % over 20 requests, threshold 10 %");
    EXPECT_EQ(alarmLine(change(AlarmKind::Slow, false, "db1", 0, 70250)), "SLOW db1 10.0.0.1: normal again, median 70.25 ms");
    EXPECT_EQ(alarmLine(change(AlarmKind::Loss, false, "db1", 0, 1000)), "LOSS db1 10.0.0.1: normal again, loss 0 %");
    // The slow alarm's count is of the answered requests its median covers.
    EXPECT_EQ(alarmLine(change(AlarmKind::Slow, true, "db1", 8, 150000)),
        "SLOW db1 10.0.0.1: median 150 ms over 12 requests, threshold 100 ms");

    EXPECT_EQ(alarmNoticeText({}), "");
    EXPECT_EQ(alarmNoticeText({ change(AlarmKind::Slow, true, "db1", 0, 250000) }), "db1 is slow: median 250 ms");
    EXPECT_EQ(alarmNoticeText({ change(AlarmKind::Slow, true, "a", 0, 250000), change(AlarmKind::Loss, true, "c", 6, 1000),
                  change(AlarmKind::Slow, true, "b", 0, 250000), change(AlarmKind::Slow, false, "d", 0, 412) }),
        "2 hosts slow: a, b\nc is losing replies: loss 30 %\nd is no longer slow: median 0.412 ms");
    EXPECT_EQ(alarmNoticeText({ change(AlarmKind::Loss, false, "e", 0, 0), change(AlarmKind::Loss, false, "f", 0, 0) }),
        "2 hosts no longer losing replies: e, f");
}

namespace {

RunSettings slowAndLoss()
{
    RunSettings settings;
    settings.slowMilliseconds = 100;
    settings.lossPercent = 10;
    return settings;
}

class AlarmSweep : public FakeClockRun {
protected:
    explicit AlarmSweep(const RunSettings& settings = slowAndLoss())
        : FakeClockRun("a 10.0.0.1\nb 10.0.0.2\nc 10.0.0.3\n", 1108980907, settings)
    {
    }

    // A whole window of answered requests, as the engine would record them.
    void answer(Address& record, std::int64_t roundTrip)
    {
        RoundTripWindow& window = record.roundTrips(network().getWindowSize());
        for (int request = 0; request < window.size(); ++request) {
            const std::uint16_t sequence = record.takeSequence();
            window.requestSent(sequence, { clock.monotonicMicroseconds(), std::nullopt });
            window.replyCame(sequence, roundTrip);
        }
    }

    std::vector<ChangeNotice> shown;
    ChangeNotices notices { [this](const ChangeNotice& notice) { shown.push_back(notice); } };
    ListenerRegistration registration { notices };
};

class AlarmSweepOff : public AlarmSweep {
protected:
    AlarmSweepOff() : AlarmSweep(RunSettings {}) {}
};

}  // namespace

TEST_F(AlarmSweep, SlowHostsOfOnePassMakeOneNoticeAndKeepTheirStatus)
{
    answer(host(0), 250000);
    answer(host(1), 300000);
    answer(host(2), 1000);
    network().sweepPass();

    const std::vector<RoundTripAlarmChange> changes = desktop.alarmChanges();
    ASSERT_EQ(changes.size(), 2u);
    EXPECT_EQ(alarmLine(changes[0]), "SLOW a 10.0.0.1: median 250 ms over 20 requests, threshold 100 ms");
    EXPECT_EQ(alarmLine(changes[1]), "SLOW b 10.0.0.2: median 300 ms over 20 requests, threshold 100 ms");
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].title, "BeaconVigilor");
    EXPECT_EQ(shown[0].text, "2 hosts slow: a, b");
    for (std::size_t position = 0; position < 3; ++position) {
        EXPECT_EQ(host(position).getStatus(), HostStatus::Green);
        EXPECT_NE(host(position).getPingState(), PingState::ChangePending) << "an alarm is no change for the log";
    }
    EXPECT_TRUE(host(0).getAlarms().slow);
    EXPECT_FALSE(host(2).getAlarms().slow);
    EXPECT_TRUE(network().printList().empty());
    // The summary's median of the three medians, and the slowest.
    EXPECT_NE(network().getSummary().find("\r\nHosts overdue: 0\r\nMedian round trip: 250 ms\r\n"
                                          "Slowest host: b 10.0.0.2, median 300 ms\r\n"),
        std::string::npos)
        << network().getSummary();

    network().sweepPass();
    EXPECT_EQ(desktop.alarmChanges().size(), 2u) << "an alarm still raised is no news";
    EXPECT_EQ(shown.size(), 1u);

    // Fast again for a whole window: one ends alone and says so.
    answer(host(0), 1000);
    network().sweepPass();
    ASSERT_EQ(desktop.alarmChanges().size(), 3u);
    EXPECT_EQ(alarmLine(desktop.alarmChanges()[2]), "SLOW a 10.0.0.1: normal again, median 1 ms");
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[1].text, "a is no longer slow: median 1 ms");
}

TEST_F(AlarmSweepOff, WithoutThresholdsNothingIsJudged)
{
    answer(host(0), 250000);
    network().sweepPass();
    EXPECT_TRUE(desktop.alarmChanges().empty());
    EXPECT_TRUE(shown.empty());
    EXPECT_EQ(host(0).getAlarms().decidedSeen, 0u) << "judged though no alarm is on";
}
