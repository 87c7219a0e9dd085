#include "run/engine_counts.h"

#include "run/network.h"
#include "support/fake_clock.h"
#include "support/recording_desktop.h"
#include "support/test_network.h"

#include <gtest/gtest.h>

using namespace bv;

TEST(EngineCounts, SumsHostsAndNamesThoseWithALostRequest)
{
    RecordingDesktop desktop;
    FakeClock clock { 1000 };
    TestNetwork test { "a 10.0.0.1 one\nb 10.0.0.2 two\nc 10.0.0.3 three\n", clock };
    Network& network = *test.network;

    EngineCounts none = network.countEngine();
    EXPECT_EQ(formatEngineCounts(none),
        "Requests sent: 0, replies matched: 0, awaiting a reply: 0, hosts with a lost request: 0");

    Address& answered = *network.host(0);
    Address& lost = *network.host(1);
    Address& awaiting = *network.host(2);
    for (int i = 0; i < 2; ++i) {
        answered.countRequestSent();
        answered.countReplyMatched();
    }
    for (int i = 0; i < 3; ++i)
        lost.countRequestSent();
    lost.countReplyMatched();
    // One request out now is not lost.
    awaiting.countRequestSent();
    awaiting.setPingState(PingState::AwaitingReply);

    const EngineCounts counts = network.countEngine();
    EXPECT_TRUE(counts.complete);
    EXPECT_EQ(counts.requestsSent, 6u);
    EXPECT_EQ(counts.repliesMatched, 3u);
    EXPECT_EQ(counts.awaitingReply, 1u);
    EXPECT_EQ(counts.hostsWithLostRequests, 1u);
    EXPECT_EQ(formatEngineCounts(counts),
        "Requests sent: 6, replies matched: 3, awaiting a reply: 1, hosts with a lost request: 1\n"
        "lost: b 10.0.0.2 3/1");

    // Once that request is given up on, it is lost as well.
    awaiting.setPingState(PingState::Idle);
    EXPECT_EQ(network.countEngine().hostsWithLostRequests, 2u);

    // Copies (the log's snapshots) keep the counts.
    const Address copy(lost);
    EXPECT_EQ(copy.getRequestsSent(), 3u);
    EXPECT_EQ(copy.getRepliesMatched(), 1u);
    Address assigned(answered);
    assigned = lost;
    EXPECT_EQ(assigned.getRequestsSent(), 3u);
}

TEST(EngineCounts, ExamplesStopAtTheLimit)
{
    RecordingDesktop desktop;
    FakeClock clock { 1000 };
    std::string lines;
    for (int i = 1; i <= 12; ++i)
        lines += "h" + std::to_string(i) + " 10.0.1." + std::to_string(i) + "\n";
    TestNetwork test { lines, clock };
    for (std::size_t i = 0; i < test.network->hostCount(); ++i)
        test.network->host(i)->countRequestSent();
    const EngineCounts counts = test.network->countEngine();
    EXPECT_EQ(counts.hostsWithLostRequests, 12u);
    ASSERT_EQ(counts.lostExamples.size(), kLostExampleLimit);
    EXPECT_EQ(counts.lostExamples.front(), "h1 10.0.1.1 1/0");
}
