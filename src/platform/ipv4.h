#pragma once

#include <cstdint>
#include <string>

namespace bv {

namespace platform {

// An IPv4 address in network byte order, as the socket layer keeps it.
using Ipv4Address = std::uint32_t;

inline constexpr Ipv4Address kNoAddress = 0xFFFFFFFFu;  // INADDR_NONE

// The platform's numeric parse (any form inet_addr accepts); kNoAddress
// for anything else.
Ipv4Address parseIpv4(const std::string& text);

// Dotted-quad text of an address.
std::string dottedQuad(Ipv4Address address);

}  // namespace platform

}  // namespace bv
