#include "ping/icmp_message.h"
#include "ping/icmp_socket.h"
#include "platform/raw_socket.h"

#include "support/addresses.h"
#include "support/captured_output.h"
#include "support/receive_until.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

using namespace bv;

using testing::HasSubstr;

// Under Wine the raw socket needs root, as it needs Administrator on Windows.
TEST(WinRawSocket, EchoToLoopbackComesBackWithItsIpHeaderAndOwnTtl)
{
    IcmpSocket socket(7);
    if (socket.handle() == platform::kInvalidSocket)
        GTEST_SKIP() << "raw sockets refused here (run as root under Wine)";

    const auto destination = resolveHost("127.0.0.1", test::ip("127.0.0.1"));
    ASSERT_FALSE(destination.is_error());
    std::vector<std::uint8_t> request(44);
    fillEchoRequest(request.data(), 44, 0);
    ASSERT_EQ(sendEcho(socket.endpoint(), destination.value(), request.data(), 44), SendResult::Sent);

    const std::uint16_t id = ownEchoIdentifier();
    bool sawOwnRequest = false;
    int requestTtl = -1;
    const bool replied = receiveUntil(socket.endpoint(), [&](const std::vector<std::uint8_t>& d, int count,
                                                           const MessageSource& sender) {
        if (count < 28 || (d[0] >> 4) != 4)
            return false;
        const int h = headerLength(d);
        if (count < h + 8 || d[h + 4] != (id & 0xFF) || d[h + 5] != (id >> 8))
            return false;
        if (d[h] == kIcmpEchoRequest) {
            sawOwnRequest = true;
            requestTtl = d[8];
            return false;
        }
        ReplyInfo reply;
        EXPECT_EQ(h, 20);
        EXPECT_EQ(count, 20 + 44);
        EXPECT_EQ(decodeReply(d.data(), count, sender, reply), DecodeResult::Usable);
        EXPECT_EQ(platform::addressText(reply.address), "127.0.0.1");
        EXPECT_EQ(reply.errorText, "");
        return d[h] == kIcmpEchoReply;
    });
    EXPECT_TRUE(replied);
    // On loopback the socket sees its own request first, with the TTL it set.
    if (sawOwnRequest) {
        EXPECT_EQ(requestTtl, 7);
    }
}

TEST(WinRawSocket, RefusalAdviceOnlyForMissingRights)
{
    EXPECT_THAT(platform::rawSocketRefusalAdvice(platform::Error(10013, "socket")), HasSubstr("Administrator"));
    EXPECT_EQ(platform::rawSocketRefusalAdvice(platform::Error(10047, "socket")), "");
    EXPECT_EQ(platform::rawSocketRefusalAdvice(platform::Error(0, "socket")), "");
}

TEST(WinRawSocket, WaitOnNoSocketFailsAndLayerStartsAreCounted)
{
    EXPECT_TRUE(platform::waitForReadable(platform::IcmpEndpoint(platform::kInvalidSocket), 0).is_error());
    ASSERT_FALSE(platform::startSocketLayer().is_error());
    ASSERT_FALSE(platform::startSocketLayer().is_error());
    platform::stopSocketLayer();
    // One start still holds: a socket can be made and waited on.
    const auto raw = platform::openRawIcmpSocket();
    if (!raw.is_error()) {
        EXPECT_FALSE(platform::waitForReadable(platform::IcmpEndpoint(raw.value()), 0).is_error());
        platform::closeSocket(platform::IcmpEndpoint(raw.value()));
    } else {
        EXPECT_EQ(raw.error().code(), 10013);
    }
    platform::stopSocketLayer();
}

namespace {

bool underWine()
{
    const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
    return ntdll && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

}  // namespace

// Each IPv6 kind pings ::1 where it opens: the helper for every user on
// Windows, the raw socket for an Administrator. Wine 8.0 has neither, and
// each refusal says why.
TEST(WinIcmpv6, EachKindPingsLoopbackWhereItOpens)
{
    const std::pair<platform::IcmpSocketKind, std::string> kinds[] = {
        { platform::IcmpSocketKind::Raw, "Failed to open the raw ICMPv6 socket: " },
        { platform::IcmpSocketKind::Helper, "Failed to open the ICMPv6 helper API: " },
    };
    for (const auto& [kind, refusal] : kinds) {
        CaptureStdout();
        CaptureStderr();
        IcmpSocket socket(20, kind, platform::AddressFamily::V6);
        GetCapturedStdout();
        const std::string errors = GetCapturedStderr();
        if (!socket.valid()) {
            EXPECT_THAT(errors, HasSubstr(refusal));
            if (underWine())
                EXPECT_THAT(errors,
                    HasSubstr(refusal + (kind == platform::IcmpSocketKind::Raw ? "10043 (" : "120 (")));
            else
                EXPECT_EQ(kind, platform::IcmpSocketKind::Raw) << "Windows has the helper: " << errors;
            continue;
        }
        std::vector<std::uint8_t> request(44);
        fillEchoRequest(request.data(), 44, 0, socket.echoIdentifier(), platform::AddressFamily::V6);
        ASSERT_EQ(sendEcho(socket.endpoint(), test::ip("::1"), request.data(), 44), SendResult::Sent);
        const bool replied = receiveUntil(
            socket.endpoint(), [&](const std::vector<std::uint8_t>& d, int count, const MessageSource& sender) {
                ReplyInfo reply;
                if (decodeReply(d.data(), count, sender, reply, socket.echoIdentifier()) != DecodeResult::Usable)
                    return false;
                EXPECT_EQ(reply.address, test::ip("::1"));
                EXPECT_EQ(reply.errorText, "");
                return true;
            });
        EXPECT_TRUE(replied) << platform::describeIcmpKind(kind, platform::AddressFamily::V6);
    }
}
