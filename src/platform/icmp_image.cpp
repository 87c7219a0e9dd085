#include "platform/icmp_image.h"

#include "platform/icmp_numbers.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace bv {

namespace platform {

namespace {

constexpr std::uint8_t kProtocolIcmp = 1;
constexpr std::size_t kIcmpHeaderSize = 8;

void writeIpHeader(std::uint8_t* to, std::size_t totalSize, std::uint8_t timeToLive, Ipv4Address source,
    Ipv4Address destination)
{
    std::uint8_t header[kImageIpHeaderSize] = {};
    header[0] = 0x45;  // version 4, five 32-bit words
    const std::size_t length = std::min<std::size_t>(totalSize, 0xFFFF);
    header[2] = static_cast<std::uint8_t>(length >> 8);
    header[3] = static_cast<std::uint8_t>(length & 0xFF);
    header[8] = timeToLive;
    header[9] = kProtocolIcmp;
    // Addresses are kept in network order already.
    std::memcpy(header + 12, &source, 4);
    std::memcpy(header + 16, &destination, 4);
    std::memcpy(to, header, sizeof header);
}

std::size_t copyOut(std::uint8_t* buffer, std::size_t capacity, const std::vector<std::uint8_t>& image)
{
    if (capacity > 0)
        std::memcpy(buffer, image.data(), std::min(capacity, image.size()));
    return image.size();
}

}  // namespace

void writeImageIpHeader(std::uint8_t* header, std::size_t messageSize, Ipv4Address source, std::uint8_t timeToLive)
{
    writeIpHeader(header, kImageIpHeaderSize + messageSize, timeToLive, source, 0);
}

std::size_t imageOfIcmpMessage(std::uint8_t* buffer, std::size_t capacity, Ipv4Address source,
    std::uint8_t timeToLive, const std::uint8_t* icmp, std::size_t icmpSize)
{
    std::vector<std::uint8_t> image(kImageIpHeaderSize + icmpSize);
    writeIpHeader(image.data(), image.size(), timeToLive, source, 0);
    if (icmpSize > 0)
        std::memcpy(image.data() + kImageIpHeaderSize, icmp, icmpSize);
    return copyOut(buffer, capacity, image);
}

std::size_t imageOfIcmpError(std::uint8_t* buffer, std::size_t capacity, Ipv4Address offender, std::uint8_t type,
    std::uint8_t code, Ipv4Address destination, const std::uint8_t* request, std::size_t requestSize)
{
    const std::size_t quoted = std::min(requestSize, kImageQuotedRequestSize);
    std::vector<std::uint8_t> image(kImageIpHeaderSize + kIcmpHeaderSize + kImageIpHeaderSize + quoted);
    // The offender's own time to live is not reported; 64 is the usual start.
    writeIpHeader(image.data(), image.size(), 64, offender, 0);
    std::uint8_t* icmp = image.data() + kImageIpHeaderSize;
    icmp[0] = type;
    icmp[1] = code;
    writeIpHeader(icmp + kIcmpHeaderSize, kImageIpHeaderSize + requestSize, 1, 0, destination);
    if (quoted > 0)
        std::memcpy(icmp + kIcmpHeaderSize + kImageIpHeaderSize, request, quoted);
    return copyOut(buffer, capacity, image);
}

std::size_t imageOfIcmpv6Error(std::uint8_t* buffer, std::size_t capacity, std::uint8_t type, std::uint8_t code,
    const IpAddress& destination, const std::uint8_t* request, std::size_t requestSize)
{
    std::vector<std::uint8_t> image(kIcmpHeaderSize + kIpv6HeaderSize + requestSize);
    image[0] = type;
    image[1] = code;
    std::uint8_t* quoted = image.data() + kIcmpHeaderSize;
    quoted[0] = 0x60;  // version 6
    quoted[4] = static_cast<std::uint8_t>(requestSize >> 8 & 0xFF);
    quoted[5] = static_cast<std::uint8_t>(requestSize & 0xFF);
    quoted[6] = kProtocolIcmpv6;
    quoted[7] = 1;
    std::memcpy(quoted + 24, destination.bytes.data(), 16);
    if (requestSize > 0)
        std::memcpy(quoted + kIpv6HeaderSize, request, requestSize);
    return copyOut(buffer, capacity, image);
}

}  // namespace platform

}  // namespace bv
