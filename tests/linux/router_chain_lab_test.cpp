// The chain of routers that the path watch meets for real: its hosts answer
// from behind their routers, each router says where a time to live ran out,
// each cut silences what lies behind it and each restore brings it back, and
// r1 counts the monitor's probes apart from its ordinary requests.

#include "support/network_lab.h"
#include "support/router_chain_lab.h"
#include "support/shell_quoted.h"
#include "support/wait_for.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

using namespace bv;

namespace {

using namespace std::chrono_literals;

// Long enough for a neighbour to be found again after a link came back.
constexpr auto limit = 15s;

class RouterChainLabTest : public testing::Test {
protected:
    void SetUp() override
    {
        const std::string reason = labUnavailableReason();
        if (!reason.empty())
            GTEST_SKIP() << reason;
        if (std::system("command -v ping >/dev/null") != 0)
            GTEST_SKIP() << "needs ping (Debian's iputils-ping package)";
        lab_ = std::make_unique<RouterChainLab>();
        ASSERT_EQ(lab_->failure(), "");
    }

    // One echo request from the monitor, at `ttl` when it is not 0, and all
    // ping said about it within `wait` seconds. In the lab, answers take
    // well under a millisecond.
    std::string ping(const std::string& address, int ttl = 0, const char* wait = "1")
    {
        std::vector<std::string> command { "ping", "-n", "-c", "1", "-W", wait };
        if (ttl != 0)
            command.insert(command.end(), { "-t", std::to_string(ttl) });
        command.push_back(address);
        std::string line;
        for (const std::string& word : lab_->inMonitorNamespace(command))
            line += shellQuoted(word) + " ";
        FILE* pipe = popen((line + "2>&1").c_str(), "r");
        if (!pipe)
            return "popen failed";
        std::string output;
        char buffer[512];
        while (std::fgets(buffer, sizeof buffer, pipe))
            output += buffer;
        pclose(pipe);
        last_ = output;
        return output;
    }

    // An echo reply with the TTL that `hops` routers on the way back leave.
    bool answers(const std::string& address, int hops)
    {
        const std::string text = ping(address);
        return text.find("bytes from " + address + ": icmp_seq=1 ttl=" + std::to_string(64 - hops) + " ")
            != std::string::npos;
    }

    // No echo reply; a router before it may say it is unreachable.
    bool silent(const std::string& address) { return ping(address, 0, "0.3").find("bytes from") == std::string::npos; }

    bool timeExceededFrom(const std::string& address, int ttl, const std::string& router)
    {
        const bool v6 = address.find(':') != std::string::npos;
        const std::string text = ping(address, ttl);
        return text.find("From " + router + " icmp_seq=1 " + (v6 ? "Time exceeded: Hop limit" : "Time to live exceeded"))
            != std::string::npos;
    }

    void expectAnswers(const std::string& address, int hops)
    {
        EXPECT_TRUE(waitFor([&] { return answers(address, hops); }, limit)) << address << ":\n" << last_;
    }

    void expectSilent(const std::string& address)
    {
        EXPECT_TRUE(waitFor([&] { return silent(address); }, limit)) << address << ":\n" << last_;
    }

    std::unique_ptr<RouterChainLab> lab_;
    std::string last_;
};

}  // namespace

TEST_F(RouterChainLabTest, HostsAnswerFromBehindTheirRoutersAndEachRouterSaysWhereTheTimeToLiveRanOut)
{
    using namespace chain_lab;
    expectAnswers(r1_4, 0);
    expectAnswers(r1_6, 0);
    expectAnswers(r2_4, 1);
    expectAnswers(r2_6, 1);
    expectAnswers(r3_4, 2);
    expectAnswers(r3_6, 2);
    // Every address of the far networks answers, in both of their /24s and /64s.
    for (const char* host : { hostA4, hostA6, "198.19.41.200", "2001:2:0:41::7" })
        expectAnswers(host, hopsToA - 1);
    for (const char* host : { hostB4, hostB6, "198.19.51.3", "2001:2:0:51::3" })
        expectAnswers(host, hopsToB - 1);

    const char* routers4[] = { r1_4, r2_4, r3_4 };
    const char* routers6[] = { r1_6, r2_6, r3_6 };
    for (int ttl = 1; ttl <= 3; ++ttl) {
        EXPECT_TRUE(waitFor([&] { return timeExceededFrom(hostB4, ttl, routers4[ttl - 1]); }, limit))
            << "ttl " << ttl << ":\n" << last_;
        EXPECT_TRUE(waitFor([&] { return timeExceededFrom(hostB6, ttl, routers6[ttl - 1]); }, limit))
            << "hop limit " << ttl << ":\n" << last_;
    }
    // A's hosts are one hop nearer: at 3 the request arrives.
    EXPECT_TRUE(waitFor([&] { return ping(hostA4, hopsToA).find("bytes from " + std::string(hostA4)) != std::string::npos; }, limit))
        << last_;
}

TEST_F(RouterChainLabTest, EachCutSilencesWhatLiesBehindItAndEachRestoreBringsItBack)
{
    using namespace chain_lab;
    ASSERT_TRUE(lab_->cutFarB());
    expectSilent(hostB4);
    expectSilent(hostB6);
    expectAnswers(r3_4, 2);
    expectAnswers(r3_6, 2);
    expectAnswers(hostA4, hopsToA - 1);
    ASSERT_TRUE(lab_->restoreFarB());
    expectAnswers(hostB4, hopsToB - 1);
    expectAnswers(hostB6, hopsToB - 1);

    ASSERT_TRUE(lab_->downR2());
    for (const char* address : { hostA4, hostA6, hostB4, hostB6, r2_4, r2_6, r3_4, r3_6 })
        expectSilent(address);
    expectAnswers(r1_4, 0);
    expectAnswers(r1_6, 0);
    ASSERT_TRUE(lab_->upR2());
    for (const char* address : { r2_4, r2_6 })
        expectAnswers(address, 1);
    for (const char* address : { r3_4, r3_6, hostA4, hostA6 })
        expectAnswers(address, 2);
    expectAnswers(hostB4, hopsToB - 1);
    expectAnswers(hostB6, hopsToB - 1);

    ASSERT_TRUE(lab_->cutOwn());
    for (const char* address : { r1_4, r1_6, hostA4, hostA6 })
        expectSilent(address);
    ASSERT_TRUE(lab_->restoreOwn());
    expectAnswers(r1_4, 0);
    expectAnswers(r1_6, 0);
    expectAnswers(hostA4, hopsToA - 1);
    expectAnswers(hostB6, hopsToB - 1);
}

TEST_F(RouterChainLabTest, R1CountsTheMonitorsProbesApartFromItsRequests)
{
    using namespace chain_lab;
    EXPECT_FALSE(lab_->captureCount()) << "a count before the capture started";
    // Before the capture: not counted.
    expectAnswers(hostA4, hopsToA - 1);
    ASSERT_TRUE(lab_->captureStart());
    const auto none = lab_->captureCount();
    ASSERT_TRUE(none);
    EXPECT_EQ(none->probes, 0);
    EXPECT_EQ(none->requests, 0);

    // Each request is answered once, so each passed r1 once: the counts are exact.
    EXPECT_TRUE(timeExceededFrom(hostB4, 2, r2_4)) << last_;
    EXPECT_NE(ping(hostB6, 8).find("bytes from"), std::string::npos) << last_;
    EXPECT_NE(ping(hostA6, 9).find("bytes from"), std::string::npos) << last_;
    EXPECT_NE(ping(hostA4, 20).find("bytes from"), std::string::npos) << last_;
    EXPECT_TRUE(answers(hostB4, hopsToB - 1)) << last_;
    const auto counted = lab_->captureCount();
    ASSERT_TRUE(counted);
    EXPECT_EQ(counted->probes, 2);
    EXPECT_EQ(counted->requests, 3);

    // Started again, from zero.
    ASSERT_TRUE(lab_->captureStart());
    const auto again = lab_->captureCount();
    ASSERT_TRUE(again);
    EXPECT_EQ(again->probes + again->requests, 0);
}
