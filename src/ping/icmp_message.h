#pragma once

#include "platform/icmp_numbers.h"
#include "platform/ipv4.h"
#include "platform/raw_socket.h"

#include <cstdint>
#include <string>

namespace bv {

// The ICMP echo messages of the ping engine: building and sending echo
// requests, reading and classifying what comes back. No state of its own;
// every call works on its arguments only, so two threads may use the same
// socket at once, each with its own buffer.

inline constexpr std::uint16_t kAddressFamilyInet = 2;  // AF_INET

// A zeroed 16-byte IPv4 socket address: family, port (always 0), address.
struct SocketAddress {
    std::uint16_t family = 0;
    std::uint16_t port = 0;
    platform::Ipv4Address address = 0;  // network order
    std::uint8_t zero[8] = {};
};
static_assert(sizeof(SocketAddress) == 16);

// One decoded ICMP message for the receiver.
struct ReplyInfo {
    platform::Ipv4Address address = 0;  // the sender, set for a usable message only
    std::string errorText;              // empty for a good echo reply
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

// The destination from numericAddress, or, when that is kNoAddress, from
// looking the host text up; the resolver's reason when the name does not
// resolve (the error note is written).
platform::ErrorOr<SocketAddress> resolveHost(const std::string& hostText, platform::Ipv4Address numericAddress);

// Writes an echo request of `size` bytes (at least 8) into the buffer and
// returns its checksum. The identifier and the sequence go low byte first.
std::uint16_t fillEchoRequest(std::uint8_t* buffer, int size, std::uint16_t sequence);
std::uint16_t fillEchoRequest(std::uint8_t* buffer, int size, std::uint16_t sequence, std::uint16_t identifier);

// The RFC 1071 checksum as a number whose high byte goes first on the wire.
std::uint16_t internetChecksum(const std::uint8_t* bytes, int count);

enum class SendResult { Sent, Failed };

// Sent when the system took the datagram (wholly or in part).
SendResult sendEcho(
    const platform::IcmpEndpoint& socket, const SocketAddress& destination, const std::uint8_t* buffer, int size);

// Bytes received, IPv4 header included (whatever the kind of socket), or -1
// on an error.
int receiveMessage(const platform::IcmpEndpoint& socket, SocketAddress& sender, std::uint8_t* buffer, int capacity);

// What a received datagram is to the receiver; the values are the
// decoder's historic results, which traces and tools may know.
enum class DecodeResult { Usable = 0, Unusable = -1, NotOurs = -2 };

// NotOurs is an echo reply for another process.
DecodeResult decodeReply(const std::uint8_t* datagram, int count, const SocketAddress& sender, ReplyInfo& reply);
DecodeResult decodeReply(const std::uint8_t* datagram, int count, const SocketAddress& sender, ReplyInfo& reply,
    std::uint16_t ownIdentifier);

// The ICMP sequence field of a received datagram, if the datagram holds it.
bool readSequence(const std::uint8_t* datagram, int count, std::uint16_t& sequence);

// The destination of the datagram that an error message quotes, if present.
bool readQuotedDestination(const std::uint8_t* datagram, int count, platform::Ipv4Address& destination);

}  // namespace bv
