#pragma once

#include "platform/clock.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace bv {

// What the status summary reports.
struct SummaryFacts {
    std::size_t addressCount = 0;
    std::int32_t ttl = 0;
    std::int32_t timeOut = 0;
    std::int32_t interval = 0;
    std::string inputFile;
    std::string logFile;
    std::string downFile;
    std::int32_t archiveSize = 0;
    platform::CalendarTime statusTime = 0;
    std::int32_t redCount = 0;
    std::int32_t yellowCount = 0;
    std::int32_t greenCount = 0;
    std::int32_t overdueCount = 0;
    // Over the hosts with a reply in their window: the median of their
    // medians, and the host with the highest (microseconds). Without such
    // a host the summary has no round-trip lines.
    std::optional<std::int64_t> medianRoundTrip;
    std::string slowestName;
    std::string slowestHostText;
    std::int64_t slowestMedian = 0;
    // Where the network broke, when the paths are watched: a line for each
    // group of red hosts behind one hop, and one while this machine's own
    // link is down.
    std::vector<std::string> outageLines;
};

// The median of the values (the mean of the middle two for an even count);
// reorders them. Nothing for none.
std::optional<std::int64_t> medianOf(std::vector<std::int64_t>& values);

std::string formatSummary(const SummaryFacts& facts);

}  // namespace bv
