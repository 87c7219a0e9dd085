// What the unprivileged kinds of socket hand the decoder: the bytes a raw
// socket would have read, so that one decoder serves every kind.

#include "ping/icmp_message.h"
#include "platform/icmp_image.h"
#include "platform/ipv4.h"
#include "platform/linux/icmp_datagram.h"
#include "support/captured_output.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <linux/errqueue.h>

#include <cstdint>
#include <vector>

using namespace bv;

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint16_t kIdentifier = 0x1234;

Bytes echoRequest()
{
    Bytes request(44);
    fillEchoRequest(request.data(), 44, 0, kIdentifier);
    return request;
}

// What the receiver makes of an image: the decoder's verdict, the reply for
// recordResult and the address whose host it answers.
struct Received {
    int decoded = -9;
    ReplyInfo reply;
    std::string key;
    std::uint16_t sequence = 0xFFFF;
};

Received receive(const Bytes& image, platform::Ipv4Address from)
{
    Received got;
    SocketAddress sender;
    sender.family = kAddressFamilyInet;
    sender.address = from;
    CaptureStdout();
    CaptureStderr();
    const int count = static_cast<int>(image.size());
    EXPECT_TRUE(readSequence(image.data(), count, got.sequence));
    got.decoded = static_cast<int>(decodeReply(image.data(), count, sender, got.reply, kIdentifier));
    platform::Ipv4Address quoted = 0;
    got.key = platform::dottedQuad(
        !got.reply.errorText.empty() && readQuotedDestination(image.data(), count, quoted) ? quoted : from);
    GetCapturedStdout();
    GetCapturedStderr();
    return got;
}

Bytes errorImage(std::uint8_t origin, std::uint8_t type, std::uint8_t code, const Bytes& request)
{
    platform::detail::ErrorQueueEntry entry;
    entry.origin = origin;
    entry.type = type;
    entry.code = code;
    entry.offender = platform::parseIpv4("198.18.1.2");
    entry.destination = platform::parseIpv4("198.19.16.3");
    entry.request = request.data();
    entry.requestSize = request.size();
    Bytes image(256);
    const std::size_t size = platform::detail::imageOfErrorQueueEntry(entry, image.data(), image.size());
    image.resize(size);
    return image;
}

}  // namespace

TEST(IcmpDatagram, ErrorQueueEntriesReadAsTheRawSocketsErrors)
{
    const Bytes request = echoRequest();
    // Host, network, port unreachable, administratively prohibited: one text.
    for (std::uint8_t code : { 0, 1, 3, 10, 13 }) {
        const Bytes image = errorImage(SO_EE_ORIGIN_ICMP, 3, code, request);
        ASSERT_EQ(image.size(), 20u + 8u + 20u + 8u) << int(code);
        const Received got = receive(image, platform::parseIpv4("198.18.1.2"));
        EXPECT_EQ(got.decoded, 0);
        EXPECT_EQ(got.sequence, 0);
        EXPECT_EQ(got.reply.errorText, "Destination unreachable");
        EXPECT_EQ(got.reply.address, platform::parseIpv4("198.18.1.2"));
        EXPECT_EQ(got.key, "198.19.16.3");
    }
    const Received expired = receive(errorImage(SO_EE_ORIGIN_ICMP, 11, 0, request), platform::parseIpv4("198.18.1.2"));
    EXPECT_EQ(expired.decoded, 0);
    EXPECT_EQ(expired.reply.errorText, "TTL expired");
    EXPECT_EQ(expired.reply.address, platform::parseIpv4("198.18.1.2"));
    EXPECT_EQ(expired.key, "198.19.16.3");

    // The quote is the request's header and first bytes, as RFC 792 has it.
    const Bytes image = errorImage(SO_EE_ORIGIN_ICMP, 11, 0, request);
    EXPECT_EQ(Bytes(image.begin() + 48, image.end()), Bytes(request.begin(), request.begin() + 8));
    EXPECT_EQ(image[20], 11);
    EXPECT_EQ(image[28] >> 4, 4);

    // Local errors (a send the kernel refused) and other types are no answer.
    EXPECT_TRUE(errorImage(SO_EE_ORIGIN_LOCAL, 3, 1, request).empty());
    EXPECT_TRUE(errorImage(SO_EE_ORIGIN_ICMP, 5, 1, request).empty());
    EXPECT_TRUE(errorImage(SO_EE_ORIGIN_ICMP, 3, 1, Bytes()).empty());

    // A buffer too small learns the size needed and holds the first bytes.
    platform::detail::ErrorQueueEntry entry;
    entry.origin = SO_EE_ORIGIN_ICMP;
    entry.type = 3;
    entry.request = request.data();
    entry.requestSize = request.size();
    Bytes small(10, 0xEE);
    EXPECT_EQ(platform::detail::imageOfErrorQueueEntry(entry, small.data(), small.size()), 56u);
    EXPECT_EQ(small[0], 0x45);
}

TEST(IcmpDatagram, RepliesGetTheHeaderARawSocketReads)
{
    Bytes reply = echoRequest();
    reply[0] = kIcmpEchoReply;
    Bytes image(200);
    const std::size_t size = platform::imageOfIcmpMessage(
        image.data(), image.size(), platform::parseIpv4("198.19.16.1"), 63, reply.data(), reply.size());
    ASSERT_EQ(size, 64u);
    image.resize(size);
    EXPECT_EQ(image[0], 0x45);
    EXPECT_EQ(image[2] << 8 | image[3], 64);
    EXPECT_EQ(image[8], 63);
    EXPECT_EQ(image[9], 1);
    EXPECT_EQ(Bytes(image.begin() + 20, image.end()), reply);
    const Received got = receive(image, platform::parseIpv4("198.19.16.1"));
    EXPECT_EQ(got.decoded, 0);
    EXPECT_EQ(got.reply.errorText, "");
    EXPECT_EQ(got.reply.address, platform::parseIpv4("198.19.16.1"));
    EXPECT_EQ(got.key, "198.19.16.1");

    // The identifier still tells whose reply it is.
    reply[4] ^= 1;
    platform::imageOfIcmpMessage(
        image.data(), image.size(), platform::parseIpv4("198.19.16.1"), 63, reply.data(), reply.size());
    EXPECT_EQ(receive(image, platform::parseIpv4("198.19.16.1")).decoded, -2);
}
