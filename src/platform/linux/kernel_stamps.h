#pragma once

#include "platform/error_or.h"
#include "platform/ip_address.h"
#include "platform/raw_socket.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>

struct msghdr;

namespace bv {

namespace platform::detail {

struct ErrorQueueEntry;

// One entry of a socket's error queue as read: an ICMP or local error with
// the request it quotes, or a send stamp.
struct ErrorQueueRecord {
    std::uint8_t origin = 0;  // SO_EE_ORIGIN_*
    std::uint8_t type = 0;
    std::uint8_t code = 0;
    IpAddress offender;
    IpAddress destination;
    std::array<std::uint8_t, 64> request {};
    std::size_t requestSize = 0;
    std::optional<SendStamp> stamp;  // for a time-stamp entry that has a software stamp

    bool isStamp() const;
    bool isIcmpError() const;  // a local error is neither
    ErrorQueueEntry entry() const;
};

// One entry off the error queue without waiting; false when it is empty.
ErrorOr<bool> readErrorQueueRecord(int socket, ErrorQueueRecord& record);

// The kernel's reception stamp among a datagram's control messages.
std::optional<std::int64_t> arrivalStampOf(const msghdr& message);

// The SO_TIMESTAMPING flags switched on: software stamps of reception and
// of sends, numbered per socket, without the sent bytes.
unsigned kernelStampFlags();

}  // namespace platform::detail

namespace platform {

// What was read off the error queue ahead of its reader: send stamps for
// readSendStamp, and ICMP errors a stamp read came across, for the receive
// path. Shared by the threads that send and receive, hence the lock.
struct KernelStamps {
    static constexpr std::size_t kKeptStamps = 1024;
    static constexpr std::size_t kHeldErrors = 16;

    std::mutex lock;
    // Readable while errors are held, so that a wait in poll sees them.
    int heldSignal = -1;

    std::array<SendStamp, kKeptStamps> stamps {};
    std::size_t firstStamp = 0;
    std::size_t stampCount = 0;
    std::array<detail::ErrorQueueRecord, kHeldErrors> errors {};
    std::size_t firstError = 0;
    std::size_t errorCount = 0;

    // Called with `lock` held.
    void keepStamp(const SendStamp& stamp);
    std::optional<SendStamp> takeStamp();
    bool errorRoom() const { return errorCount < kHeldErrors; }
    void holdError(const detail::ErrorQueueRecord& error);
    std::optional<detail::ErrorQueueRecord> takeError();
    // Reads the kernel's queue until it is empty or no error would fit:
    // stamps are kept; ICMP errors held for a socket that reads them there
    // (a datagram socket); local errors dropped, as the receive path drops
    // them. How many entries were read.
    ErrorOr<int> drain(int socket, bool keepErrors);
};

void freeKernelStamps(KernelStamps* stamps);

}  // namespace platform

}  // namespace bv
