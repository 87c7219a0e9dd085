#pragma once

#include "core/address.h"
#include "platform/icmp_numbers.h"
#include "platform/ip_address.h"
#include "platform/raw_socket.h"

#include <cstdint>
#include <optional>
#include <string>

namespace bv {

// The ICMP and ICMPv6 echo messages of the ping engine: building and
// sending echo requests, reading and classifying what comes back. No state
// of its own; every call works on its arguments only, so two threads may
// use the same socket at once, each with its own buffer.

// Where a received message came from, as the decoder needs it.
struct MessageSource {
    platform::IpAddress address;
    // The hop limit of an IPv6 message (an IPv4 one carries its time to live
    // in its header); -1 when unknown.
    int hopLimit = -1;
    std::optional<std::int64_t> kernelArrival {};  // the kernel's reception stamp
};

// One decoded ICMP message for the receiver.
struct ReplyInfo {
    platform::IpAddress address;  // the sender, set for a usable message only
    // Whom the message is about: the sender of an echo reply, the quoted
    // request's destination for an error. Set for a usable message only.
    platform::IpAddress about;
    std::string errorText;  // empty for a good echo reply
    bool timeExceeded = false;  // a router's: the request's hop limit ran out
    // The time to live (hop limit) the message came with; -1 when unknown.
    int timeToLive = -1;
    // The echo reply's sequence number, or the quoted request's.
    std::uint16_t sequence = 0;
    // When it came in: the kernel's stamp when it gave one (its realtime
    // clock), and the program's monotonic clock just after the read
    // (microseconds both).
    std::optional<std::int64_t> kernelArrival;
    std::int64_t receivedAt = 0;
};

using platform::kIcmpDestinationUnreachable;
using platform::kIcmpEchoReply;
using platform::kIcmpEchoRequest;
using platform::kIcmpTimeExceeded;

inline constexpr int kEchoHeaderSize = 8;

// The identifier this process puts into its requests: the low 16 bits of
// the process id.
std::uint16_t ownEchoIdentifier();

// The identifier of the requests sent through the socket: the process's own
// on a raw socket, the one the system assigned on the other kinds.
std::uint16_t echoIdentifierOf(const platform::IcmpEndpoint& socket);

// The destination: the numeric address, or, when there is none, the host
// text looked up for the family wanted; the resolver's reason when the
// name does not resolve (the error note is written).
platform::ErrorOr<platform::IpAddress> resolveHost(
    const std::string& hostText, const std::optional<platform::IpAddress>& numeric, HostFamily wanted = HostFamily::Either);

// Writes an echo request of `size` bytes (at least 8) into the buffer and
// returns its checksum. The identifier and the sequence go low byte first.
// An ICMPv6 request leaves its checksum to the system, which alone knows
// the source address the checksum covers.
std::uint16_t fillEchoRequest(std::uint8_t* buffer, int size, std::uint16_t sequence);
std::uint16_t fillEchoRequest(std::uint8_t* buffer, int size, std::uint16_t sequence, std::uint16_t identifier,
    platform::AddressFamily family = platform::AddressFamily::V4);

// The RFC 1071 checksum as a number whose high byte goes first on the wire.
std::uint16_t internetChecksum(const std::uint8_t* bytes, int count);

enum class SendResult { Sent, Failed };

// Sent when the system took the datagram (wholly or in part).
SendResult sendEcho(const platform::IcmpEndpoint& socket, const platform::IpAddress& destination,
    const std::uint8_t* buffer, int size);

// Bytes received (for IPv4 with the IP header, whatever the kind of socket),
// or -1 on an error.
int receiveMessage(const platform::IcmpEndpoint& socket, MessageSource& sender, std::uint8_t* buffer, int capacity);

// What a received datagram is to the receiver; the values are the
// decoder's historic results, which traces and tools may know.
enum class DecodeResult { Usable = 0, Unusable = -1, NotOurs = -2 };

// NotOurs is an echo reply for another process, or an error about another
// process's request. The sender's family says how to read the datagram.
DecodeResult decodeReply(const std::uint8_t* datagram, int count, const MessageSource& sender, ReplyInfo& reply);
DecodeResult decodeReply(const std::uint8_t* datagram, int count, const MessageSource& sender, ReplyInfo& reply,
    std::uint16_t ownIdentifier);
// Quiet: no error or trace line for what is not ours or not usable.
DecodeResult decodeReply(const std::uint8_t* datagram, int count, const MessageSource& sender, ReplyInfo& reply,
    std::uint16_t ownIdentifier, bool quiet);

}  // namespace bv
