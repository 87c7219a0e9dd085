#include "core/decimal_text.h"
#include "core/round_trips.h"
#include "ping/engine_context.h"
#include "ping/icmp_message.h"
#include "ping/receiver.h"
#include "ping/round_trip_timing.h"

#include "support/addresses.h"
#include "support/fake_clock_run.h"

#include <gtest/gtest.h>

using namespace bv;
using bv::test::ip;

namespace {

constexpr std::int64_t kTimeOut = 10'000'000;

RoundTripWindow::SendMoment at(std::int64_t sentAt)
{
    return { sentAt, std::nullopt };
}

}  // namespace

TEST(RoundTripWindow, FiguresLossAndTheWindowSliding)
{
    RoundTripWindow window(4);
    EXPECT_FALSE(window.figures(0, kTimeOut).hasReplies());
    EXPECT_EQ(window.figures(0, kTimeOut).lossRatio(), 0.0);

    window.requestSent(0, at(0));
    window.requestSent(1, at(1'000'000));
    window.requestSent(2, at(2'000'000));
    // Replies out of order: the late one for request 0 counts for it.
    EXPECT_TRUE(window.replyCame(1, 300));
    EXPECT_TRUE(window.replyCame(0, 100));
    EXPECT_FALSE(window.replyCame(0, 999)) << "a second reply changes nothing";
    EXPECT_FALSE(window.replyCame(7, 999)) << "a request the window never held";

    // Request 2 is neither answered nor lost until its time-out has passed.
    RoundTripFigures young = window.figures(3'000'000, kTimeOut);
    EXPECT_EQ(young.requests, 2);
    EXPECT_EQ(young.replies, 2);
    EXPECT_EQ(young.lost, 0);
    EXPECT_EQ(young.latest, 100) << "the reply that came last";
    EXPECT_EQ(young.minimum, 100);
    EXPECT_EQ(young.maximum, 300);
    EXPECT_EQ(young.mean, 200);
    EXPECT_EQ(young.median, 200) << "an even count: the mean of the middle two";
    EXPECT_EQ(young.jitter, 200) << "in the order of the requests";

    RoundTripFigures late = window.figures(12'000'000, kTimeOut);
    EXPECT_EQ(late.requests, 3);
    EXPECT_EQ(late.lost, 1);
    EXPECT_DOUBLE_EQ(late.lossRatio(), 1.0 / 3);

    // Three more: requests 0 and 1 leave the window, and a reply to one that
    // left is refused.
    window.requestSent(3, at(13'000'000));
    window.requestSent(4, at(14'000'000));
    window.requestSent(5, at(15'000'000));
    EXPECT_FALSE(window.replyCame(1, 50));
    EXPECT_TRUE(window.replyCame(3, 1000));
    EXPECT_TRUE(window.replyCame(4, 2000));
    EXPECT_TRUE(window.replyCame(5, 1500));
    const RoundTripFigures slid = window.figures(16'000'000, kTimeOut);
    EXPECT_EQ(slid.requests, 4);
    EXPECT_EQ(slid.lost, 1) << "request 2, still in the window";
    EXPECT_EQ(slid.replies, 3);
    EXPECT_EQ(slid.median, 1500);
    EXPECT_EQ(slid.mean, 1500);
    EXPECT_EQ(slid.jitter, 750);
    EXPECT_EQ(slid.latest, 1500);

    // Sizes beyond the bounds are held to them; sequence numbers wrap.
    EXPECT_EQ(RoundTripWindow(0).size(), 1);
    EXPECT_EQ(RoundTripWindow(5000).size(), RoundTripWindow::kLargestSize);
    RoundTripWindow wrapping(2);
    wrapping.requestSent(65535, at(0));
    wrapping.requestSent(0, at(1));
    EXPECT_TRUE(wrapping.replyCame(65535, 10));
    EXPECT_TRUE(wrapping.unanswered(0));
    EXPECT_FALSE(wrapping.unanswered(65535));
}

TEST(RoundTripTiming, TheKernelsFigureOnlyWhereItFitsTheProgramsOwn)
{
    // Sent at 1,000 µs on the monotonic clock and read 1,080 µs later; the
    // kernel's stamps are on the calendar clock.
    RoundTripWindow::SendMoment sent { 1'000, 1'700'000'000'000'000 };
    const RoundTrip kernel = roundTripOf(sent, 1'700'000'000'000'029, 2'080);
    EXPECT_EQ(kernel.microseconds, 29);
    EXPECT_TRUE(kernel.byKernel);

    // A calendar step between the stamps, back or forward, gives no
    // negative or absurd figure but the program's own.
    for (const std::int64_t arrival : { 1'699'999'999'000'000, 1'700'000'003'600'000 }) {
        const RoundTrip stepped = roundTripOf(sent, arrival, 2'080);
        EXPECT_EQ(stepped.microseconds, 1'080) << arrival;
        EXPECT_FALSE(stepped.byKernel) << arrival;
    }
    // A stamp missing at either end.
    EXPECT_FALSE(roundTripOf(sent, std::nullopt, 2'080).byKernel);
    sent.kernelSentAt.reset();
    EXPECT_EQ(roundTripOf(sent, 1'700'000'000'000'029, 2'080).microseconds, 1'080);
    // The monotonic clock never goes back, but a figure below 0 is never made.
    EXPECT_EQ(roundTripOf(sent, std::nullopt, 500).microseconds, 0);
}

namespace {

class RoundTripReplyTest : public FakeClockRun {
protected:
    RoundTripReplyTest() : FakeClockRun("a 10.0.0.1\nb 10.0.0.2\n", 1000) {}

    ReplyInfo reply(std::uint16_t sequence, const char* error = "")
    {
        ReplyInfo info;
        info.address = ip("10.0.0.1");
        info.sequence = sequence;
        info.errorText = error;
        info.receivedAt = clock.monotonicMicroseconds();
        return info;
    }
    void apply(const ReplyInfo& info)
    {
        testing::internal::CaptureStdout();
        applyReply(ip("10.0.0.1"), network().engine(), info);
        testing::internal::GetCapturedStdout();
    }
};

}  // namespace

TEST_F(RoundTripReplyTest, ALateReplyCountsForItsOwnRequestAndAnswersNoOther)
{
    Address& a = host(0);
    const std::uint16_t first = startRequest(network().engine(), a);
    // Its time-out passes unanswered; the host is due again.
    a.setPingState(a.recordResult(PingResult { {}, "Timed out", 0 }));
    clock.advance(11);
    const std::uint16_t second = startRequest(network().engine(), a);
    EXPECT_NE(first, second);

    // The first request's reply, very late, and an error quoting it: the
    // second request still waits for its own answer.
    apply(reply(first, "TTL expired"));
    apply(reply(first));
    EXPECT_EQ(a.getPingState(), PingState::AwaitingReply);
    EXPECT_EQ(a.getRepliesMatched(), 0u);
    const RoundTripFigures afterLate = a.getRoundTripFigures(clock.monotonicMicroseconds());
    EXPECT_EQ(afterLate.replies, 1);
    EXPECT_EQ(afterLate.latest, 11'000'000);
    EXPECT_EQ(afterLate.lost, 0) << "a late reply counts for its request";

    clock.sleepMilliseconds(3);
    apply(reply(second));
    EXPECT_EQ(a.getPingState(), PingState::Idle);
    EXPECT_EQ(a.getRepliesMatched(), 1u);
    const RoundTripFigures answered = a.getRoundTripFigures(clock.monotonicMicroseconds());
    EXPECT_EQ(answered.replies, 2);
    EXPECT_EQ(answered.latest, 3'000);
    EXPECT_EQ(answered.minimum, 3'000);

    // A reload that keeps the host keeps its figures; the log's copies of
    // the record carry none.
    writeFile(network().getInputFile(), "a2 10.0.0.1 renamed\n");
    network().reloadHostList();
    ASSERT_EQ(network().hostCount(), 1u);
    EXPECT_EQ(host(0).getName(), "a2");
    EXPECT_EQ(host(0).getRoundTripFigures(clock.monotonicMicroseconds()).replies, 2);
    EXPECT_EQ(Address(host(0)).getRoundTrips(), nullptr);
}

TEST(DecimalText, ExactWithTrailingZerosTrimmed)
{
    EXPECT_EQ(decimalText(412, 3), "0.412");
    EXPECT_EQ(decimalText(250000, 3), "250");
    EXPECT_EQ(decimalText(1500, 3), "1.5");
    EXPECT_EQ(decimalText(-1500, 3), "-1.5");
    EXPECT_EQ(decimalText(412, 6), "0.000412");
    EXPECT_EQ(decimalText(26214400, 6), "26.2144");
    EXPECT_EQ(decimalText(0, 6), "0");
    EXPECT_EQ(decimalText(7, 0), "7");
    EXPECT_EQ(decimalText(INT64_MIN, 6), "-9223372036854.775808");
}
