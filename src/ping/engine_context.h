#pragma once

#include "core/region.h"
#include "ping/icmp_socket.h"
#include "platform/clock.h"
#include "platform/lock_objects.h"

namespace bv {

// What the echo sender and the receiver work on: the hosts and the lock
// that guards their ping fields, the counts of requests in flight, the
// socket and the clock. The run owns all of it.
struct EngineContext {
    Region& hosts;
    platform::Mutex& vectorMutex;
    platform::Semaphore& pingSemaphore;
    IcmpSocket& socket;
    platform::Clock& clock;
};

}  // namespace bv
