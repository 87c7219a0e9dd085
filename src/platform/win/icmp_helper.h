#pragma once

#include "platform/ipv4.h"
#include "platform/raw_socket.h"

#include <cstddef>
#include <cstdint>

namespace bv {

// The ICMP helper API (IcmpCreateFile, IcmpSendEcho2 with an event): pings
// without Administrator rights. Each completed request becomes the bytes a
// raw socket would have read, queued for the receiver.
namespace platform {

struct IcmpHelper;

namespace detail {

// The helper, or why the system refused it.
ErrorOr<IcmpHelper*> openIcmpHelper();
// Waits a little for the requests still out; see the definition.
void closeIcmpHelper(IcmpHelper* helper);

void setHelperTimeToLive(IcmpHelper& helper, int timeToLive);
// `request` is the whole echo request as the engine built it.
ErrorOr<std::size_t> sendThroughHelper(
    IcmpHelper& helper, const std::uint8_t* request, std::size_t size, Ipv4Address destination);
ErrorOr<ReceivedDatagram> receiveFromHelper(IcmpHelper& helper, std::uint8_t* buffer, std::size_t capacity);
ErrorOr<bool> waitForHelper(IcmpHelper& helper, unsigned timeoutMilliseconds);

// One completed request, in the helper's terms.
struct HelperOutcome {
    unsigned long status = 0;     // IP_SUCCESS, IP_DEST_HOST_UNREACHABLE, ...
    Ipv4Address replier = 0;      // who answered: the host, or the router that reported
    std::uint8_t timeToLive = 0;  // of the reply
    const std::uint8_t* data = nullptr;  // the echoed payload
    std::size_t dataSize = 0;
    Ipv4Address destination = 0;  // where the request went
    const std::uint8_t* request = nullptr;  // the echo request, header included
    std::size_t requestSize = 0;
};

// What a raw socket would have read for the outcome: the size the image
// needs (the buffer holds its first `capacity` bytes), or 0 for an outcome
// without an answer (timed out, failed locally), which the sweep times out.
std::size_t imageOfHelperOutcome(const HelperOutcome& outcome, std::uint8_t* buffer, std::size_t capacity);

}  // namespace detail

}  // namespace platform

}  // namespace bv
