#include "run/path_watch.h"
#include "support/addresses.h"

#include <gtest/gtest.h>

#include <deque>
#include <map>

namespace bv {

namespace {

using platform::IpAddress;
using test::ip;

// monitor -link0- r1 -link1- r2 -linkA- network A (3 hosts)
//                            r2 -link2- r3 -linkB- network B (3 hosts)
const IpAddress r1 = ip("198.18.0.1");
const IpAddress r2 = ip("198.18.1.2");
const IpAddress r3 = ip("198.18.2.3");

struct LabNetwork final : ProbeChannel {
    bool link0 = true, link1 = true, link2 = true, linkA = true, linkB = true;
    std::deque<PathProber::Answer> waiting;
    std::uint64_t sent = 0;

    static bool inA(const IpAddress& address) { return address.bytes[2] == 10; }
    static bool inB(const IpAddress& address) { return address.bytes[2] == 11; }

    // The nodes on the way, the destination last, each with whether the link to it is up.
    std::vector<std::pair<IpAddress, bool>> way(const IpAddress& to) const
    {
        std::vector<std::pair<IpAddress, bool>> nodes { { r1, link0 } };
        if (to == r1)
            return nodes;
        nodes.emplace_back(r2, link1);
        if (to == r2 || inA(to)) {
            if (inA(to))
                nodes.emplace_back(to, linkA);
            return nodes;
        }
        nodes.emplace_back(r3, link2);
        if (inB(to))
            nodes.emplace_back(to, linkB);
        return nodes;
    }
    bool reachable(const IpAddress& to) const
    {
        for (const auto& [node, up] : way(to))
            if (!up)
                return false;
        return true;
    }
    bool takeCount() override { return true; }
    void giveBackCount() override {}
    void send(const IpAddress& destination, int hopLimit, std::uint16_t sequence) override
    {
        ++sent;
        const auto nodes = way(destination);
        for (std::size_t at = 0; at < nodes.size(); ++at) {
            if (!nodes[at].second)
                return;  // lost on a dead link
            const bool last = at + 1 == nodes.size();
            if (last) {
                waiting.push_back({ sequence, destination, destination, false });
                return;
            }
            if (static_cast<int>(at + 1) == hopLimit) {
                waiting.push_back({ sequence, nodes[at].first, destination, true });
                return;
            }
        }
    }
    std::vector<PathProber::Answer> receive(unsigned) override
    {
        std::vector<PathProber::Answer> answers(waiting.begin(), waiting.end());
        waiting.clear();
        return answers;
    }
    bool hasRoute(const IpAddress&) override { return true; }
};

// As the run sets it for hosts pinged every 5 s.
PathWatch::Settings everyFiveSeconds()
{
    PathWatch::Settings settings;
    settings.passesAtOnce = 7;
    return settings;
}

class PathWatchLab : public testing::Test {
protected:
    PathWatchLab()
    {
        for (int each = 0; each < 3; ++each) {
            hosts.push_back({ "a" + std::to_string(each), "a" + std::to_string(each),
                ip("198.18.10." + std::to_string(10 + each)) });
            hosts.push_back({ "b" + std::to_string(each), "b" + std::to_string(each),
                ip("198.18.11." + std::to_string(10 + each)) });
        }
    }

    // Ten steps a second and a pass each second; hosts are red while they
    // cannot be reached. What was reported in that time.
    PathWatch::Report run(int seconds)
    {
        PathWatch::Report all;
        for (int tenth = 0; tenth < seconds * 10; ++tenth) {
            now += 100;
            requests += 1;
            if (now % 1000 == 0) {
                for (WatchedHost& host : hosts) {
                    const auto from = redFrom.find(host.key);
                    const auto until = redUntil.find(host.key);
                    host.red = (!network.reachable(host.address) && (from == redFrom.end() || now >= from->second))
                        || (until != redUntil.end() && now < until->second);
                    if (!host.red)
                        host.timeToLive = 65 - static_cast<int>(network.way(host.address).size());
                }
                watch.passDone(hosts, now);
            }
            watch.step(now, requests, 0);
            PathWatch::Report report = watch.takeReport();
            all.found.insert(all.found.end(), report.found.begin(), report.found.end());
            all.ended.insert(all.ended.end(), report.ended.begin(), report.ended.end());
            if (report.ownLink)
                all.ownLink = report.ownLink;
        }
        return all;
    }

    LabNetwork network;
    std::vector<WatchedHost> hosts;
    std::map<std::string, std::int64_t> redFrom;   // hosts that turn red late, and when
    std::map<std::string, std::int64_t> redUntil;  // hosts that answer late, and when
    PathWatch watch { network, everyFiveSeconds() };
    std::int64_t now = 0;
    std::uint64_t requests = 0;
};

}  // namespace

TEST_F(PathWatchLab, SaysBehindWhichHopHostsWentDownAndWhenTheMonitorsOwnLinkIsDown)
{
    EXPECT_TRUE(run(60).empty());
    ASSERT_TRUE(watch.pathOf("b0"));
    EXPECT_EQ(watch.pathOf("b0")->routers, (std::vector<std::optional<IpAddress>> { r1, r2, r3 }));

    // r3's own network goes: its hosts are behind r3, within the checks' few seconds.
    network.linkB = false;
    PathWatch::Report report = run(5);
    ASSERT_EQ(report.found.size(), 1u);
    EXPECT_EQ(outageGroupText(report.found[0]), "3 hosts down behind 198.18.2.3 (hop 3, the last that answers): b0, b1, b2");
    network.linkB = true;
    report = run(3);
    ASSERT_EQ(report.ended.size(), 1u);
    EXPECT_TRUE(watch.groups().empty());

    // The hosts of one outage turn red over several passes: one notice for all.
    network.linkB = false;
    redFrom = { { "b0", now + 1000 }, { "b1", now + 3000 }, { "b2", now + 5000 } };
    report = run(12);
    ASSERT_EQ(report.found.size(), 1u);
    EXPECT_EQ(report.found[0].keys, (std::vector<std::string> { "b0", "b1", "b2" }));
    network.linkB = true;
    redFrom.clear();
    report = run(3);
    EXPECT_EQ(report.ended.size(), 1u);

    // r2 goes: both far networks behind r1, with r2 named after it.
    network.link1 = false;
    report = run(5);
    ASSERT_EQ(report.found.size(), 1u) << "all six hosts at once is most of them: the own link is checked first, and is up";
    EXPECT_EQ(outageGroupText(report.found[0]),
        "6 hosts down behind 198.18.0.1 (hop 1, the last that answers; 198.18.1.2 after it is silent): a0, b0, a1 and 3 others");
    EXPECT_FALSE(report.ownLink);
    // r2 is back some seconds before its hosts answer again (a recheck
    // comes meanwhile): they are not said to be behind r2 or r3, and their
    // group ends when they answer.
    network.link1 = true;
    for (const WatchedHost& host : hosts)
        redUntil[host.key] = now + 14000;
    report = run(16);
    EXPECT_TRUE(report.found.empty()) << outageGroupText(report.found[0]);
    EXPECT_EQ(report.ended.size(), 1u);
    EXPECT_TRUE(watch.groups().empty());
    redUntil.clear();

    // The monitor's own link: no group, the own link is down, and up again.
    // Each host fails at its own next request, spread over the interval
    // and the time-outs.
    for (std::size_t each = 0; each < hosts.size(); ++each)
        redFrom[hosts[each].key] = now + 1500 * static_cast<std::int64_t>(each);
    network.link0 = false;
    report = run(10);
    EXPECT_TRUE(report.found.empty());
    ASSERT_TRUE(report.ownLink);
    EXPECT_FALSE(report.ownLink->up);
    EXPECT_EQ(report.ownLink->gateway, r1);
    redFrom.clear();
    network.link0 = true;
    report = run(5);
    ASSERT_TRUE(report.ownLink);
    EXPECT_TRUE(report.ownLink->up);
    EXPECT_TRUE(watch.groups().empty());

    // Probes stayed a small share of the run's requests.
    EXPECT_LT(static_cast<double>(watch.probesSent()), 0.05 * static_cast<double>(requests) + 40);
}

}  // namespace bv
