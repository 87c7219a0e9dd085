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
    if (size < 2)
        return 0;
    // The first two bytes choose the identifier the process takes as its own.
    const std::uint16_t ownIdentifier = static_cast<std::uint16_t>(data[0] | data[1] << 8);
    data += 2;
    size -= 2;
    auto datagram = std::make_unique<std::uint8_t[]>(size ? size : 1);
    std::memcpy(datagram.get(), data, size);
    const int count = static_cast<int>(size);

    SocketAddress sender;
    sender.family = kAddressFamilyInet;
    sender.address = 0x0A4D1001;
    ReplyInfo reply;
    const int result = static_cast<int>(decodeReply(size ? datagram.get() : nullptr, count, sender, reply, ownIdentifier));
    FUZZ_CHECK(result == 0 || result == -1 || result == -2, std::to_string(result));
    if (result == 0) {
        FUZZ_CHECK(reply.address == sender.address, "");
        FUZZ_CHECK(reply.errorText.empty() || reply.errorText == "TTL expired"
                || reply.errorText == "Destination unreachable",
            reply.errorText);
        const int header = (datagram[0] & 15) * 4;
        FUZZ_CHECK(count >= header + kEchoHeaderSize, "");
        const std::uint8_t type = datagram[header];
        FUZZ_CHECK(type == kIcmpEchoReply || type == kIcmpTimeExceeded || type == kIcmpDestinationUnreachable, "");
        if (type == kIcmpEchoReply)
            FUZZ_CHECK(reply.errorText.empty(), reply.errorText);
    } else {
        FUZZ_CHECK(reply.address == 0, "");
    }

    std::uint16_t sequence = 0;
    const bool hasSequence = readSequence(size ? datagram.get() : nullptr, count, sequence);
    if (result != -1 || hasSequence)
        FUZZ_CHECK(hasSequence == (count >= (datagram[0] & 15) * 4 + kEchoHeaderSize), "");
    platform::Ipv4Address quoted = 0;
    readQuotedDestination(size ? datagram.get() : nullptr, count, quoted);
    return 0;
}
