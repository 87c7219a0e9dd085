#pragma once

#include "platform/ipv4.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace bv {

// The IPv4 ICMP socket. Every call is a plain blocking call and reports
// failure with the system's error code (see socket_error.h).
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
// in net.ipv4.ping_group_range) and Windows' ICMP helper API. Whatever the
// kind, a read hands over the bytes a raw socket would: an IPv4 header, then
// the echo reply or the ICMP error that quotes the request.
enum class IcmpSocketKind { Raw, Datagram, Helper };

// The kind the system lets an ordinary user open.
#ifdef _WIN32
inline constexpr IcmpSocketKind kUnprivilegedIcmpKind = IcmpSocketKind::Helper;
#else
inline constexpr IcmpSocketKind kUnprivilegedIcmpKind = IcmpSocketKind::Datagram;
#endif

struct IcmpHelper;  // the Windows helper's state, defined by its backend

struct IcmpEndpoint {
    IcmpEndpoint() = default;
    // A raw socket, or kInvalidSocket. Explicit: a handle alone does not
    // say which kind it is, nor carry the helper.
    explicit IcmpEndpoint(SocketHandle raw)
        : socket(raw)
    {
    }

    SocketHandle socket = kInvalidSocket;
    IcmpSocketKind kind = IcmpSocketKind::Raw;
    // The echo identifier the system assigned, low byte first on the wire;
    // a raw socket has none and sends the process's own.
    std::uint16_t identifier = 0;
    IcmpHelper* helper = nullptr;

    bool valid() const { return socket != kInvalidSocket || helper != nullptr; }
};

// Starts the system's sockets layer for the socket's owner (asking for
// version 2.1 where the layer has versions); false when it cannot. Every
// start that succeeded is matched by one stop.
bool startSocketLayer();
void stopSocketLayer();

// A second line for the user when the system refused the raw socket for
// want of rights; empty when the code means something else.
std::string rawSocketRefusalAdvice(int errorCode);

// kInvalidSocket and the error code when the system refuses the socket.
SocketHandle openRawIcmpSocket(int& errorCode);

// The raw socket, or when the system refuses it for want of rights the kind
// an ordinary user may open. An invalid endpoint when neither opens, with
// rawError set and fallbackError the other kind's code (0 if not tried).
IcmpEndpoint openIcmpEndpoint(int& rawError, int& fallbackError);

// That kind of socket alone: invalid, with the error code, when the system
// refuses it or has no such kind.
IcmpEndpoint openIcmpEndpointOfKind(IcmpSocketKind kind, int& errorCode);

// How the run's pings go, for the trace: "raw socket" and the like.
std::string describeIcmpKind(IcmpSocketKind kind);

// What would let the program at `program` (quoted for the shell as needed)
// ping when neither kind of socket may be opened.
std::string pingRightsRemedies(const std::string& program);

// The error note's lines when neither kind opened for want of rights: what
// would let this program ping. Empty when the codes mean something else.
std::string icmpRefusalRemedies(int rawError, int fallbackError);

// Time to live of outgoing datagrams; false and the error code on failure.
bool setTimeToLive(const IcmpEndpoint& socket, int timeToLive, int& errorCode);

// Bytes sent, or -1 and the error code.
long sendDatagram(const IcmpEndpoint& socket, const std::uint8_t* data, std::size_t size, Ipv4Address destination,
    int& errorCode);

// One whole datagram, IPv4 header included, and its sender. Bytes received,
// or -1 and the error code; a datagram longer than the buffer is an error
// with kErrorMessageTooLong (the buffer then holds its first bytes).
long receiveDatagram(const IcmpEndpoint& socket, std::uint8_t* buffer, std::size_t capacity, Ipv4Address& sender,
    int& errorCode);

// Waits at most the time-out (0 polls) for a datagram to read. False when
// the wait itself failed; otherwise true with `readable` set.
bool waitForReadable(const IcmpEndpoint& socket, unsigned timeoutMilliseconds, bool& readable);

void closeSocket(const IcmpEndpoint& socket);

}  // namespace platform

}  // namespace bv
