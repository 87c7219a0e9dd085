#pragma once

#include "core/region.h"
#include "ping/icmp_socket.h"
#include "ping/in_flight.h"
#include "ping/named_hosts.h"
#include "platform/clock.h"
#include "platform/lock_objects.h"

#include <atomic>
#include <cstdint>

namespace bv {

// What the echo sender and the receiver work on: the hosts and the lock
// that guards their ping fields, the counts of requests in flight, the
// socket and the clock. The run owns all of it.
struct EngineContext {
    Region& hosts;
    platform::Mutex& vectorMutex;
    platform::Semaphore& pingSemaphore;
    InFlightRequests& inFlight;  // guarded by vectorMutex
    NamedHosts& namedHosts;      // guarded by vectorMutex
    IcmpSockets& sockets;
    platform::Clock& clock;
    // Bumped by the sender as it starts a pass, under vectorMutex: a record
    // that left the list may be freed once the pass that might hold it ended.
    std::atomic<std::uint64_t> senderPasses { 0 };
};

// What the sender does once it holds a count and the lock, just before the
// request goes out: the host awaits its reply, the request holds the count
// and takes its place in the host's round-trip window. Its sequence number.
std::uint16_t startRequest(EngineContext& engine, Address& host);

}  // namespace bv
