#include "ping/icmp_socket.h"

#include "ping/icmp_message.h"
#include "platform/ipv4.h"
#include "support/addresses.h"
#include "support/captured_output.h"
#include "support/child_process.h"
#include "support/receive_until.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

using namespace bv;
using bv::test::ip;

using testing::HasSubstr;
using testing::StartsWith;

namespace {

bool isRoot()
{
    return geteuid() == 0;
}

bool isOwnEchoRequest(const std::vector<std::uint8_t>& datagram, int count)
{
    const int h = headerLength(datagram);
    const std::uint16_t id = ownEchoIdentifier();
    return count >= h + 8 && datagram[h] == kIcmpEchoRequest && datagram[h + 4] == (id & 0xFF)
        && datagram[h + 5] == (id >> 8);
}

SendResult sendRequest(const platform::IcmpEndpoint& socket, const char* dotted)
{
    const auto destination = resolveHost(dotted, ip(dotted));
    if (destination.is_error())
        return SendResult::Failed;
    std::vector<std::uint8_t> message(44);
    fillEchoRequest(message.data(), 44, 0);
    return sendEcho(socket, destination.value(), message.data(), 44);
}

// A bound UDP socket on loopback: quiet unless the test writes to it.
class UdpSocket {
public:
    UdpSocket()
    {
        handle_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(handle_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        socklen_t length = sizeof address_;
        getsockname(handle_, reinterpret_cast<sockaddr*>(&address_), &length);
    }
    ~UdpSocket() { close(handle_); }
    UdpSocket(const UdpSocket&) = delete;
    UdpSocket& operator=(const UdpSocket&) = delete;

    int handle() const { return handle_; }
    bool sendToSelf() const
    {
        const char byte = 'x';
        return sendto(handle_, &byte, 1, 0, reinterpret_cast<const sockaddr*>(&address_), sizeof address_) == 1;
    }

private:
    int handle_ = -1;
    sockaddr_in address_ {};
};

}  // namespace

TEST(IcmpSocket, EchoToLoopbackIsAnswered)
{
    if (!isRoot())
        GTEST_SKIP() << "needs root: raw ICMP socket";
    CaptureStdout();
    CaptureStderr();
    IcmpSocket socket(20);
    const std::string openErrors = GetCapturedStderr();
    const std::string openTrace = GetCapturedStdout();
    EXPECT_EQ(openTrace, "WSA starting...\nPinging through the raw ICMP socket\n");
    EXPECT_EQ(openErrors, "");
    ASSERT_NE(socket.handle(), platform::kInvalidSocket);

    CaptureStdout();
    EXPECT_EQ(sendRequest(socket.endpoint(), "127.0.0.2"), SendResult::Sent);
    EXPECT_EQ(GetCapturedStdout(), "Sending 44 bytes to 127.0.0.2... done sending bytes to 127.0.0.2\n");

    CaptureStdout();
    CaptureStderr();
    ReplyInfo answer;
    const bool answered = receiveUntil(socket.endpoint(), [&](const auto& datagram, int count, const MessageSource& sender) {
        if (sender.address != ip("127.0.0.2"))
            return false;
        ReplyInfo reply;
        if (decodeReply(datagram.data(), count, sender, reply) != DecodeResult::Usable || datagram[headerLength(datagram)] != kIcmpEchoReply)
            return false;
        answer = reply;
        return true;
    });
    GetCapturedStderr();
    const std::string trace = GetCapturedStdout();
    ASSERT_TRUE(answered) << trace;
    EXPECT_EQ(answer.address, ip("127.0.0.2"));
    EXPECT_EQ(answer.errorText, "");
    EXPECT_THAT(trace, HasSubstr("64 bytes from 127.0.0.2, icmp_seq 0, "));
}

// The program's socket leaves out the ICMP types the receiver only drops
// (its own requests among them); a plain raw socket beside it still sees
// the request, with the time to live the program's socket gave it.
TEST(IcmpSocket, OwnRequestIsFilteredOutAndKeepsItsTimeToLive)
{
    if (!isRoot())
        GTEST_SKIP() << "needs root: raw ICMP socket";
    const int observer = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    ASSERT_GE(observer, 0);
    CaptureStdout();
    IcmpSocket socket(20);
    const SendResult sent = sendRequest(socket.endpoint(), "127.0.0.1");
    GetCapturedStdout();
    ASSERT_NE(socket.handle(), platform::kInvalidSocket);
    ASSERT_EQ(sent, SendResult::Sent);

    CaptureStdout();
    CaptureStderr();
    std::vector<std::uint8_t> own;
    int ownCount = 0;
    MessageSource ownSender;
    const bool seen = receiveUntil(platform::IcmpEndpoint(observer), [&](const auto& datagram, int count, const MessageSource& sender) {
        if (!isOwnEchoRequest(datagram, count))
            return false;
        own.assign(datagram.begin(), datagram.begin() + count);
        ownCount = count;
        ownSender = sender;
        return true;
    });
    bool requestOnOwnSocket = false;
    bool replyOnOwnSocket = false;
    receiveUntil(socket.endpoint(), [&](const auto& datagram, int count, const MessageSource&) {
        const int h = headerLength(datagram);
        if (isOwnEchoRequest(datagram, count))
            requestOnOwnSocket = true;
        const std::uint16_t id = ownEchoIdentifier();
        if (count >= h + 8 && datagram[h] == kIcmpEchoReply && datagram[h + 4] == (id & 0xFF)
            && datagram[h + 5] == (id >> 8))
            replyOnOwnSocket = true;
        return replyOnOwnSocket;
    });
    GetCapturedStderr();
    GetCapturedStdout();
    close(observer);
    ASSERT_TRUE(seen);
    EXPECT_TRUE(replyOnOwnSocket);
    EXPECT_FALSE(requestOnOwnSocket);
    const int timeToLive = own[8];
    ReplyInfo reply;
    CaptureStderr();
    EXPECT_EQ(decodeReply(own.data(), ownCount, ownSender, reply), DecodeResult::Unusable);
    EXPECT_EQ(GetCapturedStderr(), "Unknown ICMP packet type 8 received\n");
    EXPECT_EQ(reply.address, platform::IpAddress {});
    EXPECT_EQ(timeToLive, 20);
}

TEST(IcmpSocket, RefusedTimeToLiveAndShortBuffer)
{
    if (!isRoot())
        GTEST_SKIP() << "needs root: raw ICMP socket";
    CaptureStdout();
    CaptureStderr();
    IcmpSocket refused(0);
    EXPECT_EQ(GetCapturedStderr(), "TTL setsockopt failed: " + std::to_string(EINVAL) + "\n");
    GetCapturedStdout();
    // The socket stays in use with the default time to live.
    EXPECT_NE(refused.handle(), platform::kInvalidSocket);

    CaptureStdout();
    const SendResult sent = sendRequest(refused.endpoint(), "127.0.0.1");
    GetCapturedStdout();
    ASSERT_EQ(sent, SendResult::Sent);
    // Any ICMP datagram is longer than 16 bytes, whoever sent it.
    const auto readable = platform::waitForReadable(refused.endpoint(), 5000);
    ASSERT_FALSE(readable.is_error());
    ASSERT_TRUE(readable.value());
    std::vector<std::uint8_t> small(16);
    MessageSource sender;
    CaptureStderr();
    EXPECT_EQ(receiveMessage(refused.endpoint(), sender, small.data(), 16), -1);
    EXPECT_EQ(GetCapturedStderr(), "read failed: buffer too small\n");
}

TEST(WaitReadable, TimeOutDataAndFailedWait)
{
    UdpSocket quiet;
    const auto idle = platform::waitForReadable(platform::IcmpEndpoint(quiet.handle()), 0);
    ASSERT_FALSE(idle.is_error());
    EXPECT_FALSE(idle.value());

    ASSERT_TRUE(quiet.sendToSelf());
    const auto ready = platform::waitForReadable(platform::IcmpEndpoint(quiet.handle()), 5000);
    ASSERT_FALSE(ready.is_error());
    EXPECT_TRUE(ready.value());

    const auto none = platform::waitForReadable(platform::IcmpEndpoint(platform::kInvalidSocket), 0);
    ASSERT_TRUE(none.is_error());
    EXPECT_EQ(none.error().code(), EBADF);

    // A descriptor that is no longer open.
    const int closed = dup(quiet.handle());
    ASSERT_GE(closed, 0);
    close(closed);
    const auto gone = platform::waitForReadable(platform::IcmpEndpoint(closed), 0);
    ASSERT_TRUE(gone.is_error());
    EXPECT_EQ(gone.error().code(), EBADF);
}

TEST(IcmpMessageOnBadSocket, SendAndReceiveReportTheCode)
{
    std::vector<std::uint8_t> buffer(64);
    MessageSource sender;
    CaptureStderr();
    EXPECT_EQ(receiveMessage(platform::IcmpEndpoint(platform::kInvalidSocket), sender, buffer.data(), 64), -1);
    EXPECT_EQ(GetCapturedStderr(), "read failed: error #" + std::to_string(EBADF) + "\n");

    CaptureStdout();
    CaptureStderr();
    EXPECT_EQ(sendRequest(platform::IcmpEndpoint(platform::kInvalidSocket), "127.0.0.1"), SendResult::Failed);
    EXPECT_EQ(GetCapturedStderr(), "send failed: " + std::to_string(EBADF) + "\n");
    EXPECT_EQ(GetCapturedStdout(), "Sending 44 bytes to 127.0.0.1... done sending bytes to 127.0.0.1\n");
}

TEST(IcmpSocket, WithoutPrivilegeHasNoSocket)
{
    const ChildOutcome child = checksAsOrdinaryUser("1 0", [] {
        IcmpSocket socket(20);
        EXPECT_EQ(socket.handle(), platform::kInvalidSocket);
        EXPECT_FALSE(socket.endpoint().valid());
        EXPECT_EQ(sendRequest(socket.endpoint(), "127.0.0.1"), SendResult::Failed);
    });
    EXPECT_EQ(child.status, 0) << child.output;
    const std::string& output = child.output;
    EXPECT_THAT(output, StartsWith("WSA starting...\n"));
    EXPECT_THAT(output, HasSubstr("Failed to create raw socket: " + std::to_string(EPERM) + "\n"));
    EXPECT_THAT(output, HasSubstr("Failed to open the ICMP datagram socket instead: " + std::to_string(EACCES) + "\n"));
    // Both ways out, with this program's path.
    EXPECT_THAT(output, HasSubstr("  setcap cap_net_raw+ep /"));
    EXPECT_THAT(output, HasSubstr("icmp_socket_root_test\n"));
    EXPECT_THAT(output, HasSubstr("  sysctl -w net.ipv4.ping_group_range=\"0 2147483647\"\n"));
    EXPECT_THAT(output, HasSubstr("/etc/sysctl.d/"));
    EXPECT_THAT(output, HasSubstr("send failed: " + std::to_string(EBADF) + "\n"));
}

// Where the ping group range admits the user, the run pings through an ICMP
// datagram socket with the identifier the kernel chose, and reads the same
// bytes as through a raw socket.
TEST(IcmpSocket, OrdinaryUserPingsThroughADatagramSocket)
{
    if (!isRoot())
        GTEST_SKIP() << "needs root: a network namespace of its own";
    const ChildOutcome child = checksAsOrdinaryUser("0 2147483647", [] {
        IcmpSocket socket(20);
        const platform::IcmpEndpoint& endpoint = socket.endpoint();
        ASSERT_EQ(endpoint.kind, platform::IcmpSocketKind::Datagram);
        ASSERT_NE(socket.handle(), platform::kInvalidSocket);
        sockaddr_in local {};
        socklen_t length = sizeof local;
        ASSERT_EQ(getsockname(socket.handle(), reinterpret_cast<sockaddr*>(&local), &length), 0);
        ASSERT_NE(local.sin_port, 0);
        const std::uint16_t kernels = ntohs(local.sin_port);
        // Low byte first on the wire is how the engine keeps identifiers.
        EXPECT_EQ(socket.echoIdentifier(), static_cast<std::uint16_t>((kernels >> 8) | (kernels << 8)));
        const platform::IpAddress destination = ip("127.0.0.1");
        std::vector<std::uint8_t> request(44);
        fillEchoRequest(request.data(), 44, 0, socket.echoIdentifier());
        ASSERT_EQ(sendEcho(endpoint, destination, request.data(), 44), SendResult::Sent);
        ReplyInfo reply;
        const bool answered = receiveUntil(endpoint, [&](const auto& datagram, int count, const MessageSource& sender) {
            return count == 64 && headerLength(datagram) == 20 && datagram[20] == kIcmpEchoReply
                && decodeReply(datagram.data(), count, sender, reply, socket.echoIdentifier()) == DecodeResult::Usable;
        });
        EXPECT_TRUE(answered);
        EXPECT_EQ(reply.address, ip("127.0.0.1"));
        EXPECT_EQ(reply.errorText, "");
    });
    EXPECT_EQ(child.status, 0) << child.output;
    const std::string& output = child.output;
    EXPECT_THAT(output, HasSubstr("Pinging through the ICMP datagram socket\n"));
    EXPECT_THAT(output, HasSubstr("64 bytes from 127.0.0.1, icmp_seq 0, "));
}

// An ICMP error about one host stays pending on a datagram socket until a
// send takes it; that send, to another host, must still go out.
TEST(IcmpSocket, DatagramSendGoesOutWhileAnotherHostsErrorIsPending)
{
    if (!isRoot() || std::system("command -v nft >/dev/null") != 0)
        GTEST_SKIP() << "needs root and nft: a network namespace of its own";
    const ChildOutcome child = checksAsOrdinaryUser("0 2147483647", [] {
        IcmpSocket socket(20);
        const platform::IcmpEndpoint& endpoint = socket.endpoint();
        ASSERT_EQ(endpoint.kind, platform::IcmpSocketKind::Datagram);
        ASSERT_EQ(sendRequest(endpoint, "127.0.2.1"), SendResult::Sent);
        pollfd error { socket.handle(), 0, 0 };
        ASSERT_EQ(poll(&error, 1, 5000), 1) << "no error pending";
        ASSERT_TRUE(error.revents & POLLERR);
        ASSERT_EQ(sendRequest(endpoint, "127.0.0.1"), SendResult::Sent) << "the send after the pending error";
        bool refused = false;
        bool answered = false;
        receiveUntil(endpoint, [&](const auto& datagram, int count, const MessageSource& sender) {
            ReplyInfo reply;
            if (decodeReply(datagram.data(), count, sender, reply, socket.echoIdentifier()) == DecodeResult::Usable) {
                refused |= reply.errorText == "Destination unreachable";
                answered |= reply.errorText.empty() && reply.address == ip("127.0.0.1");
            }
            return refused && answered;
        });
        EXPECT_TRUE(refused);
        EXPECT_TRUE(answered);
    }, "nft add table ip bvtest && nft add chain ip bvtest in '{ type filter hook input priority 0; }'"
               " && nft add rule ip bvtest in ip daddr 127.0.2.1 icmp type echo-request"
               " reject with icmp type host-unreachable");
    EXPECT_EQ(child.status, 0) << child.output;
}
