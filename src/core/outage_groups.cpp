#include "core/outage_groups.h"

#include <tuple>

namespace bv {

namespace {

constexpr std::size_t kNamesShown = 3;

std::string namesText(const std::vector<std::string>& names)
{
    std::string text;
    for (std::size_t at = 0; at < names.size() && at < kNamesShown; ++at)
        text += (at > 0 ? ", " : "") + names[at];
    if (names.size() > kNamesShown) {
        const std::size_t others = names.size() - kNamesShown;
        text += " and " + std::to_string(others) + (others == 1 ? " other" : " others");
    }
    return text;
}

}  // namespace

std::vector<OutageGroup> groupOutages(const std::vector<RedHostOnPath>& hosts,
    const std::function<std::optional<bool>(const platform::IpAddress&)>& answers)
{
    std::vector<OutageGroup> groups;
    for (const RedHostOnPath& host : hosts) {
        const auto& routers = host.path.routers;
        // The farthest router that answers: beyond it the way is broken.
        std::size_t last = routers.size();
        for (std::size_t at = routers.size(); at-- > 0;) {
            if (routers[at] && answers(*routers[at]).value_or(false)) {
                last = at;
                break;
            }
        }
        if (last == routers.size())
            continue;
        std::optional<platform::IpAddress> after;
        for (std::size_t at = last + 1; at < routers.size() && !after; ++at)
            after = routers[at];
        const int hop = static_cast<int>(last + 1);
        OutageGroup* group = nullptr;
        for (OutageGroup& known : groups)
            if (known.lastAnswering == *routers[last] && known.hop == hop && known.after == after)
                group = &known;
        if (!group)
            group = &groups.emplace_back(OutageGroup { *routers[last], hop, after, {}, {} });
        group->keys.push_back(host.key);
        group->names.push_back(host.name);
    }
    std::erase_if(groups, [](const OutageGroup& group) { return group.keys.size() < 2; });
    return groups;
}

std::string outageGroupText(const OutageGroup& group)
{
    const std::size_t count = group.names.size();
    std::string text = std::to_string(count) + (count == 1 ? " host" : " hosts") + " down behind "
        + platform::addressText(group.lastAnswering) + " (hop " + std::to_string(group.hop) + ", the last that answers";
    if (group.after)
        text += "; " + platform::addressText(*group.after) + " after it is silent";
    return text + "): " + namesText(group.names);
}

std::string outageGroupEndedText(const OutageGroup& group)
{
    return "No longer down behind " + platform::addressText(group.lastAnswering) + " (hop " + std::to_string(group.hop)
        + "): " + namesText(group.names);
}

std::string ownLinkText(const OwnLink& link)
{
    const std::string gateway = link.gateway ? platform::addressText(*link.gateway) : std::string();
    if (link.up)
        return gateway.empty() ? "This machine's network is back" : "This machine's network is back: its gateway " + gateway + " answers";
    if (link.routeMissing)
        return "This machine's network is down: it has no route to the hosts";
    return gateway.empty() ? "This machine's network is down" : "This machine's network is down: its gateway " + gateway + " does not answer";
}

}  // namespace bv
