#include "run/network.h"

#include "core/monitor_events.h"
#include "support/addresses.h"
#include "support/fake_clock_run.h"

#include <gtest/gtest.h>

#include <cstdio>

using namespace bv;

namespace {

constexpr CalendarTime kStart = 1108980907;

struct ReloadRecorder final : MonitorListener {
    void hostListReloaded(const HostListReload& reload) override { reloads.push_back(reload); }
    void addressRemoved(const Address& address) override { removed.push_back(address.getHostText()); }
    std::vector<HostListReload> reloads;
    std::vector<std::string> removed;
};

class HostListReloadTest : public FakeClockRun {
protected:
    HostListReloadTest() : FakeClockRun("a 10.0.0.1 up\nb 10.0.0.2 down\nc 10.0.0.3 asked\nd 10.0.0.4 down too\n", kStart)
    {
    }
    void SetUp() override { useUtcTimeZone(); }

    void rewrite(const std::string& lines) { writeFile(network().getInputFile(), lines); }

    ReloadRecorder recorder;
    ListenerRegistration registration { recorder };
};

}  // namespace

TEST_F(HostListReloadTest, StayingHostsKeepTheirStateLeavingOnesLeaveEverything)
{
    Address* b = &host(1);
    b->setStatus(HostStatus::Red);
    b->setDownSince(kStart - 300);
    b->setErrorText("Timed out");
    send(host(2));  // c's request is in flight and holds a count
    send(host(3));  // so is d's, and d is red
    host(3).setStatus(HostStatus::Red);
    // a has just come back, and the sweep has not yet queued its GREEN line.
    host(0).setStatus(HostStatus::Red);
    host(0).setPingState(host(0).recordResult(PingResult { {}, "", 1 }));
    ASSERT_EQ(network().writeDownFile(), TextWrite::Written);

    clock.advance(5);
    rewrite("b2 10.0.0.2 renamed\nlonely\nc 10.0.0.3 asked\nnew 10.0.0.9 added\n");
    network().reloadHostList();

    ASSERT_EQ(recorder.reloads.size(), 1u);
    const HostListReload& reload = recorder.reloads[0];
    EXPECT_EQ(reload.failure, "");
    EXPECT_EQ(reload.added, std::vector<std::string> { "10.0.0.9" });
    EXPECT_EQ(reload.removed, (std::vector<std::string> { "10.0.0.1", "10.0.0.4" }));
    EXPECT_EQ(recorder.removed, reload.removed);
    EXPECT_EQ(reload.kept, 2u);
    ASSERT_EQ(reload.badLines.size(), 1u);
    EXPECT_EQ(reload.badLines[0].rfind("Error parsing input file: unable to create address for lonely", 0), 0u)
        << reload.badLines[0];

    ASSERT_EQ(network().hostCount(), 3u);
    EXPECT_EQ(&host(0), b) << "the staying host keeps its record";
    EXPECT_EQ(b->getName(), "b2");
    EXPECT_EQ(b->getStatus(), HostStatus::Red);
    EXPECT_EQ(b->getDownSince(), kStart - 300);
    EXPECT_EQ(host(1).getPingState(), PingState::AwaitingReply);
    EXPECT_TRUE(host(1).getHoldsCount());
    EXPECT_EQ(host(2).getHostText(), "10.0.0.9");
    EXPECT_EQ(host(2).getSentAt(), clock.monotonicMilliseconds()) << "a new host waits its interval";
    EXPECT_EQ(network().findHost("10.0.0.4"), nullptr);

    // d's count came back: five free beside c's.
    int free = 0;
    while (free < 7 && network().pingSemaphore().tryWait() == platform::WaitResult::Signalled)
        ++free;
    EXPECT_EQ(free, 5);
    for (; free > 0; --free)
        ASSERT_TRUE(network().pingSemaphore().release());

    // a's return still reaches the log; d leaves the down file; b stays in it.
    ASSERT_EQ(network().writeLogBatch(), TextWrite::Written);
    EXPECT_NE(readFile(network().getLogFile()).find("\tGREEN\ta\t10.0.0.1\tup\t"), std::string::npos);
    ASSERT_EQ(network().writeDownFile(), TextWrite::Written);
    const std::string down = readFile(network().getDownFile());
    EXPECT_EQ(down.find("10.0.0.4"), std::string::npos) << down;
    EXPECT_NE(down.find("\tRED\tb2\t10.0.0.2\trenamed\t\tTimed out"), std::string::npos) << down;

    // b's return, when it comes, carries the whole outage.
    clock.advance(60);
    send(*b);
    b->setPingState(b->recordResult(PingResult { {}, "", 1 }));
    network().sweepPass();
    ASSERT_EQ(network().writeLogBatch(), TextWrite::Written);
    EXPECT_NE(readFile(network().getLogFile()).find("\tGREEN\tb2\t10.0.0.2\trenamed\t365.000000"), std::string::npos)
        << readFile(network().getLogFile());
}

// The sender reads a record's host text without the lock: another text of
// the same address comes as a new record, never as a change to the old one.
TEST_F(HostListReloadTest, AnotherTextOfTheSameAddressIsANewRecord)
{
    Address* a = &host(0);
    rewrite("a 10.0.0.01 up\nb 10.0.0.2 down\n");
    network().reloadHostList();
    ASSERT_EQ(recorder.reloads.size(), 1u);
    EXPECT_EQ(recorder.reloads[0].added, std::vector<std::string> { "10.0.0.01" });
    EXPECT_EQ(recorder.reloads[0].removed, (std::vector<std::string> { "10.0.0.1", "10.0.0.3", "10.0.0.4" }));
    ASSERT_EQ(network().hostCount(), 2u);
    EXPECT_NE(&host(0), a);
    EXPECT_EQ(host(0).getHostText(), "10.0.0.01");
    EXPECT_EQ(network().findHost(test::ip("10.0.0.1")), &host(0));
}

TEST_F(HostListReloadTest, UnreadableFileKeepsTheList)
{
    ASSERT_EQ(std::remove(network().getInputFile().c_str()), 0);
    network().reloadHostList();
    ASSERT_EQ(recorder.reloads.size(), 1u);
    // The system's reason follows; its words differ between systems.
    EXPECT_EQ(recorder.reloads[0].failure.rfind("Could not open input file: ", 0), 0u) << recorder.reloads[0].failure;
    EXPECT_GT(recorder.reloads[0].failure.size(), std::string("Could not open input file: ").size());
    EXPECT_EQ(network().hostCount(), 4u);
    EXPECT_TRUE(recorder.removed.empty());
}
