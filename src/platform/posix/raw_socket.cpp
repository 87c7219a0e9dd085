#include "platform/raw_socket.h"

#include "platform/linux/icmp_datagram.h"
#include "platform/linux/kernel_stamps.h"
#include "platform/posix/icmp_filter.h"
#include "platform/socket_address.h"
#include "platform/socket_error.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <mutex>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace bv {

namespace platform {

ErrorOr<void> startSocketLayer()
{
    return {};
}

void stopSocketLayer()
{
}

std::string rawSocketRefusalAdvice(const Error&)
{
    return std::string();
}

ErrorOr<SocketHandle> openRawIcmpSocket(AddressFamily family)
{
    if (family == AddressFamily::V6) {
        // The kernel fills in an ICMPv6 checksum by itself (RFC 3542).
        const int socket = ::socket(AF_INET6, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMPV6);
        if (socket < 0)
            return Error::fromLastSystemError("socket");
        detail::dropUnwantedIcmpv6Types(socket);
        // Best effort: without it the trace's hop estimate is off, nothing else.
        const int on = 1;
        (void)setsockopt(socket, IPPROTO_IPV6, IPV6_RECVHOPLIMIT, &on, sizeof on);
        return socket;
    }
    const int socket = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (socket < 0)
        return Error::fromLastSystemError("socket");
    detail::dropUnwantedIcmpTypes(socket);
    return socket;
}

ErrorOr<void> setTimeToLive(const IcmpEndpoint& socket, int timeToLive)
{
    if (socket.family == AddressFamily::V6) {
        if (setsockopt(socket.socket, IPPROTO_IPV6, IPV6_UNICAST_HOPS, &timeToLive, sizeof timeToLive) != 0)
            return Error::fromLastSystemError("setsockopt IPV6_UNICAST_HOPS");
        return {};
    }
    if (setsockopt(socket.socket, IPPROTO_IP, IP_TTL, &timeToLive, sizeof timeToLive) != 0)
        return Error::fromLastSystemError("setsockopt IP_TTL");
    return {};
}

ErrorOr<std::size_t> sendDatagram(
    const IcmpEndpoint& socket, const std::uint8_t* data, std::size_t size, const IpAddress& destination)
{
    if (destination.family != socket.family)
        return Error(EAFNOSUPPORT, "sendto");
    const detail::SystemSocketAddress to = detail::systemSocketAddress(destination);
    // An ICMP datagram socket asked for its errors (IP_RECVERR) also keeps
    // the last ICMP error any host sent it as a pending socket error, which
    // the next send reports and clears without sending: that error belongs
    // to another request, so the send is made again. A few tries, since
    // more errors may come in between; a send's own failure stays.
    int pendingErrors = socket.kind == IcmpSocketKind::Datagram ? 4 : 0;
    for (;;) {
        const ssize_t sent = ::sendto(socket.socket, data, size, 0, to.get(), to.length);
        if (sent >= 0)
            return static_cast<std::size_t>(sent);
        if (errno == EINTR)
            continue;
        if (pendingErrors-- > 0 && detail::isIcmpErrorCode(errno))
            continue;
        return Error::fromLastSystemError("sendto");
    }
}

ErrorOr<ReceivedDatagram> receiveDatagram(const IcmpEndpoint& socket, std::uint8_t* buffer, std::size_t capacity)
{
    if (socket.kind == IcmpSocketKind::Datagram)
        return detail::receiveIcmpDatagram(socket.socket, buffer, capacity, socket.stamps);
    sockaddr_storage from {};
    iovec part { buffer, capacity };
    alignas(cmsghdr) std::uint8_t control[256];
    msghdr message {};
    message.msg_name = &from;
    message.msg_namelen = sizeof from;
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    ssize_t received;
    do
        received = ::recvmsg(socket.socket, &message, 0);
    while (received < 0 && errno == EINTR);
    if (received < 0)
        return Error::fromLastSystemError("recvmsg");
    // The rest of the datagram is gone; the caller only learns it was cut.
    if (message.msg_flags & MSG_TRUNC)
        return messageTooLongError();
    ReceivedDatagram datagram;
    datagram.size = static_cast<std::size_t>(received);
    datagram.sender = detail::ipAddressOf(&from, message.msg_namelen).value_or(IpAddress {});
    datagram.hopLimit = detail::hopLimitOf(message);
    datagram.kernelArrivalMicroseconds = detail::arrivalStampOf(message);
    return datagram;
}

ErrorOr<std::size_t> receiveWaitingDatagrams(const IcmpEndpoint& socket, DatagramBatch& batch)
{
    // The datagram socket's replies share their reads with its error queue.
    if (socket.kind == IcmpSocketKind::Datagram)
        return detail::receiveOneWaitingDatagram(socket, batch);
    constexpr std::size_t kSlots = DatagramBatch::kSlots;
    sockaddr_storage from[kSlots];
    iovec parts[kSlots];
    alignas(cmsghdr) std::uint8_t control[kSlots][256];
    mmsghdr messages[kSlots];
    for (std::size_t index = 0; index < kSlots; ++index) {
        parts[index] = iovec { batch.slot(index), DatagramBatch::kSlotSize };
        messages[index] = mmsghdr {};
        msghdr& message = messages[index].msg_hdr;
        message.msg_name = &from[index];
        message.msg_namelen = sizeof from[index];
        message.msg_iov = &parts[index];
        message.msg_iovlen = 1;
        message.msg_control = control[index];
        message.msg_controllen = sizeof control[index];
    }
    int received;
    do
        received = ::recvmmsg(socket.socket, messages, kSlots, MSG_DONTWAIT, nullptr);
    while (received < 0 && errno == EINTR);
    if (received < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return std::size_t { 0 };
        return Error::fromLastSystemError("recvmmsg");
    }
    for (std::size_t index = 0; index < static_cast<std::size_t>(received); ++index) {
        const msghdr& message = messages[index].msg_hdr;
        ReceivedDatagram& datagram = batch.received[index];
        datagram = ReceivedDatagram {};
        batch.cut[index] = (message.msg_flags & MSG_TRUNC) != 0;
        datagram.size = messages[index].msg_len;
        datagram.sender = detail::ipAddressOf(&from[index], message.msg_namelen).value_or(IpAddress {});
        datagram.hopLimit = detail::hopLimitOf(message);
        datagram.kernelArrivalMicroseconds = detail::arrivalStampOf(message);
    }
    return static_cast<std::size_t>(received);
}

namespace {

int pollTimeout(unsigned timeoutMilliseconds)
{
    return timeoutMilliseconds > static_cast<unsigned>(INT_MAX) ? INT_MAX : static_cast<int>(timeoutMilliseconds);
}

// With stamps on, the error queue also holds send stamps, which poll
// reports as POLLERR like an ICMP error: they are moved aside, and the wait
// goes on for the rest of its time unless an error or a datagram came.
ErrorOr<bool> waitPastStamps(const IcmpEndpoint& socket, unsigned timeoutMilliseconds)
{
    KernelStamps& kept = *socket.stamps;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMilliseconds);
    const bool keepErrors = socket.kind == IcmpSocketKind::Datagram;
    for (int round = 0; round < 64; ++round) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd watched[2] = { { socket.socket, POLLIN, 0 }, { kept.heldSignal, POLLIN, 0 } };
        const int ready = ::poll(watched, 2, left.count() > 0 ? pollTimeout(static_cast<unsigned>(left.count())) : 0);
        if (ready < 0)
            return Error::fromLastSystemError("poll");
        if (watched[0].revents & POLLNVAL)
            return Error(EBADF, "poll");
        if (ready == 0)
            return false;
        if (watched[1].revents & POLLIN)
            return true;
        if (watched[0].revents & (POLLIN | POLLHUP))
            return true;
        if (!(watched[0].revents & POLLERR))
            continue;
        std::lock_guard<std::mutex> hold(kept.lock);
        const int read = TRY(kept.drain(socket.socket, keepErrors));
        // Nothing queued: a pending socket error, which the read reports.
        if (read == 0 || kept.errorCount > 0)
            return true;
    }
    return false;
}

}  // namespace

ErrorOr<bool> waitForReadable(const IcmpEndpoint& socket, unsigned timeoutMilliseconds)
{
    // poll ignores a negative descriptor instead of failing on it.
    if (socket.socket < 0)
        return Error(EBADF, "poll");
    if (socket.stamps)
        return waitPastStamps(socket, timeoutMilliseconds);
    // An ICMP error about a request waits on a datagram socket's error
    // queue, which poll reports as POLLERR whatever is asked for.
    pollfd watched { socket.socket, POLLIN, 0 };
    const int ready = ::poll(&watched, 1, pollTimeout(timeoutMilliseconds));
    if (ready < 0)
        return Error::fromLastSystemError("poll");
    if (watched.revents & POLLNVAL)
        return Error(EBADF, "poll");
    // A pending error counts as readable: the read that follows reports it.
    return ready > 0 && (watched.revents & (POLLIN | POLLERR | POLLHUP));
}

void closeSocket(const IcmpEndpoint& socket)
{
    if (socket.socket >= 0)
        ::close(socket.socket);
    freeKernelStamps(socket.stamps);
}

}  // namespace platform

}  // namespace bv
