#include "ping/icmp_socket.h"

#include "core/monitor_events.h"
#include "ping/icmp_message.h"
#include "platform/diagnostics.h"

#include <string>

namespace bv {

bool IcmpSocket::startLayer()
{
    platform::traceLine("WSA starting...");
    layerStarted_ = platform::startSocketLayer();
    if (!layerStarted_)
        platform::errorLine("Failed to find Winsock 2.1 or better.");
    return layerStarted_;
}

IcmpSocket::IcmpSocket(int timeToLive, platform::IcmpSocketKind only)
{
    if (!startLayer())
        return;
    int errorCode = 0;
    socket_ = platform::openIcmpEndpointOfKind(only, errorCode);
    if (!socket_.valid()) {
        platform::errorLine("Failed to open the " + platform::describeIcmpKind(only) + ": " + std::to_string(errorCode));
        return;
    }
    setUp(timeToLive);
}

IcmpSocket::IcmpSocket(int timeToLive)
{
    if (!startLayer())
        return;
    int errorCode = 0;
    int fallbackError = 0;
    socket_ = platform::openIcmpEndpoint(errorCode, fallbackError);
    if (!socket_.valid()) {
        const std::string note = "Failed to create raw socket: " + std::to_string(errorCode);
        platform::errorLine(note);
        if (fallbackError != 0) {
            platform::errorLine("Failed to open the " + platform::describeIcmpKind(platform::kUnprivilegedIcmpKind)
                + " instead: " + std::to_string(fallbackError));
            const std::string remedies = platform::icmpRefusalRemedies(errorCode, fallbackError);
            if (!remedies.empty())
                platform::errorLine(remedies);
        }
        // A tray program has no console: a refusal for want of rights is
        // told to the user, and the run goes on without pings.
        const std::string advice = platform::rawSocketRefusalAdvice(errorCode);
        if (!advice.empty())
            showMessageBox(note + "\r\n" + advice, "BeaconVigilor", MessageIcon::Error);
        return;
    }
    setUp(timeToLive);
}

void IcmpSocket::setUp(int timeToLive)
{
    platform::traceLine("Pinging through the " + platform::describeIcmpKind(socket_.kind));
    int errorCode = 0;
    // Refused: the socket stays in use with the system's default.
    if (!platform::setTimeToLive(socket_, timeToLive, errorCode))
        platform::errorLine("TTL setsockopt failed: " + std::to_string(errorCode));
}

IcmpSocket::~IcmpSocket()
{
    platform::closeSocket(socket_);
    if (layerStarted_)
        platform::stopSocketLayer();
}

std::uint16_t IcmpSocket::echoIdentifier() const
{
    return echoIdentifierOf(socket_);
}

int waitReadable(const platform::IcmpEndpoint& socket, unsigned timeoutMilliseconds, int& readable)
{
    bool ready = false;
    if (!platform::waitForReadable(socket, timeoutMilliseconds, ready))
        return 0;
    readable = ready ? 1 : 0;
    return 1;
}

}  // namespace bv
