#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace bv {

// What the ping engine has done so far, summed over the hosts: for the
// benchmark and for anyone who asks a running headless program.
struct EngineCounts {
    bool complete = true;  // false when the host list could not be locked
    std::uint64_t requestsSent = 0;
    std::uint64_t repliesMatched = 0;
    std::uint64_t awaitingReply = 0;
    // Hosts with a request that got no matched reply and is no longer awaited.
    std::uint64_t hostsWithLostRequests = 0;
    // The first few of them, as "name host sent/matched".
    std::vector<std::string> lostExamples;
};

inline constexpr std::size_t kLostExampleLimit = 10;

// One line, then one line per example.
std::string formatEngineCounts(const EngineCounts& counts);

}  // namespace bv
