#include "ping/icmp_socket.h"

#include "platform/diagnostics.h"

#include <string>

IcmpSocket::IcmpSocket(int timeToLive)
{
    // The sockets library needs no start on this system; the trace stays.
    platform::traceLine("WSA starting...");
    int errorCode = 0;
    socket_ = platform::openRawIcmpSocket(errorCode);
    if (socket_ == platform::kInvalidSocket) {
        platform::errorLine("Failed to create raw socket: " + std::to_string(errorCode));
        return;
    }
    // Refused: the socket stays in use with the system's default.
    if (!platform::setTimeToLive(socket_, timeToLive, errorCode))
        platform::errorLine("TTL setsockopt failed: " + std::to_string(errorCode));
}

IcmpSocket::~IcmpSocket()
{
    platform::closeSocket(socket_);
}

int waitReadable(platform::SocketHandle socket, unsigned timeoutMilliseconds, int& readable)
{
    bool ready = false;
    if (!platform::waitForReadable(socket, timeoutMilliseconds, ready))
        return 0;
    readable = ready ? 1 : 0;
    return 1;
}
