#include "core/summary.h"

#include "core/address.h"
#include "core/round_trip_alarm.h"

#include <algorithm>

namespace bv {

std::string formatSummary(const SummaryFacts& facts)
{
    auto line = [](const std::string& text) { return text + "\r\n"; };
    std::string text;
    text += line("Total number of addresses: " + std::to_string(facts.addressCount));
    text += line("TTL: " + std::to_string(facts.ttl));
    text += line("Time out: " + std::to_string(facts.timeOut) + " ms");
    text += line("Time between pings: " + std::to_string(facts.interval) + " ms");
    text += line("");
    text += line("Input file: " + facts.inputFile);
    text += line("Log file: " + facts.logFile);
    text += line("Down file: " + facts.downFile);
    if (facts.archiveSize > 0)
        text += line("Archiving log after " + std::to_string(facts.archiveSize) + " KB");
    text += line("");
    text += line("Status as of: " + formatTime(facts.statusTime));
    text += line("Red: " + std::to_string(facts.redCount));
    text += line("Yellow: " + std::to_string(facts.yellowCount));
    text += line("Green: " + std::to_string(facts.greenCount));
    text += line("Hosts overdue: " + std::to_string(facts.overdueCount));
    if (facts.medianRoundTrip) {
        text += line("Median round trip: " + millisecondsText(*facts.medianRoundTrip) + " ms");
        text += line("Slowest host: " + facts.slowestName + ' ' + facts.slowestHostText + ", median "
            + millisecondsText(facts.slowestMedian) + " ms");
    }
    for (const std::string& outage : facts.outageLines)
        text += line(outage);
    return text;
}

std::optional<std::int64_t> medianOf(std::vector<std::int64_t>& values)
{
    if (values.empty())
        return std::nullopt;
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    if (values.size() % 2 != 0)
        return *middle;
    return (*std::max_element(values.begin(), middle) + *middle) / 2;
}

}  // namespace bv
