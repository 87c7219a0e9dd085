// A datagram as the raw socket hands it over, IPv4 header in front. The
// bytes are copied to a buffer of exactly their size, so that any read
// past the end is found.

#include "ping/icmp_message.h"
#include "support/fuzz_support.h"

#include <cstring>
#include <memory>

using namespace bv;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 3)
        return 0;
    // The first two bytes choose the identifier the process takes as its
    // own, the third the family the datagram is read as.
    const std::uint16_t ownIdentifier = static_cast<std::uint16_t>(data[0] | data[1] << 8);
    const bool six = data[2] & 1;
    data += 3;
    size -= 3;
    auto datagram = std::make_unique<std::uint8_t[]>(size ? size : 1);
    std::memcpy(datagram.get(), data, size);
    const int count = static_cast<int>(size);

    static const std::uint8_t sixBytes[16] = { 0x20, 0x01, 0, 2, 0, 0, 0, 0x20, 0, 0, 0, 0, 0, 0, 0, 1 };
    MessageSource sender;
    sender.address = six ? platform::IpAddress::fromIpv6(sixBytes) : platform::IpAddress::fromIpv4(0x0A4D1001);
    sender.hopLimit = 64;
    ReplyInfo reply;
    const int result = static_cast<int>(decodeReply(size ? datagram.get() : nullptr, count, sender, reply, ownIdentifier));
    FUZZ_CHECK(result == 0 || result == -1 || result == -2, std::to_string(result));
    if (result == 0) {
        FUZZ_CHECK(reply.address == sender.address, "");
        FUZZ_CHECK(reply.about.family == sender.address.family, "");
        FUZZ_CHECK(reply.errorText.empty() || reply.errorText == "TTL expired"
                || reply.errorText == "Destination unreachable" || (six && reply.errorText == "Packet too big"),
            reply.errorText);
        const int header = six ? 0 : (datagram[0] & 15) * 4;
        FUZZ_CHECK(count >= header + kEchoHeaderSize, "");
        const std::uint8_t type = datagram[header];
        if (six)
            FUZZ_CHECK(type == 129 || type == 1 || type == 2 || type == 3, std::to_string(type));
        else
            FUZZ_CHECK(type == kIcmpEchoReply || type == kIcmpTimeExceeded || type == kIcmpDestinationUnreachable, "");
        if (type == (six ? 129 : kIcmpEchoReply))
            FUZZ_CHECK(reply.errorText.empty() && reply.about == sender.address, reply.errorText);
        else
            FUZZ_CHECK(count >= header + 2 * kEchoHeaderSize + (six ? 40 : 20), "an error without its quote");
    } else {
        FUZZ_CHECK(reply.address == platform::IpAddress {}, "");
    }
    return 0;
}
