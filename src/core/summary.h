#pragma once

#include "platform/clock.h"

#include <cstdint>
#include <string>

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
};

std::string formatSummary(const SummaryFacts& facts);

}  // namespace bv
