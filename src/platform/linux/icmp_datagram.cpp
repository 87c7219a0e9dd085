#include "platform/linux/icmp_datagram.h"

#include "platform/icmp_image.h"
#include "platform/icmp_numbers.h"
#include "platform/linux/kernel_stamps.h"
#include "platform/socket_address.h"
#include "platform/socket_error.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <mutex>
#include <optional>
#include <linux/errqueue.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace bv {

namespace platform::detail {

namespace {

// Enough for the TTL or hop limit and the error control messages together.
constexpr std::size_t kControlSize = 512;

bool enable(int socket, int level, int option)
{
    const int on = 1;
    return setsockopt(socket, level, option, &on, sizeof on) == 0;
}

ErrorOr<std::optional<ReceivedDatagram>> imageOfRecord(
    const ErrorQueueRecord& record, std::uint8_t* buffer, std::size_t capacity)
{
    const std::size_t needed = imageOfErrorQueueEntry(record.entry(), buffer, capacity);
    if (needed == 0)
        return std::optional<ReceivedDatagram>();
    if (needed > capacity)
        return messageTooLongError();
    ReceivedDatagram datagram;
    datagram.size = needed;
    datagram.sender = record.offender;
    return std::optional<ReceivedDatagram>(datagram);
}

// One read of the error queue: an image, nothing (left) to read, or an
// error. With stamps on, an error held back by a stamp read comes first,
// and the stamps met are kept for their reader.
ErrorOr<std::optional<ReceivedDatagram>> readErrorQueue(
    int socket, std::uint8_t* buffer, std::size_t capacity, KernelStamps* stamps)
{
    std::unique_lock<std::mutex> hold;
    if (stamps) {
        hold = std::unique_lock<std::mutex>(stamps->lock);
        while (const auto held = stamps->takeError()) {
            const auto image = TRY(imageOfRecord(*held, buffer, capacity));
            if (image)
                return image;
        }
    }
    ErrorQueueRecord record;
    // Stamps may stand in front of an error in any number.
    const int bound = stamps ? 4096 : 64;
    for (int entries = 0; entries < bound; ++entries) {
        if (!TRY(readErrorQueueRecord(socket, record)))
            return std::optional<ReceivedDatagram>();
        if (record.isStamp()) {
            if (stamps && record.stamp)
                stamps->keepStamp(*record.stamp);
            continue;
        }
        const auto image = TRY(imageOfRecord(record, buffer, capacity));
        if (image)
            return image;
        // a local error: the next entry may be one to read
    }
    return std::optional<ReceivedDatagram>();
}

}  // namespace

ErrorOr<IcmpEndpoint> openIcmpDatagramSocket(AddressFamily family)
{
    const bool six = family == AddressFamily::V6;
    const int protocol = six ? int { IPPROTO_ICMPV6 } : int { IPPROTO_ICMP };
    const int socket = ::socket(six ? AF_INET6 : AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, protocol);
    if (socket < 0)
        return Error::fromLastSystemError("socket");
    // Bound at once, so the kernel's identifier is known before the first send.
    SystemSocketAddress local = systemSocketAddress(six ? IpAddress::fromIpv6(IpAddress {}.bytes.data()) : IpAddress {});
    if (::bind(socket, local.get(), local.length) != 0
        || ::getsockname(socket, reinterpret_cast<sockaddr*>(&local.storage), &local.length) != 0
        || !enable(socket, six ? int { IPPROTO_IPV6 } : int { IPPROTO_IP }, six ? IPV6_RECVERR : IP_RECVERR)) {
        const Error failed = Error::fromLastSystemError("bind");
        ::close(socket);
        return failed;
    }
    IcmpEndpoint endpoint(socket);
    endpoint.kind = IcmpSocketKind::Datagram;
    endpoint.family = family;
    // The port field holds the identifier in network order, as it goes out;
    // it sits at the same place in both families' structures.
    const auto* port = reinterpret_cast<const std::uint8_t*>(&local.storage) + 2;
    endpoint.identifier = static_cast<std::uint16_t>(port[0] | port[1] << 8);
    // Best effort: without it the trace's hop estimate is off, nothing else.
    (void)enable(socket, six ? int { IPPROTO_IPV6 } : int { IPPROTO_IP }, six ? IPV6_RECVHOPLIMIT : IP_RECVTTL);
    return endpoint;
}

bool isIcmpErrorCode(int errorCode)
{
    switch (errorCode) {
    case ENETUNREACH:
    case EHOSTUNREACH:
    case ENOPROTOOPT:
    case ECONNREFUSED:
    case EMSGSIZE:
    case EOPNOTSUPP:
    case EACCES:
    case EPROTO:
        return true;
    default:
        return false;
    }
}

std::size_t imageOfErrorQueueEntry(const ErrorQueueEntry& entry, std::uint8_t* buffer, std::size_t capacity)
{
    if (entry.requestSize == 0)
        return 0;
    if (entry.origin == SO_EE_ORIGIN_ICMP6) {
        if (entry.type != kIcmpv6DestinationUnreachable && entry.type != kIcmpv6TimeExceeded
            && entry.type != kIcmpv6PacketTooBig)
            return 0;
        return imageOfIcmpv6Error(
            buffer, capacity, entry.type, entry.code, entry.destination, entry.request, entry.requestSize);
    }
    if (entry.origin != SO_EE_ORIGIN_ICMP)
        return 0;
    if (entry.type != kIcmpDestinationUnreachable && entry.type != kIcmpTimeExceeded)
        return 0;
    return imageOfIcmpError(
        buffer, capacity, entry.offender.ipv4(), entry.type, entry.code, entry.destination.ipv4(), entry.request,
        entry.requestSize);
}

int hopLimitOf(const msghdr& message)
{
    for (cmsghdr* item = CMSG_FIRSTHDR(&message); item; item = CMSG_NXTHDR(const_cast<msghdr*>(&message), item)) {
        if ((item->cmsg_level == IPPROTO_IP && item->cmsg_type == IP_TTL)
            || (item->cmsg_level == IPPROTO_IPV6 && item->cmsg_type == IPV6_HOPLIMIT)) {
            int value = 0;
            std::memcpy(&value, CMSG_DATA(item), sizeof value);
            return value;
        }
    }
    return -1;
}

ErrorOr<ReceivedDatagram> receiveIcmpDatagram(
    int socket, std::uint8_t* buffer, std::size_t capacity, KernelStamps* stamps)
{
    if (capacity < kImageIpHeaderSize)
        return messageTooLongError();
    // An error pending on the socket fails an ordinary read once; the error
    // queue holds it, so it is read first and again after such a failure.
    for (int attempt = 0; attempt < 4; ++attempt) {
        const std::optional<ReceivedDatagram> queued = TRY(readErrorQueue(socket, buffer, capacity, stamps));
        if (queued)
            return *queued;

        // An IPv4 reply gets the header a raw socket would have read in front
        // of it, so room is left for one; an IPv6 reply has none.
        sockaddr_storage from {};
        iovec part { buffer + kImageIpHeaderSize, capacity - kImageIpHeaderSize };
        alignas(cmsghdr) std::uint8_t control[kControlSize];
        msghdr message {};
        message.msg_name = &from;
        message.msg_namelen = sizeof from;
        message.msg_iov = &part;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        const ssize_t received = ::recvmsg(socket, &message, 0);
        if (received < 0) {
            if (errno == EINTR || errno == EHOSTUNREACH || errno == ENETUNREACH || errno == EHOSTDOWN
                || errno == ECONNREFUSED || errno == EPROTO || errno == ENOPROTOOPT || errno == EACCES
                || errno == EMSGSIZE)
                continue;
            return Error::fromLastSystemError("recvmsg");
        }
        ReceivedDatagram datagram;
        datagram.sender = ipAddressOf(&from, message.msg_namelen).value_or(IpAddress {});
        const int hopLimit = hopLimitOf(message);
        datagram.kernelArrivalMicroseconds = arrivalStampOf(message);
        if (datagram.sender.isV6()) {
            std::memmove(buffer, buffer + kImageIpHeaderSize, static_cast<std::size_t>(received));
            datagram.hopLimit = hopLimit;
            datagram.size = static_cast<std::size_t>(received);
        } else {
            writeImageIpHeader(buffer, static_cast<std::size_t>(received), datagram.sender.ipv4(),
                static_cast<std::uint8_t>(hopLimit < 0 ? 64 : hopLimit));
            datagram.size = static_cast<std::size_t>(received) + kImageIpHeaderSize;
        }
        if (message.msg_flags & MSG_TRUNC)
            return messageTooLongError();
        return datagram;
    }
    return Error(EAGAIN, "recvmsg");
}

}  // namespace platform::detail

namespace platform {

namespace {

// Quoted for the shell only when it needs to be, so the usual path reads plainly.
std::string shellWord(const std::string& word)
{
    bool plain = !word.empty();
    for (char c : word) {
        const bool safe = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')
            || c == '/' || c == '.' || c == '_' || c == '-' || c == '+';
        plain = plain && safe;
    }
    if (plain)
        return word;
    std::string quoted = "'";
    for (char c : word) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    return quoted + "'";
}

}  // namespace

std::string pingRightsRemedies(const std::string& program)
{
    return "Either give the program the right to raw sockets, as root:\n"
           "  setcap cap_net_raw+ep "
        + shellWord(program)
        + "\n"
          "or let the user's group open ICMP datagram sockets, as root:\n"
          "  sysctl -w net.ipv4.ping_group_range=\"0 2147483647\"\n"
          "and, to keep that after a restart, put the line\n"
          "  net.ipv4.ping_group_range = 0 2147483647\n"
          "into a file in /etc/sysctl.d/ (for example /etc/sysctl.d/60-ping-group.conf).";
}

namespace {


std::string ownProgramPath()
{
    char path[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
    return length > 0 ? std::string(path, static_cast<std::size_t>(length)) : std::string("<the program>");
}

}  // namespace

bool refusedForWantOfRights(const Error& refusal)
{
    return refusal.code() == EPERM || refusal.code() == EACCES;
}

ErrorOr<IcmpEndpoint> openIcmpEndpointOfKind(IcmpSocketKind kind, AddressFamily family)
{
    if (kind == IcmpSocketKind::Raw)
        return IcmpEndpoint(TRY(openRawIcmpSocket(family)), family);
    if (kind != IcmpSocketKind::Datagram)
        return Error(ESOCKTNOSUPPORT, "socket");
    return detail::openIcmpDatagramSocket(family);
}

std::string describeIcmpKind(IcmpSocketKind kind, AddressFamily family)
{
    const char* protocol = family == AddressFamily::V6 ? "ICMPv6" : "ICMP";
    return kind == IcmpSocketKind::Raw ? std::string("raw ") + protocol + " socket"
                                       : std::string(protocol) + " datagram socket";
}

std::string icmpRefusalRemedies(const IcmpRefusal& refusal)
{
    if (!refusedForWantOfRights(refusal.raw) || !refusal.fallback || !refusedForWantOfRights(*refusal.fallback))
        return std::string();
    return pingRightsRemedies(ownProgramPath());
}

}  // namespace platform

}  // namespace bv
