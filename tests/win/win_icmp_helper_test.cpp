// The ICMP helper's outcomes, read as a raw socket's datagrams: one decoder,
// the same texts whichever way the program pings.

#include "ping/icmp_message.h"
#include "ping/icmp_socket.h"
#include "platform/win/icmp_helper.h"
#include "support/addresses.h"
#include "support/captured_output.h"
#include "support/recording_desktop.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>
#include <icmpapi.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

using namespace bv;

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint16_t kIdentifier = 0x4321;

constexpr std::uint16_t kSequence = 0x0203;

struct Received {
    std::size_t size = 0;
    int decoded = -9;
    std::uint8_t type = 0;
    ReplyInfo reply;
    std::string key;  // whom the message is about
};

// The outcome of a request to `destination` (whose family is the image's)
// with `identifier`, and what the receiver hands recordResult for it.
Received receive(unsigned long status, const char* replier, const char* destination = "198.19.16.3",
    const Bytes& payload = Bytes(), std::uint16_t identifier = kIdentifier)
{
    platform::detail::HelperOutcome outcome;
    outcome.destination = test::ip(destination);
    Bytes request(44);
    fillEchoRequest(request.data(), 44, kSequence, identifier, outcome.destination.family);
    outcome.status = status;
    outcome.replier = test::ip(replier);
    outcome.timeToLive = 63;
    outcome.data = payload.data();
    outcome.dataSize = payload.size();
    outcome.request = request.data();
    outcome.requestSize = request.size();
    Bytes image(200);
    Received got;
    got.size = platform::detail::imageOfHelperOutcome(outcome, image.data(), image.size());
    if (got.size == 0)
        return got;
    got.type = image[outcome.destination.isV6() ? 0 : 20];
    CaptureStdout();
    CaptureStderr();
    got.decoded = static_cast<int>(decodeReply(
        image.data(), static_cast<int>(got.size), MessageSource { outcome.replier, -1 }, got.reply, kIdentifier));
    GetCapturedStdout();
    GetCapturedStderr();
    if (got.decoded == 0) {
        EXPECT_EQ(got.reply.sequence, kSequence) << status;
        got.key = platform::addressText(got.reply.about);
    }
    return got;
}

Bytes payloadOf(std::size_t size)
{
    Bytes payload(size);
    for (std::size_t index = 0; index < payload.size(); ++index)
        payload[index] = static_cast<std::uint8_t>('a' + index % 26);
    return payload;
}

}  // namespace

TEST(WinIcmpHelper, StatusesReadAsTheRawSocketsMessages)
{
    // A good reply: the payload echoed, the identifier the engine wrote.
    const Received good = receive(IP_SUCCESS, "198.19.16.3", "198.19.16.3", payloadOf(36));
    EXPECT_EQ(good.size, 20u + 44u);
    EXPECT_EQ(good.decoded, 0);
    EXPECT_EQ(good.reply.errorText, "");
    EXPECT_EQ(good.reply.address, test::ip("198.19.16.3"));
    EXPECT_EQ(good.key, "198.19.16.3");

    for (unsigned long status : { IP_DEST_HOST_UNREACHABLE, IP_DEST_NET_UNREACHABLE, IP_DEST_PROT_UNREACHABLE,
             IP_DEST_PORT_UNREACHABLE, IP_DEST_UNREACHABLE, IP_PACKET_TOO_BIG }) {
        const Received refused = receive(status, "198.18.2.2");
        EXPECT_EQ(refused.decoded, 0) << status;
        EXPECT_EQ(refused.reply.errorText, "Destination unreachable") << status;
        EXPECT_EQ(refused.reply.address, test::ip("198.18.2.2")) << status;
        EXPECT_EQ(refused.key, "198.19.16.3") << status;
    }
    for (unsigned long status : { IP_TTL_EXPIRED_TRANSIT, IP_TTL_EXPIRED_REASSEM, IP_TIME_EXCEEDED }) {
        const Received expired = receive(status, "198.18.1.2");
        EXPECT_EQ(expired.decoded, 0) << status;
        EXPECT_EQ(expired.reply.errorText, "TTL expired") << status;
        EXPECT_EQ(expired.reply.address, test::ip("198.18.1.2")) << status;
        EXPECT_EQ(expired.key, "198.19.16.3") << status;
    }
    // No answer at all: nothing for the receiver; the sweep times it out.
    for (unsigned long status : { IP_REQ_TIMED_OUT, IP_GENERAL_FAILURE, IP_BUF_TOO_SMALL, IP_SOURCE_QUENCH,
             IP_BAD_DESTINATION })
        EXPECT_EQ(receive(status, "0.0.0.0").size, 0u) << status;
    // Another copy's request, answered or refused, is not ours.
    EXPECT_EQ(receive(IP_SUCCESS, "198.19.16.3", "198.19.16.3", payloadOf(36), 0x1234).decoded, -2);
    EXPECT_EQ(receive(IP_DEST_HOST_UNREACHABLE, "198.18.2.2", "198.19.16.3", Bytes(), 0x1234).decoded, -2);
}

// The IPv6 helper's statuses as a raw ICMPv6 socket's messages: the texts
// the decoder gives every other kind of socket.
TEST(WinIcmpHelper, Ipv6StatusesReadAsTheRawIcmpv6SocketsMessages)
{
    const char* host = "2001:2::3";
    const Received good = receive(IP_SUCCESS, host, host, payloadOf(36));
    EXPECT_EQ(good.size, 44u) << "the ICMPv6 message alone";
    EXPECT_EQ(good.type, platform::kIcmpv6EchoReply);
    EXPECT_EQ(good.decoded, 0);
    EXPECT_EQ(good.reply.errorText, "");
    EXPECT_EQ(good.reply.address, test::ip(host));
    EXPECT_EQ(good.key, host);

    struct Expected {
        std::vector<unsigned long> statuses;
        std::uint8_t type;
        const char* text;
    };
    const Expected errors[] = {
        { { IP_DEST_NO_ROUTE, IP_DEST_PROHIBITED, IP_DEST_SCOPE_MISMATCH, IP_DEST_ADDR_UNREACHABLE,
              IP_DEST_UNREACHABLE, IP_DEST_PORT_UNREACHABLE },
            platform::kIcmpv6DestinationUnreachable, "Destination unreachable" },
        { { IP_HOP_LIMIT_EXCEEDED, IP_TIME_EXCEEDED, IP_REASSEMBLY_TIME_EXCEEDED }, platform::kIcmpv6TimeExceeded,
            "TTL expired" },
        { { IP_PACKET_TOO_BIG }, platform::kIcmpv6PacketTooBig, "Packet too big" },
    };
    for (const Expected& expected : errors) {
        for (unsigned long status : expected.statuses) {
            const Received error = receive(status, "2001:2:0:2::2", host);
            EXPECT_EQ(error.size, 8u + 40u + 44u) << status;
            EXPECT_EQ(error.type, expected.type) << status;
            EXPECT_EQ(error.decoded, 0) << status;
            EXPECT_EQ(error.reply.errorText, expected.text) << status;
            EXPECT_EQ(error.reply.address, test::ip("2001:2:0:2::2")) << status;
            EXPECT_EQ(error.key, host) << status;
        }
    }
    for (unsigned long status : { IP_REQ_TIMED_OUT, IP_GENERAL_FAILURE, IP_BUF_TOO_SMALL, IP_PARAMETER_PROBLEM,
             IP_BAD_HEADER, IP_UNRECOGNIZED_NEXT_HEADER })
        EXPECT_EQ(receive(status, "::", host).size, 0u) << status;
    EXPECT_EQ(receive(IP_SUCCESS, host, host, payloadOf(36), 0x1234).decoded, -2);
    EXPECT_EQ(receive(IP_HOP_LIMIT_EXCEEDED, "2001:2:0:2::2", host, Bytes(), 0x1234).decoded, -2);
}

// Where the system lets this user open the helper (always on Windows; under
// Wine when it may open an ICMP socket), an echo to loopback comes back to
// the receiver as a raw socket's datagram.
TEST(WinIcmpHelper, EchoToLoopbackComesBackAsARawDatagram)
{
    const auto opened = platform::detail::openIcmpHelper();
    ASSERT_FALSE(opened.is_error()) << opened.error().message();
    platform::IcmpHelper* helper = opened.value();
    platform::detail::setHelperTimeToLive(*helper, 9);
    Bytes request(44);
    fillEchoRequest(request.data(), 44, 0, kIdentifier);
    const auto sent
        = platform::detail::sendThroughHelper(*helper, request.data(), request.size(), test::ip("127.0.0.1"));
    if (sent.is_error()) {
        platform::detail::closeIcmpHelper(helper);
        GTEST_SKIP() << "the helper cannot send here: " << sent.error().message();
    }
    EXPECT_EQ(sent.value(), 44u);
    const auto readable = platform::detail::waitForHelper(*helper, 5000);
    ASSERT_FALSE(readable.is_error());
    ASSERT_TRUE(readable.value());
    Bytes image(200);
    const auto received = platform::detail::receiveFromHelper(*helper, image.data(), image.size());
    ASSERT_FALSE(received.is_error());
    EXPECT_EQ(received.value().size, 64u);
    EXPECT_EQ(received.value().sender, test::ip("127.0.0.1"));
    EXPECT_EQ(image[20], 0);
    EXPECT_EQ(image[24] | image[25] << 8, kIdentifier);
    EXPECT_EQ(Bytes(image.begin() + 28, image.begin() + 64), Bytes(request.begin() + 8, request.end()));
    // Nothing more: the queue is empty and the wait says so.
    const auto drained = platform::detail::waitForHelper(*helper, 0);
    ASSERT_FALSE(drained.is_error());
    EXPECT_FALSE(drained.value());
    EXPECT_TRUE(platform::detail::receiveFromHelper(*helper, image.data(), image.size()).is_error());
    platform::detail::closeIcmpHelper(helper);
}

// tests/win/unprivileged-wine.sh runs this under Wine as an ordinary user,
// in a network namespace whose ping group range admits every group
// (BV_EXPECT_ICMP=some: Wine's ICMP goes through datagram sockets) or none
// (BV_EXPECT_ICMP=none). The Administrator box comes only when no kind opens.
TEST(WinIcmpHelperChild, AdministratorBoxOnlyWhenNoKindOpens)
{
    const char* expected = std::getenv("BV_EXPECT_ICMP");
    if (!expected)
        GTEST_SKIP() << "run by tests/win/unprivileged-wine.sh";
    RecordingDesktop desktop;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    IcmpSocket socket(20);
    GetCapturedStdout();
    const std::string errors = GetCapturedStderr();
    if (std::string(expected) == "none") {
        EXPECT_FALSE(socket.endpoint().valid());
        EXPECT_THAT(errors, testing::HasSubstr("Failed to create raw socket: 10013\n"));
        EXPECT_THAT(errors, testing::HasSubstr("Failed to open the ICMP helper API instead: "));
        const auto boxes = desktop.boxes();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_THAT(boxes[0].text, testing::HasSubstr("must be run as Administrator"));
        EXPECT_TRUE(platform::detail::openIcmpHelper().is_error());
    } else {
        EXPECT_TRUE(socket.endpoint().valid()) << errors;
        EXPECT_TRUE(desktop.boxes().empty());
        const auto helper = platform::detail::openIcmpHelper();
        EXPECT_FALSE(helper.is_error()) << helper.error().message();
        if (!helper.is_error())
            platform::detail::closeIcmpHelper(helper.value());
    }
}
