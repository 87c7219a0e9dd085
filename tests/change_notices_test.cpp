#include "shell/common/change_notices.h"

#include "support/addresses.h"
#include "support/fake_clock_run.h"

#include <gtest/gtest.h>

using namespace bv;

namespace {

RunSettings eightInFlight()
{
    RunSettings settings;
    settings.maxInFlight = 8;
    return settings;
}

class ChangeNoticesTest : public FakeClockRun {
protected:
    ChangeNoticesTest()
        : FakeClockRun("h1 10.0.0.1\nh2 10.0.0.2\nh3 10.0.0.3\nh4 10.0.0.4\nh5 10.0.0.5\nh6 10.0.0.6\nh7 10.0.0.7\n",
            1108980907, eightInFlight())
    {
    }

    // A whole sweep pass with the log writer's batch in between, as the
    // run's threads make them.
    void passAndLog()
    {
        network().sweepPass();
        ASSERT_EQ(network().writeLogBatch(), TextWrite::Written);
    }

    std::vector<ChangeNotice> shown;
    ChangeNotices notices { [this](const ChangeNotice& notice) { shown.push_back(notice); } };
    ListenerRegistration registration { notices };
};

}  // namespace

TEST(ChangeNoticeText, NamesFiveAtMostAndCountsTheOthers)
{
    EXPECT_EQ(changeNoticeText({}, {}), "");
    EXPECT_EQ(changeNoticeText({ "db1" }, {}), "1 host down: db1");
    EXPECT_EQ(changeNoticeText({ "db1", "db2", "web4" }, {}), "3 hosts down: db1, db2, web4");
    EXPECT_EQ(changeNoticeText({ "a", "b", "c", "d", "e", "f" }, { "m" }),
        "6 hosts down: a, b, c, d, e and 1 other\n1 host back up: m");
    EXPECT_EQ(changeNoticeText({}, { "a", "b", "c", "d", "e", "f", "g" }),
        "7 hosts back up: a, b, c, d, e and 2 others");
}

TEST_F(ChangeNoticesTest, ManyTurnsInOnePassMakeOneNoticeAndOffDropsThem)
{
    for (std::size_t position = 0; position < network().hostCount(); ++position) {
        host(position).setStatus(HostStatus::Yellow);
        send(host(position));
    }
    clock.advance(10);
    passAndLog();  // all seven turn red and reach the log
    EXPECT_TRUE(shown.empty()) << "a notice before its pass ended";
    network().sweepPass();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].title, "BeaconVigilor");
    EXPECT_EQ(shown[0].text, "7 hosts down: h1, h2, h3, h4, h5 and 2 others");
    network().sweepPass();
    EXPECT_EQ(shown.size(), 1u) << "still-red hosts are no news";

    // One comes back: its GREEN line is the news.
    send(host(2));
    host(2).setPingState(host(2).recordResult(PingResult { {}, "", 1 }));
    passAndLog();
    network().sweepPass();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[1].text, "1 host back up: h3");

    // Turned off, what is logged in the meantime is not saved for later.
    notices.setEnabled(false);
    send(host(3));
    host(3).setPingState(host(3).recordResult(PingResult { {}, "", 1 }));
    passAndLog();
    notices.setEnabled(true);
    network().sweepPass();
    EXPECT_EQ(shown.size(), 2u);
}

TEST_F(ChangeNoticesTest, HostsFoundBehindOneHopMakeItsNoticeAndTheOwnLinkHoldsTheRest)
{
    notices.runStarted(RunDescription { 7, 5000, "out.txt", "down.txt", true });
    for (std::size_t position = 0; position < 3; ++position) {
        host(position).setStatus(HostStatus::Yellow);
        send(host(position));
    }
    clock.advance(10);
    passAndLog();  // h1 to h3 turn red
    network().sweepPass();
    EXPECT_TRUE(shown.empty()) << "the turns to red wait for the path watch";

    // h1 and h2 are behind one hop; h3 is in no group.
    const OutageGroup group { bv::test::ip("198.18.3.1"), 3, bv::test::ip("198.18.4.1"), { host(0).getKey(), host(1).getKey() },
        { "h1", "h2" } };
    notices.outageGroupFound(group);
    notices.outagesLocated({ host(0).getKey(), host(1).getKey(), host(2).getKey() });
    network().sweepPass();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].text, "2 hosts down behind 198.18.3.1 (hop 3, the last that answers; 198.18.4.1 after it is silent): h1, h2");
    EXPECT_EQ(shown[1].text, "1 host down: h3");

    // Without a verdict a turn to red waits a few passes, no more.
    host(3).setStatus(HostStatus::Yellow);
    send(host(3));
    clock.advance(10);
    passAndLog();
    for (int pass = 0; pass < ChangeNotices::kPassesHeld; ++pass)
        network().sweepPass();
    ASSERT_EQ(shown.size(), 3u);
    EXPECT_EQ(shown[2].text, "1 host down: h4");

    // This machine's link: its notice, and the hosts' wait until it is back.
    notices.ownLinkChanged(OwnLink { false, bv::test::ip("198.18.0.1"), false });
    host(4).setStatus(HostStatus::Yellow);
    send(host(4));
    clock.advance(10);
    passAndLog();
    for (int pass = 0; pass < 2 * ChangeNotices::kPassesHeld; ++pass)
        network().sweepPass();
    ASSERT_EQ(shown.size(), 4u);
    EXPECT_EQ(shown[3].text, "This machine's network is down: its gateway 198.18.0.1 does not answer");
    notices.ownLinkChanged(OwnLink { true, bv::test::ip("198.18.0.1"), false });
    notices.outagesLocated({ host(4).getKey() });
    network().sweepPass();
    ASSERT_EQ(shown.size(), 6u);
    EXPECT_EQ(shown[4].text, "This machine's network is back: its gateway 198.18.0.1 answers");
    EXPECT_EQ(shown[5].text, "1 host down: h5");
}
