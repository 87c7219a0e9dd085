#pragma once

#include "platform/error_or.h"
#include "platform/ip_address.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace bv {

// The ICMP sockets, one per address family. Every call is a plain blocking
// call.
namespace platform {

#ifdef _WIN32
using SocketHandle = std::uintptr_t;  // the Windows sockets SOCKET
inline constexpr SocketHandle kInvalidSocket = ~SocketHandle { 0 };
#else
using SocketHandle = int;
inline constexpr SocketHandle kInvalidSocket = -1;
#endif

// What the engine pings through. A raw socket needs rights an ordinary user
// lacks; the other kinds do not: Linux's ICMP datagram socket (for a group
// in net.ipv4.ping_group_range, for both families) and Windows' ICMP helper
// API. Whatever the kind, a read hands over the bytes a raw socket of its
// family would: for IPv4 an IPv4 header, then the echo reply or the ICMP
// error that quotes the request; for IPv6 the ICMPv6 message alone.
enum class IcmpSocketKind { Raw, Datagram, Helper };

// The kind the system lets an ordinary user open.
#ifdef _WIN32
inline constexpr IcmpSocketKind kUnprivilegedIcmpKind = IcmpSocketKind::Helper;
#else
inline constexpr IcmpSocketKind kUnprivilegedIcmpKind = IcmpSocketKind::Datagram;
#endif

struct IcmpHelper;  // the Windows helper's state, defined by its backend
struct KernelStamps;  // a socket's send stamps read ahead, defined by its backend

struct IcmpEndpoint {
    IcmpEndpoint() = default;
    // A raw socket, or kInvalidSocket. Explicit: a handle alone does not
    // say which kind it is, nor carry the helper.
    explicit IcmpEndpoint(SocketHandle raw, AddressFamily rawFamily = AddressFamily::V4)
        : socket(raw)
        , family(rawFamily)
    {
    }

    SocketHandle socket = kInvalidSocket;
    IcmpSocketKind kind = IcmpSocketKind::Raw;
    AddressFamily family = AddressFamily::V4;
    // The echo identifier the system assigned, low byte first on the wire;
    // a raw socket has none and sends the process's own.
    std::uint16_t identifier = 0;
    IcmpHelper* helper = nullptr;
    // Set once the kernel's time stamps are on; closeSocket frees it.
    KernelStamps* stamps = nullptr;

    bool valid() const { return socket != kInvalidSocket || helper != nullptr; }
};

// Starts the system's sockets layer for the socket's owner (asking for
// version 2.1 where the layer has versions). Every start that succeeded is
// matched by one stop.
ErrorOr<void> startSocketLayer();
void stopSocketLayer();

// A second line for the user when the system refused the raw socket for
// want of rights; empty when the error is something else.
std::string rawSocketRefusalAdvice(const Error& refusal);

ErrorOr<SocketHandle> openRawIcmpSocket(AddressFamily family = AddressFamily::V4);

// Whether the system refused a socket for want of rights, not for a fault.
bool refusedForWantOfRights(const Error& refusal);

// Why neither kind of socket opened: the raw socket's refusal, and the
// other kind's when it was tried (only after a refusal for want of rights).
struct IcmpRefusal {
    Error raw;
    std::optional<Error> fallback;
};

// The raw socket, or when the system refuses it for want of rights the kind
// an ordinary user may open.
ErrorOr<IcmpEndpoint, IcmpRefusal> openIcmpEndpoint(AddressFamily family = AddressFamily::V4);

// That kind of socket alone; an error when the system refuses it or has no
// such kind.
ErrorOr<IcmpEndpoint> openIcmpEndpointOfKind(IcmpSocketKind kind, AddressFamily family = AddressFamily::V4);

// How the run's pings go, for the trace: "raw ICMP socket" and the like;
// "raw ICMPv6 socket" for IPv6.
std::string describeIcmpKind(IcmpSocketKind kind, AddressFamily family = AddressFamily::V4);

// What would let the program at `program` (quoted for the shell as needed)
// ping when neither kind of socket may be opened.
std::string pingRightsRemedies(const std::string& program);

// The error note's lines when neither kind opened for want of rights: what
// would let this program ping. Empty when the errors mean something else.
std::string icmpRefusalRemedies(const IcmpRefusal& refusal);

// Time to live (IPv6: hop limit) of outgoing datagrams.
ErrorOr<void> setTimeToLive(const IcmpEndpoint& socket, int timeToLive);

// Bytes sent.
ErrorOr<std::size_t> sendDatagram(
    const IcmpEndpoint& socket, const std::uint8_t* data, std::size_t size, const IpAddress& destination);

struct ReceivedDatagram {
    std::size_t size = 0;
    IpAddress sender;
    // An IPv6 reply's hop limit, which has no header to travel in; -1 when
    // the system did not say. IPv4's time to live is in its header.
    int hopLimit = -1;
    // When the kernel took the datagram in, in microseconds since 1970 on
    // its CLOCK_REALTIME (the clock of its software stamps, which a
    // calendar step moves). Absent when the kernel gave no stamp: stamps
    // off, an error-queue entry, or a datagram that came in while the
    // kernel was still switching its stamping on. Never an estimate.
    std::optional<std::int64_t> kernelArrivalMicroseconds;

    bool arrivalFromKernel() const { return kernelArrivalMicroseconds.has_value(); }
};

// One whole datagram (for IPv4 with its header) and its sender. A datagram
// longer than the buffer is an ErrorKind::MessageTooLong error (the buffer
// then holds its first bytes).
ErrorOr<ReceivedDatagram> receiveDatagram(const IcmpEndpoint& socket, std::uint8_t* buffer, std::size_t capacity);

// Room for the datagrams that one read takes at once; taken when it is made.
struct DatagramBatch {
    static constexpr std::size_t kSlots = 32;
    // Our replies are at most 1024 bytes of ICMP; an error quotes less.
    static constexpr std::size_t kSlotSize = 4096;

    DatagramBatch() : storage(kSlots * kSlotSize) {}
    std::uint8_t* slot(std::size_t index) { return storage.data() + index * kSlotSize; }

    std::vector<std::uint8_t> storage;
    std::array<ReceivedDatagram, kSlots> received {};
    // The datagram was longer than its slot: its first bytes alone are there.
    std::array<bool, kSlots> cut {};
};

// The datagrams that wait now, at most kSlots, without waiting: how many,
// 0 when none. In one system call where the system can (raw sockets on
// Linux); one at a time elsewhere.
ErrorOr<std::size_t> receiveWaitingDatagrams(const IcmpEndpoint& socket, DatagramBatch& batch);

namespace detail {
// One waiting datagram into the batch's first slot, for the sockets that
// are read one at a time.
ErrorOr<std::size_t> receiveOneWaitingDatagram(const IcmpEndpoint& socket, DatagramBatch& batch);
}  // namespace detail

// Waits at most the time-out (0 polls): whether a datagram waits to be read.
// Send stamps waiting alone do not count.
ErrorOr<bool> waitForReadable(const IcmpEndpoint& socket, unsigned timeoutMilliseconds);

// The kernel's own time stamps (Linux): each datagram read gets the moment
// it came in, and each send leaves a stamp of the moment the kernel handed
// it to the network device, on the clock of the arrival stamps. Off unless
// switched on (once is enough); a system without them answers with an
// error. Only for a caller that reads the send stamps: they are kept for it.
ErrorOr<void> enableKernelStamps(IcmpEndpoint& socket);

// One send's stamp: which send of the socket it is, counting the socket's
// sends since its stamps were switched on from 0 (wrapping at 2^32), and
// when it left.
struct SendStamp {
    std::uint32_t send = 0;
    std::int64_t microseconds = 0;  // as kernelArrivalMicroseconds
};

// The oldest send stamp not yet read, without waiting; none when there is
// none (yet) or the stamps are off. An ICMP error met on the way stays for
// receiveDatagram and makes waitForReadable true. The socket keeps the
// latest 1024 unread stamps; older ones are dropped.
ErrorOr<std::optional<SendStamp>> readSendStamp(const IcmpEndpoint& socket);

void closeSocket(const IcmpEndpoint& socket);

}  // namespace platform

}  // namespace bv
