#include "ping/icmp_message.h"

#include "platform/diagnostics.h"
#include "platform/name_lookup.h"
#include "platform/process.h"

#include <cstring>

namespace bv {

namespace {

// Header length of a received IPv4 datagram, from its first byte.
constexpr int kMinIpHeaderLength = 20;

int ipHeaderLength(const std::uint8_t* datagram)
{
    return (datagram[0] & 15) * 4;
}

int hopEstimate(int timeToLive)
{
    // Typical start values 64 and 128 would otherwise read as many hops.
    if (timeToLive == 64)
        return 1;
    if (timeToLive == 128)
        return 0;
    return 256 - timeToLive;
}

}  // namespace

std::uint16_t ownEchoIdentifier()
{
    return static_cast<std::uint16_t>(platform::currentProcessId() & 0xFFFFu);
}

std::uint16_t echoIdentifierOf(const platform::IcmpEndpoint& socket)
{
    return socket.kind == platform::IcmpSocketKind::Raw ? ownEchoIdentifier() : socket.identifier;
}

platform::ErrorOr<platform::IpAddress> resolveHost(
    const std::string& hostText, const std::optional<platform::IpAddress>& numeric, HostFamily wanted)
{
    if (numeric)
        return *numeric;
    // The text ends at its first NUL, as the resolver would read it.
    const std::string name = hostText.c_str();
    auto found = platform::lookUpName(name);
    if (!found.is_error()) {
        const platform::NameAddresses& addresses = found.value();
        if (wanted != HostFamily::V6 && addresses.v4)
            return *addresses.v4;
        if (wanted != HostFamily::V4 && addresses.v6)
            return *addresses.v6;
        found = platform::Error(0, wanted == HostFamily::V4 ? "no IPv4 address" : "no IPv6 address");
    }
    platform::errorLine("Failed to resolve " + name + ": " + found.error().message());
    return found.release_error();
}

std::uint16_t internetChecksum(const std::uint8_t* bytes, int count)
{
    // Summing big-endian words gives the value in wire order on any host.
    std::uint32_t sum = 0;
    int index = 0;
    for (; index + 1 < count; index += 2)
        sum += static_cast<std::uint32_t>(bytes[index]) << 8 | bytes[index + 1];
    if (index < count)
        sum += static_cast<std::uint32_t>(bytes[index]) << 8;
    sum = (sum & 0xFFFFu) + (sum >> 16);
    sum = (sum & 0xFFFFu) + (sum >> 16);
    return static_cast<std::uint16_t>(~sum & 0xFFFFu);
}

std::uint16_t fillEchoRequest(std::uint8_t* buffer, int size, std::uint16_t sequence)
{
    return fillEchoRequest(buffer, size, sequence, ownEchoIdentifier());
}

std::uint16_t fillEchoRequest(
    std::uint8_t* buffer, int size, std::uint16_t sequence, std::uint16_t identifier, platform::AddressFamily family)
{
    const bool six = family == platform::AddressFamily::V6;
    buffer[0] = six ? platform::kIcmpv6EchoRequest : kIcmpEchoRequest;
    buffer[1] = 0;
    buffer[2] = 0;
    buffer[3] = 0;
    // Low byte first, as a little-endian host stores them unconverted.
    buffer[4] = static_cast<std::uint8_t>(identifier & 0xFF);
    buffer[5] = static_cast<std::uint8_t>(identifier >> 8);
    buffer[6] = static_cast<std::uint8_t>(sequence & 0xFF);
    buffer[7] = static_cast<std::uint8_t>(sequence >> 8);
    for (int index = kEchoHeaderSize; index < size; ++index)
        buffer[index] = static_cast<std::uint8_t>('a' + (index - kEchoHeaderSize) % 26);
    if (six)
        return 0;
    const std::uint16_t checksum = internetChecksum(buffer, size);
    buffer[2] = static_cast<std::uint8_t>(checksum >> 8);
    buffer[3] = static_cast<std::uint8_t>(checksum & 0xFF);
    return checksum;
}

SendResult sendEcho(const platform::IcmpEndpoint& socket, const platform::IpAddress& destination,
    const std::uint8_t* buffer, int size)
{
    const auto sent
        = platform::sendDatagram(socket, buffer, size > 0 ? static_cast<std::size_t>(size) : 0, destination);
    if (platform::traceWanted()) {
        const std::string text = platform::addressText(destination);
        platform::traceLine("Sending " + std::to_string(size) + " bytes to " + text + "... done sending bytes to " + text);
    }
    if (sent.is_error()) {
        platform::errorLine("send failed: " + std::to_string(sent.error().code()));
        return SendResult::Failed;
    }
    if (sent.value() < static_cast<std::size_t>(size))
        platform::traceLine("sent " + std::to_string(sent.value()) + " bytes...");
    return SendResult::Sent;
}

int receiveMessage(const platform::IcmpEndpoint& socket, MessageSource& sender, std::uint8_t* buffer, int capacity)
{
    sender = MessageSource {};
    const auto received
        = platform::receiveDatagram(socket, buffer, capacity > 0 ? static_cast<std::size_t>(capacity) : 0);
    if (received.is_error()) {
        const platform::Error& error = received.error();
        platform::errorLine(std::string("read failed: ")
            + (error.is(platform::ErrorKind::MessageTooLong) ? std::string("buffer too small")
                                                              : "error #" + std::to_string(error.code())));
        return -1;
    }
    sender.address = received.value().sender;
    sender.hopLimit = received.value().hopLimit;
    sender.kernelArrival = received.value().kernelArrivalMicroseconds;
    return static_cast<int>(received.value().size);
}

DecodeResult decodeReply(const std::uint8_t* datagram, int count, const MessageSource& sender, ReplyInfo& reply)
{
    return decodeReply(datagram, count, sender, reply, ownEchoIdentifier());
}

namespace {

std::uint16_t lowByteFirst(const std::uint8_t* field)
{
    return static_cast<std::uint16_t>(field[0] | field[1] << 8);
}

// What both families' messages come to once their layout is read.
struct MessageView {
    bool quiet = false;  // the prober's: every other process's traffic passes it
    bool isError = false;
    const std::uint8_t* echo = nullptr;  // the echo reply, or the request an error quotes
    std::string errorText;
};

DecodeResult tooFewBytes(const MessageSource& sender, const MessageView& view)
{
    if (!view.quiet)
        platform::errorLine("too few bytes from " + platform::addressText(sender.address));
    return DecodeResult::Unusable;
}

DecodeResult unknownType(std::uint8_t type, const MessageView& view)
{
    if (!view.quiet)
        platform::errorLine("Unknown ICMP packet type " + std::to_string(type) + " received");
    return DecodeResult::Unusable;
}

// An IPv4 datagram: its header, then the ICMP message; an error quotes the
// request's IPv4 header and its first 8 bytes.
DecodeResult readIpv4(const std::uint8_t* datagram, int count, const MessageSource& sender, MessageView& view,
    ReplyInfo& reply)
{
    // A header length field below 5 is no IPv4 header: the time to live at
    // byte 8 would lie beyond a datagram of 8 bytes.
    if (count <= 0 || count < ipHeaderLength(datagram) + kEchoHeaderSize
        || ipHeaderLength(datagram) < kMinIpHeaderLength)
        return tooFewBytes(sender, view);
    const std::uint8_t* icmp = datagram + ipHeaderLength(datagram);
    switch (icmp[0]) {
    case kIcmpEchoReply:
        view.echo = icmp;
        reply.about = sender.address;
        return DecodeResult::Usable;
    case kIcmpTimeExceeded:
        reply.timeExceeded = true;
        view.errorText = "TTL expired";
        break;
    case kIcmpDestinationUnreachable:
        view.errorText = "Destination unreachable";
        break;
    default:
        return unknownType(icmp[0], view);
    }
    view.isError = true;
    const int quotedAt = static_cast<int>(icmp - datagram) + kEchoHeaderSize;
    if (count < quotedAt + kMinIpHeaderLength || ipHeaderLength(datagram + quotedAt) < kMinIpHeaderLength
        || count < quotedAt + ipHeaderLength(datagram + quotedAt) + kEchoHeaderSize)
        return tooFewBytes(sender, view);
    platform::Ipv4Address destination = 0;
    // The bytes are already in network order, which is how the address is kept.
    std::memcpy(&destination, datagram + quotedAt + 16, sizeof destination);
    reply.about = platform::IpAddress::fromIpv4(destination);
    view.echo = datagram + quotedAt + ipHeaderLength(datagram + quotedAt);
    return DecodeResult::Usable;
}

bool isLinkLocal(const platform::IpAddress& address)
{
    return address.isV6() && address.bytes[0] == 0xFE && (address.bytes[1] & 0xC0) == 0x80;
}

// An ICMPv6 message alone; an error quotes the request's IPv6 header and as
// much of the request as fits.
DecodeResult readIpv6(const std::uint8_t* message, int count, const MessageSource& sender, MessageView& view,
    ReplyInfo& reply)
{
    if (count < kEchoHeaderSize)
        return tooFewBytes(sender, view);
    switch (message[0]) {
    case platform::kIcmpv6EchoReply:
        view.echo = message;
        reply.about = sender.address;
        return DecodeResult::Usable;
    case platform::kIcmpv6TimeExceeded:
        reply.timeExceeded = true;
        view.errorText = "TTL expired";
        break;
    case platform::kIcmpv6DestinationUnreachable:
        view.errorText = "Destination unreachable";
        break;
    case platform::kIcmpv6PacketTooBig:
        view.errorText = "Packet too big";
        break;
    default:
        return unknownType(message[0], view);
    }
    view.isError = true;
    constexpr int quotedAt = kEchoHeaderSize;
    if (count < quotedAt + static_cast<int>(platform::kIpv6HeaderSize) + kEchoHeaderSize)
        return tooFewBytes(sender, view);
    const std::uint8_t* quoted = message + quotedAt;
    reply.about = platform::IpAddress::fromIpv6(quoted + 24);
    // The quoted header has no zone; a link-local destination lies on the
    // link the error came from.
    if (isLinkLocal(reply.about))
        reply.about.scope = sender.address.scope;
    if (quoted[6] != platform::kProtocolIcmpv6)
        return DecodeResult::NotOurs;
    view.echo = quoted + platform::kIpv6HeaderSize;
    return DecodeResult::Usable;
}

}  // namespace

DecodeResult decodeReply(const std::uint8_t* datagram, int count, const MessageSource& sender, ReplyInfo& reply,
    std::uint16_t ownIdentifier)
{
    return decodeReply(datagram, count, sender, reply, ownIdentifier, false);
}

DecodeResult decodeReply(const std::uint8_t* datagram, int count, const MessageSource& sender, ReplyInfo& reply,
    std::uint16_t ownIdentifier, bool quiet)
{
    const bool six = sender.address.isV6();
    MessageView view;
    view.quiet = quiet;
    const DecodeResult layout = six ? readIpv6(datagram, count, sender, view, reply)
                                    : readIpv4(datagram, count, sender, view, reply);
    if (layout != DecodeResult::Usable) {
        if (layout == DecodeResult::NotOurs && !quiet)
            platform::traceLine("this ICMP error wasn't about a request of mine");
        return layout;
    }
    // Another copy's identifier: its reply, or an error about its request,
    // which would otherwise count against our host of that address.
    const std::uint8_t requestType = six ? platform::kIcmpv6EchoRequest : kIcmpEchoRequest;
    if (lowByteFirst(view.echo + 4) != ownIdentifier || (view.isError && view.echo[0] != requestType)) {
        if (!quiet)
            platform::traceLine(view.isError ? "this ICMP error wasn't about a request of mine" : "this ping reply wasn't for me");
        return DecodeResult::NotOurs;
    }
    reply.sequence = lowByteFirst(view.echo + 6);
    reply.errorText = view.errorText;
    reply.timeToLive = six ? sender.hopLimit : datagram[8];
    if (view.errorText != "TTL expired" && !view.errorText.empty() && !quiet)
        platform::errorLine(view.errorText);
    reply.address = sender.address;
    // Built for every reply, so only when somebody can read it.
    if (quiet || !platform::traceWanted())
        return DecodeResult::Usable;
    const int hops = hopEstimate(six ? (sender.hopLimit < 0 ? 64 : sender.hopLimit) : datagram[8]);
    std::string line = std::to_string(count) + " bytes from " + platform::addressText(sender.address) + ", icmp_seq "
        + std::to_string(reply.sequence) + ", ";
    if (view.errorText == "TTL expired")
        line += "TTL expired.";
    else
        line += std::to_string(hops) + " hop" + (hops == 1 ? "" : "s") + " ms.";
    platform::traceLine(line);
    return DecodeResult::Usable;
}

}  // namespace bv
