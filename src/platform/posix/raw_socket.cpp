#include "platform/raw_socket.h"

#include "platform/linux/icmp_datagram.h"
#include "platform/posix/icmp_filter.h"
#include "platform/socket_error.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace bv {

namespace platform {

bool startSocketLayer()
{
    return true;
}

void stopSocketLayer()
{
}

std::string rawSocketRefusalAdvice(int)
{
    return std::string();
}

SocketHandle openRawIcmpSocket(int& errorCode)
{
    const int socket = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (socket < 0) {
        errorCode = errno;
        return kInvalidSocket;
    }
    detail::dropUnwantedIcmpTypes(socket);
    return socket;
}

bool setTimeToLive(const IcmpEndpoint& socket, int timeToLive, int& errorCode)
{
    if (setsockopt(socket.socket, IPPROTO_IP, IP_TTL, &timeToLive, sizeof timeToLive) != 0) {
        errorCode = errno;
        return false;
    }
    return true;
}

long sendDatagram(const IcmpEndpoint& socket, const std::uint8_t* data, std::size_t size, Ipv4Address destination,
    int& errorCode)
{
    sockaddr_in to {};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = destination;
    // An ICMP datagram socket asked for its errors (IP_RECVERR) also keeps
    // the last ICMP error any host sent it as a pending socket error, which
    // the next send reports and clears without sending: that error belongs
    // to another request, so the send is made again. A few tries, since
    // more errors may come in between; a send's own failure stays.
    int pendingErrors = socket.kind == IcmpSocketKind::Datagram ? 4 : 0;
    for (;;) {
        const ssize_t sent = ::sendto(socket.socket, data, size, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
        if (sent >= 0)
            return static_cast<long>(sent);
        if (errno == EINTR)
            continue;
        if (pendingErrors-- > 0 && detail::isIcmpErrorCode(errno))
            continue;
        errorCode = errno;
        return -1;
    }
}

long receiveDatagram(const IcmpEndpoint& socket, std::uint8_t* buffer, std::size_t capacity, Ipv4Address& sender,
    int& errorCode)
{
    if (socket.kind == IcmpSocketKind::Datagram)
        return detail::receiveIcmpDatagram(socket.socket, buffer, capacity, sender, errorCode);
    sockaddr_in from {};
    iovec part { buffer, capacity };
    msghdr message {};
    message.msg_name = &from;
    message.msg_namelen = sizeof from;
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    ssize_t received;
    do
        received = ::recvmsg(socket.socket, &message, 0);
    while (received < 0 && errno == EINTR);
    if (received < 0) {
        errorCode = errno;
        return -1;
    }
    sender = (message.msg_namelen >= sizeof from && from.sin_family == AF_INET) ? from.sin_addr.s_addr : 0;
    // The rest of the datagram is gone; the caller only learns it was cut.
    if (message.msg_flags & MSG_TRUNC) {
        errorCode = kErrorMessageTooLong;
        return -1;
    }
    return static_cast<long>(received);
}

bool waitForReadable(const IcmpEndpoint& socket, unsigned timeoutMilliseconds, bool& readable)
{
    // poll ignores a negative descriptor instead of failing on it.
    if (socket.socket < 0)
        return false;
    // An ICMP error about a request waits on a datagram socket's error
    // queue, which poll reports as POLLERR whatever is asked for.
    pollfd watched { socket.socket, POLLIN, 0 };
    const int timeout = timeoutMilliseconds > static_cast<unsigned>(INT_MAX) ? INT_MAX
                                                                             : static_cast<int>(timeoutMilliseconds);
    const int ready = ::poll(&watched, 1, timeout);
    if (ready < 0 || (watched.revents & POLLNVAL))
        return false;
    // A pending error counts as readable: the read that follows reports it.
    readable = ready > 0 && (watched.revents & (POLLIN | POLLERR | POLLHUP));
    return true;
}

void closeSocket(const IcmpEndpoint& socket)
{
    if (socket.socket >= 0)
        ::close(socket.socket);
}

}  // namespace platform

}  // namespace bv
