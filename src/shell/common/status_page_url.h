#pragma once

#include <cstdint>
#include <string>

namespace bv {

// The status page of a server at `address`:`port` as a browser on this
// machine reaches it: a server on every interface is asked on loopback.
std::string statusPageUrl(const std::string& address, std::uint16_t port);

// The live run's page; empty while none is served.
std::string currentStatusPageUrl();

}  // namespace bv
