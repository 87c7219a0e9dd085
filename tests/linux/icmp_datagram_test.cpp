// What the unprivileged kinds of socket hand the decoder: the bytes a raw
// socket would have read, so that one decoder serves every kind.

#include "ping/icmp_message.h"
#include "platform/icmp_image.h"
#include "platform/ipv4.h"
#include "support/addresses.h"
#include "platform/linux/icmp_datagram.h"
#include "support/captured_output.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <linux/errqueue.h>

#include <cstdint>
#include <vector>

using namespace bv;
using bv::test::ip;

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint16_t kIdentifier = 0x1234;

Bytes echoRequest(platform::AddressFamily family = platform::AddressFamily::V4)
{
    Bytes request(44);
    fillEchoRequest(request.data(), 44, 0, kIdentifier, family);
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

Received receive(const Bytes& image, const platform::IpAddress& from)
{
    Received got;
    const MessageSource sender { from, -1 };
    CaptureStdout();
    CaptureStderr();
    const int count = static_cast<int>(image.size());
    got.decoded = static_cast<int>(decodeReply(image.data(), count, sender, got.reply, kIdentifier));
    got.sequence = got.reply.sequence;
    got.key = platform::addressText(got.reply.about);
    GetCapturedStdout();
    GetCapturedStderr();
    return got;
}

Bytes errorImage(std::uint8_t origin, std::uint8_t type, std::uint8_t code, const Bytes& request,
    const char* offender = "198.18.1.2", const char* destination = "198.19.16.3")
{
    platform::detail::ErrorQueueEntry entry;
    entry.origin = origin;
    entry.type = type;
    entry.code = code;
    entry.offender = ip(offender);
    entry.destination = ip(destination);
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
        const Received got = receive(image, ip("198.18.1.2"));
        EXPECT_EQ(got.decoded, 0);
        EXPECT_EQ(got.sequence, 0);
        EXPECT_EQ(got.reply.errorText, "Destination unreachable");
        EXPECT_EQ(got.reply.address, ip("198.18.1.2"));
        EXPECT_EQ(got.key, "198.19.16.3");
    }
    const Received expired = receive(errorImage(SO_EE_ORIGIN_ICMP, 11, 0, request), ip("198.18.1.2"));
    EXPECT_EQ(expired.decoded, 0);
    EXPECT_EQ(expired.reply.errorText, "TTL expired");
    EXPECT_EQ(expired.reply.address, ip("198.18.1.2"));
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

    // IPv6: the same texts; the image is what a raw ICMPv6 socket reads.
    const Bytes request6 = echoRequest(platform::AddressFamily::V6);
    struct Case {
        std::uint8_t type;
        std::uint8_t code;
        const char* text;
    };
    for (const Case& error : { Case { 1, 0, "Destination unreachable" }, Case { 1, 3, "Destination unreachable" },
             Case { 1, 4, "Destination unreachable" }, Case { 3, 0, "TTL expired" }, Case { 2, 0, "Packet too big" } }) {
        SCOPED_TRACE(error.text);
        const Bytes image6
            = errorImage(SO_EE_ORIGIN_ICMP6, error.type, error.code, request6, "2001:2:0:11::2", "2001:2:0:20::3");
        ASSERT_EQ(image6.size(), 8u + 40u + 44u);
        const Received got = receive(image6, ip("2001:2:0:11::2"));
        EXPECT_EQ(got.decoded, 0);
        EXPECT_EQ(got.reply.errorText, error.text);
        EXPECT_EQ(got.key, "2001:2:0:20::3");
    }
    EXPECT_TRUE(errorImage(SO_EE_ORIGIN_ICMP6, 4, 0, request6, "2001:2::1", "2001:2::3").empty());
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
    const Received got = receive(image, ip("198.19.16.1"));
    EXPECT_EQ(got.decoded, 0);
    EXPECT_EQ(got.reply.errorText, "");
    EXPECT_EQ(got.reply.address, ip("198.19.16.1"));
    EXPECT_EQ(got.key, "198.19.16.1");

    // The identifier still tells whose reply it is.
    reply[4] ^= 1;
    platform::imageOfIcmpMessage(
        image.data(), image.size(), platform::parseIpv4("198.19.16.1"), 63, reply.data(), reply.size());
    EXPECT_EQ(receive(image, ip("198.19.16.1")).decoded, -2);
}
