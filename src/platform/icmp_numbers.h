#pragma once

#include <cstddef>
#include <cstdint>

namespace bv {

// The ICMP (RFC 792) and ICMPv6 message types the program sends and reads, for every
// layer that builds or reads the wire bytes.
namespace platform {

inline constexpr std::uint8_t kIcmpEchoReply = 0;
inline constexpr std::uint8_t kIcmpDestinationUnreachable = 3;
inline constexpr std::uint8_t kIcmpEchoRequest = 8;
inline constexpr std::uint8_t kIcmpTimeExceeded = 11;

// ICMPv6 (RFC 4443).
inline constexpr std::uint8_t kIcmpv6DestinationUnreachable = 1;
inline constexpr std::uint8_t kIcmpv6PacketTooBig = 2;
inline constexpr std::uint8_t kIcmpv6TimeExceeded = 3;
inline constexpr std::uint8_t kIcmpv6EchoRequest = 128;
inline constexpr std::uint8_t kIcmpv6EchoReply = 129;
inline constexpr std::uint8_t kProtocolIcmpv6 = 58;  // an IPv6 header's next header
inline constexpr std::size_t kIpv6HeaderSize = 40;

}  // namespace platform

}  // namespace bv
