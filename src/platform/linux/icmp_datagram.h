#pragma once

#include "platform/ip_address.h"
#include "platform/raw_socket.h"

#include <cstddef>
#include <cstdint>
#include <string>

struct msghdr;

namespace bv {

// Linux's ICMP datagram socket ("ping socket"): allowed to every user whose
// group lies in net.ipv4.ping_group_range, for IPv4 and IPv6 alike. The
// kernel assigns the echo identifier, delivers only the replies to it,
// without IP header, and reports ICMP errors about our requests on the
// socket's error queue.
namespace platform::detail {

// The socket, with the identifier the kernel put on it (low byte first on
// the wire).
ErrorOr<IcmpEndpoint> openIcmpDatagramSocket(AddressFamily family = AddressFamily::V4);

// One reply or one error-queue entry, as a raw socket would hand it over.
// With the socket's stamps, the send stamps met on its error queue are kept
// there and the errors a stamp read held back come first.
ErrorOr<ReceivedDatagram> receiveIcmpDatagram(
    int socket, std::uint8_t* buffer, std::size_t capacity, KernelStamps* stamps = nullptr);

// Whether a send's error code is one the kernel makes of an ICMP error that
// came in (destination unreachable, time exceeded, parameter problem).
bool isIcmpErrorCode(int errorCode);

// One entry of the error queue, in the terms of struct sock_extended_err.
struct ErrorQueueEntry {
    std::uint8_t origin = 0;  // SO_EE_ORIGIN_*
    std::uint8_t type = 0;
    std::uint8_t code = 0;
    IpAddress offender;     // SO_EE_OFFENDER's address
    IpAddress destination;  // where the request went (the message's name)
    const std::uint8_t* request = nullptr;  // the request the entry is about
    std::size_t requestSize = 0;
};

// The ICMP error a raw socket would have read for the entry: the size the
// image needs (the buffer holds its first `capacity` bytes), or 0 for an
// entry that is no ICMP message about a request (a local error).
std::size_t imageOfErrorQueueEntry(const ErrorQueueEntry& entry, std::uint8_t* buffer, std::size_t capacity);

// An IPv6 reply's hop limit from its control messages; -1 when absent.
int hopLimitOf(const msghdr& message);

}  // namespace platform::detail

}  // namespace bv
