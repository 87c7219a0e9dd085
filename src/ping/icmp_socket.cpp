#include "ping/icmp_socket.h"

#include "core/monitor_events.h"
#include "ping/icmp_message.h"
#include "platform/diagnostics.h"

#include <string>

namespace bv {

bool IcmpSocket::startLayer()
{
    platform::traceLine("WSA starting...");
    const auto started = platform::startSocketLayer();
    layerStarted_ = !started.is_error();
    if (!layerStarted_)
        platform::errorLine("Failed to find Winsock 2.1 or better.");
    return layerStarted_;
}

IcmpSocket::IcmpSocket(int timeToLive, platform::IcmpSocketKind only)
{
    if (!startLayer())
        return;
    auto opened = platform::openIcmpEndpointOfKind(only);
    if (opened.is_error()) {
        platform::errorLine(
            "Failed to open the " + platform::describeIcmpKind(only) + ": " + std::to_string(opened.error().code()));
        return;
    }
    socket_ = opened.release_value();
    setUp(timeToLive);
}

IcmpSocket::IcmpSocket(int timeToLive)
{
    if (!startLayer())
        return;
    auto opened = platform::openIcmpEndpoint();
    if (opened.is_error()) {
        const platform::IcmpRefusal& refusal = opened.error();
        const std::string note = "Failed to create raw socket: " + std::to_string(refusal.raw.code());
        platform::errorLine(note);
        if (refusal.fallback) {
            platform::errorLine("Failed to open the " + platform::describeIcmpKind(platform::kUnprivilegedIcmpKind)
                + " instead: " + std::to_string(refusal.fallback->code()));
            const std::string remedies = platform::icmpRefusalRemedies(refusal);
            if (!remedies.empty())
                platform::errorLine(remedies);
        }
        // A tray program has no console: a refusal for want of rights is
        // told to the user, and the run goes on without pings.
        const std::string advice = platform::rawSocketRefusalAdvice(refusal.raw);
        if (!advice.empty())
            showMessageBox(note + "\r\n" + advice, "BeaconVigilor", MessageIcon::Error);
        return;
    }
    socket_ = opened.release_value();
    setUp(timeToLive);
}

void IcmpSocket::setUp(int timeToLive)
{
    platform::traceLine("Pinging through the " + platform::describeIcmpKind(socket_.kind));
    // Refused: the socket stays in use with the system's default.
    const auto set = platform::setTimeToLive(socket_, timeToLive);
    if (set.is_error())
        platform::errorLine("TTL setsockopt failed: " + std::to_string(set.error().code()));
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

}  // namespace bv
