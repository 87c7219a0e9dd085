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

namespace {

// IPv4's notes keep the bare code they always had; IPv6's, new, say it in words.
std::string reasonOf(const platform::Error& error, platform::AddressFamily family)
{
    return family == platform::AddressFamily::V6 ? std::to_string(error.code()) + " (" + error.message() + ")"
                                                 : std::to_string(error.code());
}

}  // namespace

IcmpSocket::IcmpSocket(int timeToLive, platform::IcmpSocketKind only, platform::AddressFamily family)
{
    if (!startLayer())
        return;
    auto opened = platform::openIcmpEndpointOfKind(only, family);
    if (opened.is_error()) {
        platform::errorLine(
            "Failed to open the " + platform::describeIcmpKind(only, family) + ": " + reasonOf(opened.error(), family));
        return;
    }
    socket_ = opened.release_value();
    setUp(timeToLive);
}

IcmpSocket::IcmpSocket(int timeToLive, platform::AddressFamily family)
{
    if (!startLayer())
        return;
    auto opened = platform::openIcmpEndpoint(family);
    if (opened.is_error()) {
        const platform::IcmpRefusal& refusal = opened.error();
        const bool six = family == platform::AddressFamily::V6;
        const std::string note
            = std::string(six ? "Failed to create raw ICMPv6 socket: " : "Failed to create raw socket: ")
            + reasonOf(refusal.raw, family);
        platform::errorLine(note);
        if (refusal.fallback) {
            platform::errorLine("Failed to open the "
                + platform::describeIcmpKind(platform::kUnprivilegedIcmpKind, family)
                + " instead: " + reasonOf(*refusal.fallback, family));
            const std::string remedies = platform::icmpRefusalRemedies(refusal);
            if (!remedies.empty())
                platform::errorLine(remedies);
        }
        // A tray program has no console: a refusal for want of rights is
        // told to the user, and the run goes on without pings.
        const std::string advice = platform::rawSocketRefusalAdvice(refusal.raw);
        if (!advice.empty() && !six)
            showMessageBox(note + "\r\n" + advice, "BeaconVigilor", MessageIcon::Error);
        return;
    }
    socket_ = opened.release_value();
    setUp(timeToLive);
}

void IcmpSocket::setUp(int timeToLive)
{
    platform::traceLine("Pinging through the " + platform::describeIcmpKind(socket_.kind, socket_.family));
    // Refused: the socket stays in use with the system's default.
    const auto set = platform::setTimeToLive(socket_, timeToLive);
    if (set.is_error())
        platform::errorLine("TTL setsockopt failed: " + std::to_string(set.error().code()));
    // Without the kernel's stamps the program's own clock times the round
    // trips; each reply's trace line says which.
    kernelStamps_ = !platform::enableKernelStamps(socket_).is_error();
}

std::optional<std::int64_t> IcmpSocket::takeSendStamp()
{
    if (!kernelStamps_)
        return std::nullopt;
    const std::uint32_t expected = nextSend_++;
    // Stamps of earlier sends that came too late are of no use now. A number
    // beyond the expected one means the kernel counted a send that failed:
    // the newest stamp is this send's.
    constexpr int kLongestDrain = 64;
    for (int read = 0; read < kLongestDrain; ++read) {
        const auto stamp = platform::readSendStamp(socket_);
        if (stamp.is_error() || !stamp.value())
            return std::nullopt;
        const platform::SendStamp& found = *stamp.value();
        const auto ahead = static_cast<std::int32_t>(found.send - expected);
        if (ahead >= 0) {
            nextSend_ = found.send + 1;
            return found.microseconds;
        }
    }
    return std::nullopt;
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

namespace {

std::unique_ptr<IcmpSocket> openSocket(
    int timeToLive, std::optional<platform::IcmpSocketKind> only, platform::AddressFamily family)
{
    return only ? std::make_unique<IcmpSocket>(timeToLive, *only, family)
                : std::make_unique<IcmpSocket>(timeToLive, family);
}

}  // namespace

IcmpSockets::IcmpSockets(int timeToLive, std::optional<platform::IcmpSocketKind> only)
    : timeToLive_(timeToLive)
    , only_(only)
    , ipv4_(openSocket(timeToLive, only, platform::AddressFamily::V4))
{
}

IcmpSockets::~IcmpSockets() = default;

IcmpSocket* IcmpSockets::forSending(platform::AddressFamily family)
{
    if (family == platform::AddressFamily::V4)
        return ipv4_.get();
    if (!ipv6Tried_) {
        ipv6Tried_ = true;
        ipv6_ = openSocket(timeToLive_, only_, family);
        if (ipv6_->valid())
            ipv6Open_.store(ipv6_.get());
        else
            platform::errorLine(std::string("IPv6 hosts cannot be pinged: ") + kNoIpv6SocketText);
    }
    return ipv6Open_.load();
}

IcmpSocket* IcmpSockets::opened(platform::AddressFamily family) const
{
    return family == platform::AddressFamily::V4 ? ipv4_.get() : ipv6Open_.load();
}

}  // namespace bv
