#pragma once

#include "core/address.h"

#include <cstdint>
#include <deque>

namespace bv {

// The requests that hold one of the counts, oldest first. A request gives
// its count back when it is answered or failed, or once the receive wait
// has passed since it was sent: a silent host must not keep others waiting
// for its whole time-out. Guarded by the run's vector mutex.
class InFlightRequests {
public:
    // The host's request has just been sent and holds the count taken for it.
    void add(Address& host);
    // Takes the count back from every request that has held it `limit`
    // milliseconds; returns how many the caller must release.
    int expire(std::int64_t now, std::int64_t limit);
    // The host left the list: none of its entries may be read any more.
    void forget(const Address& host);
    // Milliseconds until the oldest held count expires; -1 when none is held.
    std::int64_t untilNextExpiry(std::int64_t now, std::int64_t limit);

private:
    struct Entry {
        Address* host;
        std::int64_t sentAt;
    };
    // Entries whose request gave its count back already, or was followed by
    // another, go from the front.
    void dropSettled();

    std::deque<Entry> entries_;
};

// True exactly once per request that held a count: the caller then owes
// the semaphore one release.
bool takeBackCount(Address& host);

}  // namespace bv
