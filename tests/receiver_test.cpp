#include "ping/receiver.h"

#include "ping/icmp_message.h"
#include "support/fake_clock.h"
#include "support/fake_clock_run.h"
#include "support/recording_desktop.h"
#include "support/test_network.h"

#include <algorithm>
#include <gtest/gtest.h>

using namespace bv;

namespace {

class ApplyReplyTest : public FakeClockRun {
protected:
    ApplyReplyTest() : FakeClockRun("a 10.0.0.1\nb 10.0.0.2\n", 1000) {}
};

}  // namespace

TEST_F(ApplyReplyTest, ReplyAnswersOnceAndOnlyAnAwaitingHost)
{
    Address& host = *network().host(0);
    send(host);
    ReplyInfo good;
    good.address = platform::parseIpv4("10.0.0.1");
    testing::internal::CaptureStdout();
    EXPECT_EQ(applyReply("10.0.0.1", network().engine(), good), ReplyMatch::Applied);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "freed a semaphore\n");
    EXPECT_EQ(host.getPingState(), PingState::Idle);
    EXPECT_EQ(host.getStatus(), HostStatus::Green);
    EXPECT_EQ(host.getRepliesMatched(), 1u);
    EXPECT_FALSE(network().pingSemaphore().release()) << "count not given back";

    // The same reply again, or one after a time-out: nothing changes and no
    // count is given back twice.
    EXPECT_EQ(applyReply("10.0.0.1", network().engine(), good), ReplyMatch::Applied);
    EXPECT_FALSE(network().pingSemaphore().release());
    EXPECT_EQ(host.getRepliesMatched(), 1u) << "a reply nobody waited for was counted";
    EXPECT_EQ(applyReply("10.0.0.9", network().engine(), good), ReplyMatch::NoSuchHost);
    EXPECT_EQ(applyReply("10.0.0.01", network().engine(), good), ReplyMatch::NoSuchHost);
}

TEST_F(ApplyReplyTest, ErrorRepliesFailTheHost)
{
    Address& host = *network().host(1);
    ReplyInfo unreachable;
    unreachable.errorText = "Destination unreachable";
    send(host);
    testing::internal::CaptureStdout();
    applyReply("10.0.0.2", network().engine(), unreachable);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "R:TTL expired\nfreed a semaphore\n");
    EXPECT_EQ(host.getStatus(), HostStatus::Yellow);
    EXPECT_EQ(host.getErrorText(), "Destination unreachable");

    ReplyInfo expired;
    expired.errorText = "TTL expired";
    send(host);
    applyReply("10.0.0.2", network().engine(), expired);
    EXPECT_EQ(host.getStatus(), HostStatus::Red);
    EXPECT_EQ(host.getPingState(), PingState::ChangePending);
    EXPECT_EQ(host.getErrorText(), "TTL expired");
    EXPECT_FALSE(network().pingSemaphore().release());
    EXPECT_EQ(host.getRepliesMatched(), 0u) << "an error message is not a matched reply";
}

TEST_F(ApplyReplyTest, OwedCountsGoBackOnlyWhenTheCallerReleasesThem)
{
    Address& host = *network().host(0);
    send(host);
    ReplyInfo good;
    good.address = platform::parseIpv4("10.0.0.1");
    int owed = 0;
    testing::internal::CaptureStdout();
    EXPECT_EQ(applyReply("10.0.0.1", network().engine(), good, owed), ReplyMatch::Applied);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(owed, 1);
    EXPECT_EQ(host.getPingState(), PingState::Idle);
    EXPECT_EQ(host.getRepliesMatched(), 1u);
    // Five counts free, the sixth still owed.
    int free = 0;
    while (free < 7 && network().pingSemaphore().tryWait() == platform::WaitResult::Signalled)
        ++free;
    EXPECT_EQ(free, 5);
    for (int i = 0; i < free; ++i)
        network().pingSemaphore().release();
    EXPECT_EQ(applyReply("10.0.0.9", network().engine(), good, owed), ReplyMatch::NoSuchHost);
    EXPECT_EQ(owed, 1);

    testing::internal::CaptureStdout();
    releaseOwedCounts(network().engine(), owed);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "freed a semaphore\n");
    EXPECT_EQ(owed, 0);
    EXPECT_FALSE(network().pingSemaphore().release()) << "the owed count was not given back";
}

TEST(ApplyReplyToNames, AReplyAnswersTheLongestWaitingHostAtItsAddress)
{
    RecordingDesktop desktop;
    FakeClock clock { 1000 };
    TestNetwork test { "dotted 10.0.0.1\nfirst name-one\nsecond name-two\n", clock };
    Network& network = *test.network;
    EngineContext& engine = network.engine();
    Address& dotted = *network.host(0);
    Address& first = *network.host(1);
    Address& second = *network.host(2);
    // Both names resolved to the dotted host's address.
    engine.namedHosts.place(first, platform::parseIpv4("10.0.0.1"));
    engine.namedHosts.place(second, platform::parseIpv4("10.0.0.9"));
    engine.namedHosts.place(second, platform::parseIpv4("10.0.0.1"));
    for (Address* host : { &second, &dotted, &first }) {
        startRequest(engine, *host);
        clock.sleepMilliseconds(10);
    }
    ReplyInfo good;
    std::vector<const Address*> answered;
    for (int reply = 0; reply < 4; ++reply) {
        int owed = 0;
        EXPECT_EQ(applyReply("10.0.0.1", engine, good, owed), ReplyMatch::Applied);
        for (const Address* host : { &dotted, &first, &second }) {
            if (host->getRepliesMatched() == 1
                && std::find(answered.begin(), answered.end(), host) == answered.end())
                answered.push_back(host);
        }
    }
    EXPECT_EQ(answered, (std::vector<const Address*> { &second, &dotted, &first }));
    // Moved away from 10.0.0.9: nothing there answers it any more.
    EXPECT_EQ(applyReply("10.0.0.9", engine, good), ReplyMatch::NoSuchHost);
}
