#pragma once

#include "core/host_path.h"
#include "platform/ip_address.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace bv {

// A red host and the path the learner knew to it.
struct RedHostOnPath {
    std::string key;
    std::string name;
    HostPath path;
};

// Red hosts whose last answering hop is the same: the fault lies beyond it.
struct OutageGroup {
    platform::IpAddress lastAnswering;
    int hop = 0;
    // The router after it on the way, when the path knew one; silent now.
    std::optional<platform::IpAddress> after;
    std::vector<std::string> keys;
    std::vector<std::string> names;

    friend bool operator==(const OutageGroup&, const OutageGroup&) = default;
};

// The groups of two hosts or more, in the order of their first host. A
// host whose path is empty (on the monitor's own network) or of which no
// hop answers is in none. `answers` says whether a router answered the
// check just made; nothing for one not checked.
std::vector<OutageGroup> groupOutages(const std::vector<RedHostOnPath>& hosts,
    const std::function<std::optional<bool>(const platform::IpAddress&)>& answers);

// The monitor's own way out: down when, as most hosts turned red at once,
// its first hop did not answer either, or the system had no route.
struct OwnLink {
    bool up = true;
    std::optional<platform::IpAddress> gateway;
    bool routeMissing = false;

    friend bool operator==(const OwnLink&, const OwnLink&) = default;
};

// "This machine's network is down: its gateway 198.18.0.1 does not answer",
// or that it is back.
std::string ownLinkText(const OwnLink& link);

// "12 hosts down behind 198.18.3.1 (hop 3, the last that answers;
// 198.18.4.1 after it is silent): a, b, c and 9 others".
std::string outageGroupText(const OutageGroup& group);
// "No longer down behind 198.18.3.1 (hop 3): a, b, c and 9 others".
std::string outageGroupEndedText(const OutageGroup& group);

}  // namespace bv
