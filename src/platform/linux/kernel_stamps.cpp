#include "platform/linux/kernel_stamps.h"

#include "platform/linux/icmp_datagram.h"
#include "platform/socket_address.h"

#include <cerrno>
#include <cstring>
#include <linux/errqueue.h>
#include <linux/net_tstamp.h>
#include <netinet/in.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace bv {

namespace platform::detail {

namespace {

// The error and the stamp control messages together, with room to spare.
constexpr std::size_t kControlSize = 512;

std::optional<std::int64_t> microsecondsOf(const timespec& stamp)
{
    // Zero means the kernel took no stamp of that kind.
    if (stamp.tv_sec == 0 && stamp.tv_nsec == 0)
        return std::nullopt;
    return static_cast<std::int64_t>(stamp.tv_sec) * 1000000 + stamp.tv_nsec / 1000;
}

std::optional<std::int64_t> softwareStampOf(const cmsghdr& part)
{
    if (part.cmsg_level != SOL_SOCKET || part.cmsg_type != SCM_TIMESTAMPING
        || part.cmsg_len < CMSG_LEN(sizeof(scm_timestamping)))
        return std::nullopt;
    scm_timestamping stamps;
    std::memcpy(&stamps, CMSG_DATA(&part), sizeof stamps);
    return microsecondsOf(stamps.ts[0]);
}

}  // namespace

bool ErrorQueueRecord::isStamp() const
{
    return origin == SO_EE_ORIGIN_TIMESTAMPING;
}

bool ErrorQueueRecord::isIcmpError() const
{
    return origin == SO_EE_ORIGIN_ICMP || origin == SO_EE_ORIGIN_ICMP6;
}

ErrorQueueEntry ErrorQueueRecord::entry() const
{
    ErrorQueueEntry entry;
    entry.origin = origin;
    entry.type = type;
    entry.code = code;
    entry.offender = offender;
    entry.destination = destination;
    entry.request = request.data();
    entry.requestSize = requestSize;
    return entry;
}

unsigned kernelStampFlags()
{
    // The driver's stamp of a send, not the scheduler's: see
    // docs/kernel-timestamps.md for the figures behind the choice.
    return SOF_TIMESTAMPING_TX_SOFTWARE | SOF_TIMESTAMPING_RX_SOFTWARE | SOF_TIMESTAMPING_SOFTWARE
        | SOF_TIMESTAMPING_OPT_ID | SOF_TIMESTAMPING_OPT_TSONLY;
}

ErrorOr<bool> readErrorQueueRecord(int socket, ErrorQueueRecord& record)
{
    sockaddr_storage destination {};
    alignas(cmsghdr) std::uint8_t control[kControlSize];
    for (;;) {
        record = ErrorQueueRecord {};
        iovec part { record.request.data(), record.request.size() };
        msghdr message {};
        message.msg_name = &destination;
        message.msg_namelen = sizeof destination;
        message.msg_iov = &part;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        const ssize_t received = ::recvmsg(socket, &message, MSG_ERRQUEUE | MSG_DONTWAIT);
        if (received < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                return false;
            return Error::fromLastSystemError("recvmsg MSG_ERRQUEUE");
        }
        record.requestSize = static_cast<std::size_t>(received);
        record.destination = ipAddressOf(&destination, message.msg_namelen).value_or(IpAddress {});
        std::optional<std::int64_t> stamp;
        std::uint32_t send = 0;
        for (cmsghdr* item = CMSG_FIRSTHDR(&message); item; item = CMSG_NXTHDR(&message, item)) {
            if (const auto software = softwareStampOf(*item)) {
                stamp = software;
                continue;
            }
            const bool error = (item->cmsg_level == IPPROTO_IP && item->cmsg_type == IP_RECVERR)
                || (item->cmsg_level == IPPROTO_IPV6 && item->cmsg_type == IPV6_RECVERR);
            if (!error || item->cmsg_len < CMSG_LEN(sizeof(sock_extended_err)))
                continue;
            sock_extended_err extended;
            std::memcpy(&extended, CMSG_DATA(item), sizeof extended);
            record.origin = extended.ee_origin;
            record.type = extended.ee_type;
            record.code = extended.ee_code;
            send = extended.ee_data;
            if (item->cmsg_len > CMSG_LEN(sizeof extended))
                record.offender = ipAddressOf(CMSG_DATA(item) + sizeof extended, item->cmsg_len - CMSG_LEN(sizeof extended))
                                      .value_or(IpAddress {});
        }
        if (record.isStamp() && stamp)
            record.stamp = SendStamp { send, *stamp };
        return true;
    }
}

std::optional<std::int64_t> arrivalStampOf(const msghdr& message)
{
    for (cmsghdr* item = CMSG_FIRSTHDR(&message); item; item = CMSG_NXTHDR(const_cast<msghdr*>(&message), item)) {
        if (const auto stamp = softwareStampOf(*item))
            return stamp;
    }
    return std::nullopt;
}

}  // namespace platform::detail

namespace platform {

void KernelStamps::keepStamp(const SendStamp& stamp)
{
    // The oldest unread stamp goes: a reader that lags that far behind has
    // given up on it, and the kernel's queue must not fill the socket's
    // receive buffer instead.
    if (stampCount == kKeptStamps) {
        firstStamp = (firstStamp + 1) % kKeptStamps;
        --stampCount;
    }
    stamps[(firstStamp + stampCount) % kKeptStamps] = stamp;
    ++stampCount;
}

std::optional<SendStamp> KernelStamps::takeStamp()
{
    if (stampCount == 0)
        return std::nullopt;
    const SendStamp stamp = stamps[firstStamp];
    firstStamp = (firstStamp + 1) % kKeptStamps;
    --stampCount;
    return stamp;
}

void KernelStamps::holdError(const detail::ErrorQueueRecord& error)
{
    errors[(firstError + errorCount) % kHeldErrors] = error;
    if (errorCount++ == 0) {
        const std::uint64_t one = 1;
        (void)::write(heldSignal, &one, sizeof one);
    }
}

std::optional<detail::ErrorQueueRecord> KernelStamps::takeError()
{
    if (errorCount == 0)
        return std::nullopt;
    const detail::ErrorQueueRecord error = errors[firstError];
    firstError = (firstError + 1) % kHeldErrors;
    if (--errorCount == 0) {
        std::uint64_t count;
        (void)::read(heldSignal, &count, sizeof count);
    }
    return error;
}

ErrorOr<int> KernelStamps::drain(int socket, bool keepErrors)
{
    detail::ErrorQueueRecord record;
    int read = 0;
    // Bounded: sends go on meanwhile.
    while (read < 4096 && errorRoom()) {
        if (!TRY(detail::readErrorQueueRecord(socket, record)))
            break;
        ++read;
        if (record.stamp)
            keepStamp(*record.stamp);
        else if (keepErrors && record.isIcmpError())
            holdError(record);
    }
    return read;
}

ErrorOr<void> enableKernelStamps(IcmpEndpoint& socket)
{
    if (socket.socket < 0)
        return Error(EBADF, "setsockopt SO_TIMESTAMPING");
    if (socket.stamps)
        return {};
    const int signal = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (signal < 0)
        return Error::fromLastSystemError("eventfd");
    const int flags = static_cast<int>(detail::kernelStampFlags());
    if (setsockopt(socket.socket, SOL_SOCKET, SO_TIMESTAMPING, &flags, sizeof flags) != 0) {
        const Error refused = Error::fromLastSystemError("setsockopt SO_TIMESTAMPING");
        ::close(signal);
        return refused;
    }
    socket.stamps = new KernelStamps;
    socket.stamps->heldSignal = signal;
    return {};
}

ErrorOr<std::optional<SendStamp>> readSendStamp(const IcmpEndpoint& socket)
{
    if (!socket.stamps)
        return std::optional<SendStamp>();
    KernelStamps& kept = *socket.stamps;
    std::lock_guard<std::mutex> hold(kept.lock);
    if (const auto stamp = kept.takeStamp())
        return stamp;
    detail::ErrorQueueRecord record;
    const bool keepErrors = socket.kind == IcmpSocketKind::Datagram;
    for (int read = 0; read < 4096 && kept.errorRoom(); ++read) {
        if (!TRY(detail::readErrorQueueRecord(socket.socket, record)))
            break;
        if (record.stamp)
            return record.stamp;
        if (keepErrors && record.isIcmpError())
            kept.holdError(record);
    }
    return std::optional<SendStamp>();
}

void freeKernelStamps(KernelStamps* stamps)
{
    if (!stamps)
        return;
    ::close(stamps->heldSignal);
    delete stamps;
}

}  // namespace platform

}  // namespace bv
