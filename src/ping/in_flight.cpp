#include "ping/in_flight.h"

namespace bv {

bool takeBackCount(Address& host)
{
    if (!host.getHoldsCount())
        return false;
    host.setHoldsCount(false);
    return true;
}

void InFlightRequests::add(Address& host)
{
    host.setHoldsCount(true);
    entries_.push_back({ &host, host.getSentAt() });
}

void InFlightRequests::dropSettled()
{
    while (!entries_.empty()) {
        const Entry& oldest = entries_.front();
        if (oldest.host->getHoldsCount() && oldest.host->getSentAt() == oldest.sentAt)
            return;
        entries_.pop_front();
    }
}

int InFlightRequests::expire(std::int64_t now, std::int64_t limit)
{
    int owed = 0;
    for (dropSettled(); !entries_.empty() && now - entries_.front().sentAt >= limit; dropSettled()) {
        if (takeBackCount(*entries_.front().host))
            ++owed;
        entries_.pop_front();
    }
    return owed;
}

void InFlightRequests::forget(const Address& host)
{
    std::erase_if(entries_, [&host](const Entry& entry) { return entry.host == &host; });
}

std::int64_t InFlightRequests::untilNextExpiry(std::int64_t now, std::int64_t limit)
{
    dropSettled();
    if (entries_.empty())
        return -1;
    const std::int64_t left = entries_.front().sentAt + limit - now;
    return left > 0 ? left : 0;
}

}  // namespace bv
