#pragma once

#include "platform/ip_address.h"

#include <cstddef>
#include <cstdint>

namespace bv {

// What a raw ICMP socket would have handed over, rebuilt from what the
// unprivileged kinds report, so that one decoder reads every kind.
namespace platform {

inline constexpr std::size_t kImageIpHeaderSize = 20;
// The IPv4 header and the first 8 bytes of the request, as RFC 792 quotes them.
inline constexpr std::size_t kImageQuotedRequestSize = 8;

// A minimal IPv4 header (kImageIpHeaderSize bytes) for an ICMP message of
// `messageSize` bytes from `source`.
void writeImageIpHeader(std::uint8_t* header, std::size_t messageSize, Ipv4Address source, std::uint8_t timeToLive);

// A minimal IPv4 header from `source` in front of the ICMP message. The size
// the image needs; the buffer holds its first `capacity` bytes.
std::size_t imageOfIcmpMessage(std::uint8_t* buffer, std::size_t capacity, Ipv4Address source,
    std::uint8_t timeToLive, const std::uint8_t* icmp, std::size_t icmpSize);

// An ICMP error of `type` and `code` from `offender` about our echo request
// to `destination`: it quotes the request's IPv4 header and its first bytes.
// The size the image needs; the buffer holds its first `capacity` bytes.
std::size_t imageOfIcmpError(std::uint8_t* buffer, std::size_t capacity, Ipv4Address offender, std::uint8_t type,
    std::uint8_t code, Ipv4Address destination, const std::uint8_t* request, std::size_t requestSize);

// An ICMPv6 error of `type` and `code` about our echo request to
// `destination`, as a raw ICMPv6 socket hands it over: the ICMPv6 header,
// then the quoted IPv6 header (its source unknown, so zero) and the request.
// The size the image needs; the buffer holds its first `capacity` bytes.
std::size_t imageOfIcmpv6Error(std::uint8_t* buffer, std::size_t capacity, std::uint8_t type, std::uint8_t code,
    const IpAddress& destination, const std::uint8_t* request, std::size_t requestSize);

}  // namespace platform

}  // namespace bv
