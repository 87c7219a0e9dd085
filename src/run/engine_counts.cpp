#include "run/engine_counts.h"

#include "platform/lock_hold.h"
#include "run/network.h"

namespace bv {

std::string formatEngineCounts(const EngineCounts& counts)
{
    std::string text = "Requests sent: " + std::to_string(counts.requestsSent)
        + ", replies matched: " + std::to_string(counts.repliesMatched)
        + ", awaiting a reply: " + std::to_string(counts.awaitingReply)
        + ", hosts with a lost request: " + std::to_string(counts.hostsWithLostRequests);
    if (!counts.complete)
        text += " (host list not locked)";
    for (const std::string& example : counts.lostExamples)
        text += "\nlost: " + example;
    return text;
}

EngineCounts Network::countEngine() const
{
    EngineCounts counts;
    platform::MutexHold hosts(*vectorMutex_, "vector mutex cannot be released");
    if (!hosts) {
        counts.complete = false;
        return counts;
    }
    for (std::size_t position = 0; position < hostCount(); ++position) {
        const Address& record = *host(position);
        const std::uint32_t sent = record.getRequestsSent();
        const std::uint32_t matched = record.getRepliesMatched();
        const std::uint32_t awaiting = record.getPingState() == PingState::AwaitingReply ? 1 : 0;
        counts.requestsSent += sent;
        counts.repliesMatched += matched;
        counts.awaitingReply += awaiting;
        if (sent > matched + awaiting) {
            ++counts.hostsWithLostRequests;
            if (counts.lostExamples.size() < kLostExampleLimit)
                counts.lostExamples.push_back(record.getName() + " " + record.getHostText() + " "
                    + std::to_string(sent) + "/" + std::to_string(matched));
        }
    }
    return counts;
}

}  // namespace bv
