#pragma once

#include "platform/ip_address.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace bv {

// The way to one host as the monitor learnt it: the router that answered at
// each hop limit before the host (hop 1 first), or none where none did.
struct HostPath {
    std::vector<std::optional<platform::IpAddress>> routers;
    // The host itself answered right after the last router: the path is
    // whole. An empty whole path: the host is on the monitor's own network.
    bool reachedHost = false;
    std::int64_t learnedAt = 0;  // monotonic milliseconds

    friend bool operator==(const HostPath&, const HostPath&) = default;
};

// How many hops away a host is, from the time to live or hop limit its
// reply came with: senders start at 64, 128 or 255, and the host itself is
// one hop further than the last router. Nothing for a value that fits none.
std::optional<int> hopsAway(int receivedTimeToLive);

}  // namespace bv
