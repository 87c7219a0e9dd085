#include "core/outage_groups.h"
#include "support/addresses.h"

#include <gtest/gtest.h>

namespace bv {

using platform::IpAddress;
using test::ip;

TEST(OutageGroups, HostsAreGroupedBehindTheirLastAnsweringHop)
{
    const IpAddress r1 = ip("198.18.0.1");
    const IpAddress r2 = ip("198.18.1.2");
    const IpAddress r3 = ip("198.18.3.1");
    const IpAddress r4 = ip("198.18.4.1");
    const HostPath far { { r1, r2, r3, r4 }, true, 0 };
    const HostPath farWithASilentHop { { r1, r2, r3, std::nullopt }, true, 0 };
    const HostPath near { { r1, r2 }, true, 0 };
    std::vector<RedHostOnPath> hosts;
    for (int each = 0; each < 12; ++each)
        hosts.push_back({ "f" + std::to_string(each), "far-" + std::to_string(each), far });
    hosts.push_back({ "s", "silent-hop", farWithASilentHop });
    hosts.push_back({ "n1", "near-1", near });
    hosts.push_back({ "n2", "near-2", near });
    hosts.push_back({ "own", "own-network", HostPath { {}, true, 0 } });
    hosts.push_back({ "alone", "alone", HostPath { { r1, ip("198.18.9.1") }, true, 0 } });

    // r4 is down; r1 to r3 answer; 198.18.9.1 was not checked.
    const auto answers = [&](const IpAddress& router) -> std::optional<bool> {
        if (router == r4)
            return false;
        if (router == r1 || router == r2 || router == r3)
            return true;
        return std::nullopt;
    };
    const std::vector<OutageGroup> groups = groupOutages(hosts, answers);
    ASSERT_EQ(groups.size(), 2u);
    EXPECT_EQ(outageGroupText(groups[0]),
        "12 hosts down behind 198.18.3.1 (hop 3, the last that answers; 198.18.4.1 after it is silent): "
        "far-0, far-1, far-2 and 9 others");
    // The near hosts' last router answers: the fault is beyond it, no router named after it.
    EXPECT_EQ(outageGroupText(groups[1]), "2 hosts down behind 198.18.1.2 (hop 2, the last that answers): near-1, near-2");
    // silent-hop has r3 last too but nothing known after it: a group of one, not shown;
    // alone is behind r1 alone.
    for (const OutageGroup& group : groups)
        for (const std::string& key : group.keys)
            EXPECT_TRUE(key != "s" && key != "own" && key != "alone") << key;

    // Nothing answers: no group (the monitor's own link is suspect).
    EXPECT_TRUE(groupOutages(hosts, [](const IpAddress&) { return std::optional<bool>(false); }).empty());
}

}  // namespace bv
