#pragma once

#include "platform/ipv4.h"

#include <cstddef>
#include <cstdint>

// The raw IPv4 ICMP socket. Every call is a plain blocking call and reports
// failure with the system's error code (see socket_error.h).
namespace platform {

using SocketHandle = int;

inline constexpr SocketHandle kInvalidSocket = -1;

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
