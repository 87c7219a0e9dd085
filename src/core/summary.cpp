#include "core/summary.h"

#include "core/address.h"

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
    return text;
}

}  // namespace bv
