#pragma once

#include "platform/ipv4.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace bv {

// The raw IPv4 ICMP socket. Every call is a plain blocking call and reports
// failure with the system's error code (see socket_error.h).
namespace platform {

#ifdef _WIN32
using SocketHandle = std::uintptr_t;  // the Windows sockets SOCKET
inline constexpr SocketHandle kInvalidSocket = ~SocketHandle { 0 };
#else
using SocketHandle = int;
inline constexpr SocketHandle kInvalidSocket = -1;
#endif

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

// Time to live of outgoing datagrams; false and the error code on failure.
bool setTimeToLive(SocketHandle socket, int timeToLive, int& errorCode);

// Bytes sent, or -1 and the error code.
long sendDatagram(SocketHandle socket, const std::uint8_t* data, std::size_t size, Ipv4Address destination,
    int& errorCode);

// One whole datagram, IPv4 header included, and its sender. Bytes received,
// or -1 and the error code; a datagram longer than the buffer is an error
// with kErrorMessageTooLong (the buffer then holds its first bytes).
long receiveDatagram(SocketHandle socket, std::uint8_t* buffer, std::size_t capacity, Ipv4Address& sender,
    int& errorCode);

// Waits at most the time-out (0 polls) for a datagram to read. False when
// the wait itself failed; otherwise true with `readable` set.
bool waitForReadable(SocketHandle socket, unsigned timeoutMilliseconds, bool& readable);

void closeSocket(SocketHandle socket);

}  // namespace platform

}  // namespace bv
