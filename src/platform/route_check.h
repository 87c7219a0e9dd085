#pragma once

#include "platform/ip_address.h"

namespace bv {

namespace platform {

// Whether the system has a route to the address: a datagram socket is
// connected to it, which sends nothing. True when the check itself cannot
// be made, so that a failed check never reads as a lost network.
bool hasRouteTo(const IpAddress& address);

}  // namespace platform

}  // namespace bv
