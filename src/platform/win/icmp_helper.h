#pragma once

#include "platform/ip_address.h"
#include "platform/raw_socket.h"

#include <cstddef>
#include <cstdint>

namespace bv {

// The ICMP helper API (IcmpCreateFile, IcmpSendEcho2; for IPv6
// Icmp6CreateFile, Icmp6SendEcho2): pings without Administrator rights.
// Each completed request becomes the bytes a raw socket of its family would
// have read, queued for the receiver.
namespace platform {

struct IcmpHelper;

namespace detail {

// The family's helper, or why the system refused it.
ErrorOr<IcmpHelper*> openIcmpHelper(AddressFamily family = AddressFamily::V4);
// Waits a little for the requests still out; see the definition.
void closeIcmpHelper(IcmpHelper* helper);

void setHelperTimeToLive(IcmpHelper& helper, int timeToLive);
// `request` is the whole echo request as the engine built it.
ErrorOr<std::size_t> sendThroughHelper(
    IcmpHelper& helper, const std::uint8_t* request, std::size_t size, const IpAddress& destination);
ErrorOr<ReceivedDatagram> receiveFromHelper(IcmpHelper& helper, std::uint8_t* buffer, std::size_t capacity);
ErrorOr<bool> waitForHelper(IcmpHelper& helper, unsigned timeoutMilliseconds);

// One completed request, in the helper's terms.
struct HelperOutcome {
    unsigned long status = 0;     // IP_SUCCESS, IP_DEST_HOST_UNREACHABLE, ...
    IpAddress replier;            // who answered: the host, or the router that reported
    std::uint8_t timeToLive = 0;  // of an IPv4 reply
    const std::uint8_t* data = nullptr;  // the echoed payload
    std::size_t dataSize = 0;
    IpAddress destination;  // where the request went; its family is the image's
    const std::uint8_t* request = nullptr;  // the echo request, header included
    std::size_t requestSize = 0;
};

// What a raw socket would have read for the outcome (for IPv4 with an IPv4
// header, for IPv6 the ICMPv6 message alone): the size the image
// needs (the buffer holds its first `capacity` bytes), or 0 for an outcome
// without an answer (timed out, failed locally), which the sweep times out.
std::size_t imageOfHelperOutcome(const HelperOutcome& outcome, std::uint8_t* buffer, std::size_t capacity);

}  // namespace detail

}  // namespace platform

}  // namespace bv
