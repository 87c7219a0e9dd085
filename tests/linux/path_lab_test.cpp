// Where it broke, for real: the monitor in the chain of routers learns each
// host's path, says behind which router hosts went down when a link is cut
// or a router goes, says when this machine's own link is down instead of
// naming every host, keeps its probes a small share of its requests, and
// takes no other copy's answers for its own.

#include "support/program_run.h"
#include "support/network_lab.h"
#include "support/router_chain_lab.h"
#include "support/test_environment.h"
#include "support/wait_for.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <memory>
#include <thread>

using namespace bv;
using namespace std::chrono_literals;
namespace lab = bv::chain_lab;

namespace {

// Two /24s in each far network (198.19.40 and .41, .50 and .51), so that
// hosts share paths.
std::string hostList(const char* prefixA, const char* prefixB, int each)
{
    std::string list;
    for (int index = 0; index < each; ++index) {
        const std::string number = std::to_string(10 + index);
        list += "a" + number + " " + prefixA + (index % 2 ? "1." : "0.") + number + " network A\n";
        list += "b" + number + " " + prefixB + (index % 2 ? "1." : "0.") + number + " network B\n";
    }
    return list;
}

class PathLab : public testing::Test {
protected:
    void SetUp() override
    {
        const std::string reason = labUnavailableReason();
        if (!reason.empty())
            GTEST_SKIP() << reason;
        lab_ = std::make_unique<RouterChainLab>();
        ASSERT_EQ(lab_->failure(), "");
    }

    std::unique_ptr<ProgramRun> start(const TemporaryDirectory& directory, const std::string& hosts, const std::string& port)
    {
        writeFile(directory.file("hosts.txt"), hosts);
        return std::make_unique<ProgramRun>(directory.path(),
            lab_->inMonitorNamespace({ BV_HEADLESS_PROGRAM, "-in", "hosts.txt", "-pt", "5000", "-metrics",
                "127.0.0.1:" + port }));
    }

    // What the program's server answers at the path, from inside the lab.
    std::string get(const std::string& port, const std::string& path)
    {
        ProgramRun curl(directory_.path(),
            lab_->inMonitorNamespace({ "curl", "-sS", "--max-time", "3", "http://127.0.0.1:" + port + path }));
        curl.waitForExit(5s);
        return curl.output();
    }

    // The routers of the host's learnt path as texts, "*" for a silent hop;
    // empty before it is learnt.
    std::vector<std::string> pathOf(const std::string& port, const std::string& key)
    {
        const auto history = nlohmann::json::parse(get(port, "/api/v1/hosts/" + key + "/history"), nullptr, false);
        std::vector<std::string> routers;
        if (history.is_discarded() || !history.contains("path") || history["path"].is_null())
            return routers;
        for (const auto& router : history["path"]["routers"])
            routers.push_back(router.is_null() ? "*" : router.get<std::string>());
        return routers;
    }

    std::unique_ptr<RouterChainLab> lab_;
    TemporaryDirectory directory_;
    TemporaryDirectory otherDirectory_;
};

}  // namespace

TEST_F(PathLab, SaysBehindWhichHopHostsWentDownAndWhenThisMachinesLinkIsDown)
{
    ASSERT_TRUE(lab_->captureStart());
    const auto started = std::chrono::steady_clock::now();
    // IPv4 hosts in both networks, and IPv6 ones in B, whose paths are kept apart.
    const std::string hosts = hostList("198.19.4", "198.19.5", 10) + "v6b1 2001:2:0:50::10\nv6b2 2001:2:0:51::11\n";
    auto run = start(directory_, hosts, "9201");
    // Another copy beside it, on network A alone.
    auto other = start(otherDirectory_, "x1 198.19.40.30 network A\nx2 198.19.41.31 network A\n", "9202");

    const std::vector<std::string> toA { lab::r1_4, lab::r2_4 };
    const std::vector<std::string> toB { lab::r1_4, lab::r2_4, lab::r3_4 };
    const std::vector<std::string> toB6 { lab::r1_6, lab::r2_6, lab::r3_6 };
    EXPECT_TRUE(waitFor([&] { return pathOf("9201", "198.19.50.10") == toB && pathOf("9201", "198.19.41.11") == toA
                                  && pathOf("9201", "2001:2:0:51::11") == toB6; },
        90s))
        << get("9201", "/api/v1/hosts/198.19.50.10/history");
    EXPECT_TRUE(waitFor([&] { return pathOf("9202", "198.19.40.30") == toA; }, 30s));

    // Learning is done: the probes of both copies against their requests of
    // the first two minutes, as r1 counted them (the learner may spend a few
    // probes before its share has grown).
    std::this_thread::sleep_until(started + 120s);
    const auto counted = lab_->captureCount();
    ASSERT_TRUE(counted);
    EXPECT_LT(counted->probes * 20, counted->requests) << counted->probes << " probes, " << counted->requests << " requests";
    std::printf("learning: %ld probes, %ld requests\n", counted->probes, counted->requests);

    // r3's own network goes: its hosts are behind r3 within 15 s of all of
    // them having turned red, r2's stay green.
    ASSERT_TRUE(lab_->cutFarB());
    ASSERT_TRUE(run->waitForOutputLines(" RED b1", 10, 45s)) << run->output();
    EXPECT_TRUE(run->waitForOutputLines(
        std::string("10 hosts down behind ") + lab::r3_4 + " (hop 3, the last that answers): b10, b11, b12 and 7 others", 1, 15s))
        << run->output();
    EXPECT_TRUE(run->waitForOutputLines(
        std::string("2 hosts down behind ") + lab::r3_6 + " (hop 3, the last that answers): v6b1, v6b2", 1, 15s));
    EXPECT_EQ(run->output().find(" RED a1"), std::string::npos) << "network A stays green";
    const std::string metrics = get("9201", "/metrics");
    EXPECT_NE(metrics.find(std::string("beaconvigilor_hosts_down_behind{hop=\"") + lab::r3_4 + "\"} 10"), std::string::npos)
        << metrics;
    EXPECT_NE(metrics.find("beaconvigilor_own_link_up 1"), std::string::npos);
    ASSERT_TRUE(lab_->restoreFarB());
    EXPECT_TRUE(run->waitForOutputLines(std::string("No longer down behind ") + lab::r3_4 + " (hop 3)", 1, 45s));

    // The other copy, probing beside it from the same start, took none of
    // its answers: its path is right, and it saw nothing down.
    EXPECT_EQ(pathOf("9202", "198.19.40.30"), toA);
    EXPECT_EQ(other->output().find("down behind"), std::string::npos) << other->output();
    other.reset();

    // r2 goes: both far networks are behind r1, and r2 is named after it.
    ASSERT_TRUE(lab_->downR2());
    ASSERT_TRUE(run->waitForOutputLines(" RED a1", 10, 45s)) << run->output();
    EXPECT_TRUE(run->waitForOutputLines(std::string("20 hosts down behind ") + lab::r1_4
            + " (hop 1, the last that answers; " + lab::r2_4 + " after it is silent): a10, b10, a11 and 17 others",
        1, 15s))
        << run->output();
    ASSERT_TRUE(lab_->upR2());
    EXPECT_TRUE(run->waitForOutputLines(std::string("No longer down behind ") + lab::r1_4 + " (hop 1)", 1, 60s));
    ASSERT_TRUE(run->waitForOutputLines(" GREEN a1", 10, 30s)) << run->output();
    EXPECT_EQ(run->output().find(std::string("down behind ") + lab::r2_4), std::string::npos)
        << "not behind r2 while its hosts had yet to answer";

    // This machine's own link: that one line, and no group.
    ASSERT_TRUE(lab_->cutOwn());
    EXPECT_TRUE(run->waitForOutputLines(
        std::string("This machine's network is down: its gateway ") + lab::r1_4 + " does not answer", 1, 45s))
        << run->output();
    ASSERT_TRUE(lab_->restoreOwn());
    EXPECT_TRUE(run->waitForOutputLines(
        std::string("This machine's network is back: its gateway ") + lab::r1_4 + " answers", 1, 30s));
    const std::string output = run->output();
    const std::size_t down = output.find("This machine's network is down");
    const std::size_t back = output.find("This machine's network is back");
    ASSERT_NE(down, std::string::npos);
    EXPECT_EQ(output.substr(down, back - down).find("hosts down behind"), std::string::npos)
        << "no group while the own link was down";
}
