#include "ping/receiver.h"

#include "ping/icmp_message.h"
#include "support/addresses.h"
#include "support/fake_clock.h"
#include "support/fake_clock_run.h"
#include "support/recording_desktop.h"
#include "support/test_network.h"

#include <algorithm>
#include <gtest/gtest.h>

using namespace bv;
using bv::test::ip;

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
    good.address = ip("10.0.0.1");
    testing::internal::CaptureStdout();
    EXPECT_EQ(applyReply(ip("10.0.0.1"), network().engine(), good), ReplyMatch::Applied);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "rtt 10.0.0.1 icmp_seq 0 0 us program clock, a\nfreed a semaphore\n");
    EXPECT_EQ(host.getPingState(), PingState::Idle);
    EXPECT_EQ(host.getStatus(), HostStatus::Green);
    EXPECT_EQ(host.getRepliesMatched(), 1u);
    EXPECT_FALSE(network().pingSemaphore().release()) << "count not given back";

    // The same reply again, or one after a time-out: nothing changes and no
    // count is given back twice.
    EXPECT_EQ(applyReply(ip("10.0.0.1"), network().engine(), good), ReplyMatch::Applied);
    EXPECT_FALSE(network().pingSemaphore().release());
    EXPECT_EQ(host.getRepliesMatched(), 1u) << "a reply nobody waited for was counted";
    EXPECT_EQ(applyReply(ip("10.0.0.9"), network().engine(), good), ReplyMatch::NoSuchHost);
    // An IPv4-mapped IPv6 address is another host.
    EXPECT_EQ(applyReply(ip("::ffff:10.0.0.1"), network().engine(), good), ReplyMatch::NoSuchHost);
}

TEST_F(ApplyReplyTest, ErrorRepliesFailTheHost)
{
    Address& host = *network().host(1);
    ReplyInfo unreachable;
    unreachable.errorText = "Destination unreachable";
    send(host);
    testing::internal::CaptureStdout();
    applyReply(ip("10.0.0.2"), network().engine(), unreachable);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "R:TTL expired\nfreed a semaphore\n");
    EXPECT_EQ(host.getStatus(), HostStatus::Yellow);
    EXPECT_EQ(host.getErrorText(), "Destination unreachable");

    ReplyInfo expired;
    expired.errorText = "TTL expired";
    send(host);
    expired.sequence = host.getAwaitedSequence();
    applyReply(ip("10.0.0.2"), network().engine(), expired);
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
    good.address = ip("10.0.0.1");
    int owed = 0;
    testing::internal::CaptureStdout();
    EXPECT_EQ(applyReply(ip("10.0.0.1"), network().engine(), good, owed), ReplyMatch::Applied);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "rtt 10.0.0.1 icmp_seq 0 0 us program clock, a\n");
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
    EXPECT_EQ(applyReply(ip("10.0.0.9"), network().engine(), good, owed), ReplyMatch::NoSuchHost);
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
    engine.namedHosts.place(first, ip("10.0.0.1"));
    engine.namedHosts.place(second, ip("10.0.0.9"));
    engine.namedHosts.place(second, ip("10.0.0.1"));
    for (Address* host : { &second, &dotted, &first }) {
        startRequest(engine, *host);
        clock.sleepMilliseconds(10);
    }
    ReplyInfo good;
    std::vector<const Address*> answered;
    for (int reply = 0; reply < 4; ++reply) {
        int owed = 0;
        EXPECT_EQ(applyReply(ip("10.0.0.1"), engine, good, owed), ReplyMatch::Applied);
        for (const Address* host : { &dotted, &first, &second }) {
            if (host->getRepliesMatched() == 1
                && std::find(answered.begin(), answered.end(), host) == answered.end())
                answered.push_back(host);
        }
    }
    EXPECT_EQ(answered, (std::vector<const Address*> { &second, &dotted, &first }));
    // Moved away from 10.0.0.9: nothing there answers it any more.
    EXPECT_EQ(applyReply(ip("10.0.0.9"), engine, good), ReplyMatch::NoSuchHost);
}

TEST(ApplyReplyToAddresses, AnyTextOfAnAddressAndEachFamilyOfAName)
{
    RecordingDesktop desktop;
    FakeClock clock { 1000 };
    // 10.0.0.010 is 10.0.0.8 to the parser, as the host list has always read it.
    TestNetwork test { "odd 10.0.0.010\nsix 2001:2:0:0::A\ndual dual.test\n", clock };
    Network& network = *test.network;
    EngineContext& engine = network.engine();
    Address& odd = *network.host(0);
    Address& six = *network.host(1);
    // The twin -family both gives a dual-stack name.
    network.addIpv6Twins([](const Address& host) { return host.getHostText() == "dual.test"; });
    ASSERT_EQ(network.hostCount(), 4u);
    Address& dual = *network.host(2);
    Address& twin = *network.host(3);
    EXPECT_EQ(twin.getName(), "dual (IPv6)");
    EXPECT_EQ(twin.getHostText(), "dual.test");
    EXPECT_EQ(dual.getFamily(), HostFamily::V4);
    EXPECT_EQ(twin.getFamily(), HostFamily::V6);
    engine.namedHosts.place(dual, ip("198.18.0.7"));
    engine.namedHosts.place(twin, ip("2001:2::7"));
    for (Address* host : { &odd, &six, &dual, &twin })
        startRequest(engine, *host);

    ReplyInfo good;
    EXPECT_EQ(applyReply(ip("10.0.0.8"), engine, good), ReplyMatch::Applied);
    EXPECT_EQ(odd.getRepliesMatched(), 1u);
    EXPECT_EQ(applyReply(ip("2001:2::a"), engine, good), ReplyMatch::Applied);
    EXPECT_EQ(six.getRepliesMatched(), 1u);
    EXPECT_EQ(applyReply(ip("2001:2::7"), engine, good), ReplyMatch::Applied);
    EXPECT_EQ(twin.getRepliesMatched(), 1u);
    EXPECT_EQ(dual.getRepliesMatched(), 0u) << "the IPv6 reply answered the IPv4 host";
    EXPECT_EQ(applyReply(ip("198.18.0.7"), engine, good), ReplyMatch::Applied);
    EXPECT_EQ(dual.getRepliesMatched(), 1u);
}
