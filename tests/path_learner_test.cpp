#include "run/path_learner.h"
#include "support/addresses.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>

namespace bv {

namespace {

using platform::IpAddress;
using test::ip;

// monitor - r1 - r2 - network A (198.18.2.0/24)
//                r2 - r3 - network B (198.18.3.0/24); 198.18.0.9 on the monitor's own network.
const IpAddress r1 = ip("198.18.0.1");
const IpAddress r2 = ip("198.18.1.2");
const IpAddress r3 = ip("198.18.1.3");

std::vector<IpAddress> routersTo(const IpAddress& host)
{
    if (host.bytes[2] == 2)
        return { r1, r2 };
    if (host.bytes[2] == 3)
        return { r1, r2, r3 };
    return {};
}

// Runs the learner for `seconds` of the fake time with 10 requests a second,
// answering each probe as the network above would, or not when `answers`
// says no.
struct Simulation {
    PathLearner learner;
    std::int64_t now = 0;
    std::uint64_t requests = 0;
    std::function<bool(const IpAddress& router)> answers = [](const IpAddress&) { return true; };
    std::function<bool(const IpAddress& host)> hostAnswers = [](const IpAddress&) { return true; };
    std::uint64_t mostOverShare = 0;

    explicit Simulation(PathLearner::Settings settings = {}) : learner(settings) {}

    void run(int seconds)
    {
        for (int step = 0; step < seconds * 10; ++step) {
            now += 100;
            ++requests;
            while (auto probe = learner.nextProbe(now, requests)) {
                const std::vector<IpAddress> routers = routersTo(probe->destination);
                if (probe->hopLimit <= static_cast<int>(routers.size())) {
                    const IpAddress& router = routers[static_cast<std::size_t>(probe->hopLimit - 1)];
                    if (answers(router))
                        learner.answered(probe->token, router, false, now);
                } else if (hostAnswers(probe->destination)) {
                    learner.answered(probe->token, probe->destination, true, now);
                }
            }
            const std::uint64_t share = 4 + requests * 4 / 100;
            mostOverShare = std::max(mostOverShare, learner.probesSent() > share ? learner.probesSent() - share : 0);
        }
    }
};

std::vector<std::optional<IpAddress>> hops(std::initializer_list<std::optional<IpAddress>> list) { return list; }

}  // namespace

TEST(PathLearner, LearnsEachPathWithFewProbesBackwardsFromTheHost)
{
    Simulation simulation;
    const std::vector<std::pair<std::string, IpAddress>> hosts { { "a1", ip("198.18.2.10") },
        { "a2", ip("198.18.2.11") }, { "b1", ip("198.18.3.10") }, { "own", ip("198.18.0.9") } };
    simulation.learner.setHosts(hosts, 0);
    // Replies came with 64 less the routers on the way.
    simulation.learner.replyTimeToLive("a1", 62);
    simulation.learner.replyTimeToLive("a2", 62);
    simulation.learner.replyTimeToLive("b1", 61);
    simulation.learner.replyTimeToLive("own", 64);
    simulation.run(60);

    ASSERT_TRUE(simulation.learner.pathOf("a1"));
    EXPECT_EQ(simulation.learner.pathOf("a1")->routers, hops({ r1, r2 }));
    EXPECT_TRUE(simulation.learner.pathOf("a1")->reachedHost);
    ASSERT_TRUE(simulation.learner.pathOf("a2"));
    EXPECT_EQ(simulation.learner.pathOf("a2")->routers, hops({ r1, r2 }));
    ASSERT_TRUE(simulation.learner.pathOf("b1"));
    EXPECT_EQ(simulation.learner.pathOf("b1")->routers, hops({ r1, r2, r3 }));
    ASSERT_TRUE(simulation.learner.pathOf("own"));
    EXPECT_TRUE(simulation.learner.pathOf("own")->routers.empty());
    // a2 shares a1's network; b1 stops at r2, which a1's path has at hop 2
    // (or a1 stops at b1's): four probes in all, whichever went first.
    EXPECT_EQ(simulation.learner.probesSent(), 4u);
    EXPECT_EQ(simulation.mostOverShare, 0u);

    // A host of a learnt network takes its path at once, though the share
    // allows no probe now: it costs none.
    simulation.learner.setHosts({ hosts[0], { "a3", ip("198.18.2.12") } }, simulation.now);
    simulation.learner.replyTimeToLive("a3", 62);
    EXPECT_FALSE(simulation.learner.nextProbe(simulation.now, 0));
    ASSERT_TRUE(simulation.learner.pathOf("a3"));
    EXPECT_EQ(simulation.learner.pathOf("a3")->routers, hops({ r1, r2 }));
}

TEST(PathLearner, GetsPastRateLimitedRoutersAndLearnsSilentHostsForwards)
{
    PathLearner::Settings settings;
    settings.share = 0.04;
    Simulation simulation(settings);
    // r2 answers every other probe only, as a router's rate limit would.
    int asked = 0;
    simulation.answers = [&asked](const IpAddress& router) { return router != r2 || ++asked % 2 == 0; };
    // b1 never answers: no distance; it is learnt forwards and ends after
    // three silent hops beyond r3.
    simulation.hostAnswers = [](const IpAddress& host) { return host != ip("198.18.3.10"); };
    simulation.learner.setHosts({ { "a1", ip("198.18.2.10") }, { "b1", ip("198.18.3.10") } }, 0);
    simulation.learner.replyTimeToLive("a1", 62);
    simulation.run(40);
    ASSERT_TRUE(simulation.learner.pathOf("a1"));
    EXPECT_EQ(simulation.learner.pathOf("a1")->routers, hops({ r1, r2 }));
    EXPECT_FALSE(simulation.learner.pathOf("b1")) << "learnt forwards only after 30 s, then slowly";
    simulation.run(120);
    ASSERT_TRUE(simulation.learner.pathOf("b1"));
    EXPECT_EQ(simulation.learner.pathOf("b1")->routers, hops({ r1, r2, r3 }));
    EXPECT_FALSE(simulation.learner.pathOf("b1")->reachedHost);
    EXPECT_EQ(simulation.mostOverShare, 0u);

    // An hour on, the paths are learnt again; a reload keeps the kept
    // host's path and forgets the removed one's.
    const std::int64_t learnt = simulation.learner.pathOf("a1")->learnedAt;
    simulation.run(3700);
    EXPECT_GT(simulation.learner.pathOf("a1")->learnedAt, learnt);
    simulation.learner.setHosts({ { "a1", ip("198.18.2.10") } }, simulation.now);
    EXPECT_TRUE(simulation.learner.pathOf("a1"));
    EXPECT_FALSE(simulation.learner.pathOf("b1"));
    // Replies from farther away: the path changed and is learnt again.
    const std::uint64_t before = simulation.learner.probesSent();
    simulation.learner.replyTimeToLive("a1", 61);
    simulation.run(20);
    EXPECT_GT(simulation.learner.probesSent(), before);
}

TEST(PathLearner, HopsAwayFromTheReplysTimeToLive)
{
    EXPECT_EQ(hopsAway(64), 1);
    EXPECT_EQ(hopsAway(61), 4);
    EXPECT_EQ(hopsAway(128), 1);
    EXPECT_EQ(hopsAway(120), 9);
    EXPECT_EQ(hopsAway(255), 1);
    EXPECT_EQ(hopsAway(250), 6);
    EXPECT_FALSE(hopsAway(0));
    EXPECT_FALSE(hopsAway(256));
}

}  // namespace bv
