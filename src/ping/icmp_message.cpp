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

platform::ErrorOr<SocketAddress> resolveHost(const std::string& hostText, platform::Ipv4Address numericAddress)
{
    SocketAddress destination;
    destination.family = kAddressFamilyInet;
    if (numericAddress != platform::kNoAddress) {
        destination.address = numericAddress;
        return destination;
    }
    // The text ends at its first NUL, as the resolver would read it.
    const std::string name = hostText.c_str();
    auto found = platform::lookUpName(name);
    if (found.is_error()) {
        platform::errorLine("Failed to resolve " + name + ": " + found.error().message());
        return found.release_error();
    }
    destination.address = found.value();
    return destination;
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

std::uint16_t fillEchoRequest(std::uint8_t* buffer, int size, std::uint16_t sequence, std::uint16_t identifier)
{
    buffer[0] = kIcmpEchoRequest;
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
    const std::uint16_t checksum = internetChecksum(buffer, size);
    buffer[2] = static_cast<std::uint8_t>(checksum >> 8);
    buffer[3] = static_cast<std::uint8_t>(checksum & 0xFF);
    return checksum;
}

SendResult sendEcho(
    const platform::IcmpEndpoint& socket, const SocketAddress& destination, const std::uint8_t* buffer, int size)
{
    const auto sent
        = platform::sendDatagram(socket, buffer, size > 0 ? static_cast<std::size_t>(size) : 0, destination.address);
    if (platform::traceWanted()) {
        const std::string dotted = platform::dottedQuad(destination.address);
        platform::traceLine("Sending " + std::to_string(size) + " bytes to " + dotted + "... done sending bytes to "
            + dotted);
    }
    if (sent.is_error()) {
        platform::errorLine("send failed: " + std::to_string(sent.error().code()));
        return SendResult::Failed;
    }
    if (sent.value() < static_cast<std::size_t>(size))
        platform::traceLine("sent " + std::to_string(sent.value()) + " bytes...");
    return SendResult::Sent;
}

int receiveMessage(const platform::IcmpEndpoint& socket, SocketAddress& sender, std::uint8_t* buffer, int capacity)
{
    sender = SocketAddress {};
    const auto received
        = platform::receiveDatagram(socket, buffer, capacity > 0 ? static_cast<std::size_t>(capacity) : 0);
    if (received.is_error()) {
        const platform::Error& error = received.error();
        platform::errorLine(std::string("read failed: ")
            + (error.is(platform::ErrorKind::MessageTooLong) ? std::string("buffer too small")
                                                              : "error #" + std::to_string(error.code())));
        return -1;
    }
    sender.family = kAddressFamilyInet;
    sender.address = received.value().sender;
    return static_cast<int>(received.value().size);
}

DecodeResult decodeReply(const std::uint8_t* datagram, int count, const SocketAddress& sender, ReplyInfo& reply)
{
    return decodeReply(datagram, count, sender, reply, ownEchoIdentifier());
}

DecodeResult decodeReply(const std::uint8_t* datagram, int count, const SocketAddress& sender, ReplyInfo& reply,
    std::uint16_t ownIdentifier)
{
    // A header length field below 5 is no IPv4 header: the time to live at
    // byte 8 would lie beyond a datagram of 8 bytes.
    if (count <= 0 || count < ipHeaderLength(datagram) + kEchoHeaderSize
        || ipHeaderLength(datagram) < kMinIpHeaderLength) {
        platform::errorLine("too few bytes from " + platform::dottedQuad(sender.address));
        return DecodeResult::Unusable;
    }
    const int header = ipHeaderLength(datagram);
    const std::uint8_t* icmp = datagram + header;
    const std::uint8_t type = icmp[0];
    switch (type) {
    case kIcmpEchoReply:
        if (icmp[4] != (ownIdentifier & 0xFF) || icmp[5] != (ownIdentifier >> 8)) {
            platform::traceLine("this ping reply wasn't for me");
            return DecodeResult::NotOurs;
        }
        break;
    case kIcmpTimeExceeded:
        break;
    case kIcmpDestinationUnreachable:
        platform::errorLine("Destination unreachable");
        reply.errorText = "Destination unreachable";
        break;
    default:
        platform::errorLine("Unknown ICMP packet type " + std::to_string(type) + " received");
        return DecodeResult::Unusable;
    }

    reply.address = sender.address;
    if (type == kIcmpTimeExceeded)
        reply.errorText = "TTL expired";
    // Built for every reply, so only when somebody can read it.
    if (!platform::traceWanted())
        return DecodeResult::Usable;
    const int hops = hopEstimate(datagram[8]);
    const unsigned sequence = static_cast<unsigned>(icmp[6]) | static_cast<unsigned>(icmp[7]) << 8;
    std::string line = std::to_string(count) + " bytes from " + platform::dottedQuad(sender.address) + ", icmp_seq "
        + std::to_string(sequence) + ", ";
    if (type == kIcmpTimeExceeded)
        line += "TTL expired.";
    else
        line += std::to_string(hops) + " hop" + (hops == 1 ? "" : "s") + " ms.";
    platform::traceLine(line);
    return DecodeResult::Usable;
}

bool readSequence(const std::uint8_t* datagram, int count, std::uint16_t& sequence)
{
    if (count <= 0)
        return false;
    const int header = ipHeaderLength(datagram);
    if (count < header + kEchoHeaderSize)
        return false;
    sequence = static_cast<std::uint16_t>(datagram[header + 6] | datagram[header + 7] << 8);
    return true;
}

bool readQuotedDestination(const std::uint8_t* datagram, int count, platform::Ipv4Address& destination)
{
    if (count <= 0)
        return false;
    const int offset = ipHeaderLength(datagram) + kEchoHeaderSize + 16;
    if (count < offset + 4)
        return false;
    // The bytes are already in network order, which is how the address is kept.
    std::memcpy(&destination, datagram + offset, sizeof destination);
    return true;
}

}  // namespace bv
