// The ICMP helper's outcomes, read as a raw socket's datagrams: one decoder,
// the same texts whichever way the program pings.

#include "ping/icmp_message.h"
#include "ping/icmp_socket.h"
#include "platform/ipv4.h"
#include "platform/win/icmp_helper.h"
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

struct Received {
    std::size_t size = 0;
    int decoded = -9;
    ReplyInfo reply;
    std::string key;
};

// The outcome's image, and what the receiver hands recordResult for it.
Received receive(unsigned long status, const char* replier, const Bytes& payload = Bytes())
{
    Bytes request(44);
    fillEchoRequest(request.data(), 44, 0, kIdentifier);
    platform::detail::HelperOutcome outcome;
    outcome.status = status;
    outcome.replier = platform::parseIpv4(replier);
    outcome.timeToLive = 63;
    outcome.data = payload.data();
    outcome.dataSize = payload.size();
    outcome.destination = platform::parseIpv4("198.19.16.3");
    outcome.request = request.data();
    outcome.requestSize = request.size();
    Bytes image(200);
    Received got;
    got.size = platform::detail::imageOfHelperOutcome(outcome, image.data(), image.size());
    if (got.size == 0)
        return got;
    SocketAddress sender;
    sender.family = kAddressFamilyInet;
    sender.address = outcome.replier;
    CaptureStdout();
    CaptureStderr();
    std::uint16_t sequence = 1;
    EXPECT_TRUE(readSequence(image.data(), static_cast<int>(got.size), sequence));
    EXPECT_EQ(sequence, 0);
    got.decoded = static_cast<int>(decodeReply(image.data(), static_cast<int>(got.size), sender, got.reply, kIdentifier));
    platform::Ipv4Address quoted = 0;
    got.key = platform::dottedQuad(!got.reply.errorText.empty()
                && readQuotedDestination(image.data(), static_cast<int>(got.size), quoted)
            ? quoted
            : outcome.replier);
    GetCapturedStdout();
    GetCapturedStderr();
    return got;
}

}  // namespace

TEST(WinIcmpHelper, StatusesReadAsTheRawSocketsMessages)
{
    // A good reply: the payload echoed, the identifier the engine wrote.
    Bytes payload(36);
    for (std::size_t index = 0; index < payload.size(); ++index)
        payload[index] = static_cast<std::uint8_t>('a' + index % 26);
    const Received good = receive(IP_SUCCESS, "198.19.16.3", payload);
    EXPECT_EQ(good.size, 20u + 44u);
    EXPECT_EQ(good.decoded, 0);
    EXPECT_EQ(good.reply.errorText, "");
    EXPECT_EQ(good.reply.address, platform::parseIpv4("198.19.16.3"));
    EXPECT_EQ(good.key, "198.19.16.3");

    for (unsigned long status : { IP_DEST_HOST_UNREACHABLE, IP_DEST_NET_UNREACHABLE, IP_DEST_PROT_UNREACHABLE,
             IP_DEST_PORT_UNREACHABLE, IP_DEST_UNREACHABLE, IP_PACKET_TOO_BIG }) {
        const Received refused = receive(status, "198.18.2.2");
        EXPECT_EQ(refused.decoded, 0) << status;
        EXPECT_EQ(refused.reply.errorText, "Destination unreachable") << status;
        EXPECT_EQ(refused.reply.address, platform::parseIpv4("198.18.2.2")) << status;
        EXPECT_EQ(refused.key, "198.19.16.3") << status;
    }
    for (unsigned long status : { IP_TTL_EXPIRED_TRANSIT, IP_TTL_EXPIRED_REASSEM, IP_TIME_EXCEEDED }) {
        const Received expired = receive(status, "198.18.1.2");
        EXPECT_EQ(expired.decoded, 0) << status;
        EXPECT_EQ(expired.reply.errorText, "TTL expired") << status;
        EXPECT_EQ(expired.reply.address, platform::parseIpv4("198.18.1.2")) << status;
        EXPECT_EQ(expired.key, "198.19.16.3") << status;
    }
    // No answer at all: nothing for the receiver; the sweep times it out.
    for (unsigned long status : { IP_REQ_TIMED_OUT, IP_GENERAL_FAILURE, IP_BUF_TOO_SMALL, IP_SOURCE_QUENCH,
             IP_BAD_DESTINATION })
        EXPECT_EQ(receive(status, "0.0.0.0").size, 0u) << status;
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
        = platform::detail::sendThroughHelper(*helper, request.data(), request.size(), platform::parseIpv4("127.0.0.1"));
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
    EXPECT_EQ(received.value().sender, platform::parseIpv4("127.0.0.1"));
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
