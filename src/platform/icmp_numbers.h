#pragma once

#include <cstdint>

namespace bv {

// The ICMP (RFC 792) message types the program sends and reads, for every
// layer that builds or reads the wire bytes.
namespace platform {

inline constexpr std::uint8_t kIcmpEchoReply = 0;
inline constexpr std::uint8_t kIcmpDestinationUnreachable = 3;
inline constexpr std::uint8_t kIcmpEchoRequest = 8;
inline constexpr std::uint8_t kIcmpTimeExceeded = 11;

}  // namespace platform

}  // namespace bv
