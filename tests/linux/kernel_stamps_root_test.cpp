// The kernel's time stamps on the four kinds of ICMP socket: each in a
// network namespace of its own, so that only the test's own ICMP is there.

#include "ping/icmp_message.h"
#include "platform/raw_socket.h"
#include "support/addresses.h"
#include "support/captured_output.h"
#include "support/child_process.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

using namespace bv;
using bv::test::ip;
using platform::AddressFamily;
using platform::IcmpSocketKind;

namespace {

bool isRoot()
{
    return geteuid() == 0;
}

// A child in a network namespace of its own, where root may open both kinds.
ChildOutcome inOwnNamespace(const std::function<void()>& checks, const char* asRoot = "true")
{
    return runInChild([&] {
        if (!enterOwnNetworkNamespace("0 2147483647"))
            return childSetupFailed("enter a network namespace");
        if (std::system(asRoot) != 0)
            return childSetupFailed(std::string("run as root: ") + asRoot);
        return checksInChild(checks);
    });
}

std::string describe(IcmpSocketKind kind, AddressFamily family)
{
    return platform::describeIcmpKind(kind, family);
}

platform::IcmpEndpoint openStamped(IcmpSocketKind kind, AddressFamily family)
{
    auto opened = platform::openIcmpEndpointOfKind(kind, family);
    EXPECT_FALSE(opened.is_error()) << describe(kind, family);
    if (opened.is_error())
        return platform::IcmpEndpoint();
    platform::IcmpEndpoint endpoint = opened.release_value();
    // A read the wait wrongly let through fails instead of hanging the test.
    const timeval patience { 2, 0 };
    EXPECT_EQ(setsockopt(endpoint.socket, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience), 0);
    const auto enabled = platform::enableKernelStamps(endpoint);
    EXPECT_FALSE(enabled.is_error()) << describe(kind, family) << ": " << enabled.error().message();
    return endpoint;
}

bool sendEchoTo(const platform::IcmpEndpoint& endpoint, const char* address, std::uint16_t sequence)
{
    std::vector<std::uint8_t> request(44);
    fillEchoRequest(request.data(), 44, sequence, echoIdentifierOf(endpoint), endpoint.family);
    const auto sent = platform::sendDatagram(endpoint, request.data(), request.size(), ip(address));
    return !sent.is_error() && sent.value() == request.size();
}

// One datagram read as the receiver reads it, decoded.
struct Read {
    platform::ReceivedDatagram datagram;
    ReplyInfo reply;
    DecodeResult decoded = DecodeResult::Unusable;
};

// The next datagram within a few seconds; none when only stamps (or
// nothing) came.
std::optional<Read> readNext(const platform::IcmpEndpoint& endpoint, unsigned waitMilliseconds = 5000)
{
    const auto readable = platform::waitForReadable(endpoint, waitMilliseconds);
    EXPECT_FALSE(readable.is_error());
    if (readable.is_error() || !readable.value())
        return std::nullopt;
    std::vector<std::uint8_t> buffer(2048);
    auto received = platform::receiveDatagram(endpoint, buffer.data(), buffer.size());
    EXPECT_FALSE(received.is_error());
    if (received.is_error())
        return std::nullopt;
    Read read;
    read.datagram = received.release_value();
    const MessageSource sender { read.datagram.sender, read.datagram.hopLimit };
    CaptureStdout();
    CaptureStderr();
    read.decoded = decodeReply(buffer.data(), static_cast<int>(read.datagram.size), sender, read.reply,
        echoIdentifierOf(endpoint));
    GetCapturedStdout();
    GetCapturedStderr();
    return read;
}

// The reply to one request: what else comes (the kernel loops a raw
// socket's own request back to it) is passed over, within a bound.
std::optional<Read> replyTo(const platform::IcmpEndpoint& endpoint, std::uint16_t sequence)
{
    for (int datagrams = 0; datagrams < 16; ++datagrams) {
        auto read = readNext(endpoint);
        if (!read)
            return std::nullopt;
        if (read->decoded == DecodeResult::Usable && read->reply.sequence == sequence)
            return read;
    }
    return std::nullopt;
}

std::optional<platform::SendStamp> sendStamp(const platform::IcmpEndpoint& endpoint)
{
    const auto stamp = platform::readSendStamp(endpoint);
    EXPECT_FALSE(stamp.is_error());
    return stamp.is_error() ? std::nullopt : stamp.value();
}

}  // namespace

// Through every kind, both families: a request's send stamp, numbered from
// 0, and its reply's arrival stamp, shortly after it. The kernel switches
// its reception stamping on in the background (and off again once no
// socket of the system wants it), so replies may come without a stamp for
// a while at first: they say so, and once one has it the next ones do.
TEST(KernelStamps, EveryKindStampsTheRequestAndItsReply)
{
    if (!isRoot())
        GTEST_SKIP() << "needs root: raw sockets and a network namespace of its own";
    const ChildOutcome child = inOwnNamespace([] {
        for (const IcmpSocketKind kind : { IcmpSocketKind::Raw, IcmpSocketKind::Datagram }) {
            for (const AddressFamily family : { AddressFamily::V4, AddressFamily::V6 }) {
                const std::string name = describe(kind, family);
                const platform::IcmpEndpoint endpoint = openStamped(kind, family);
                ASSERT_TRUE(endpoint.valid()) << name;
                const char* loopback = family == AddressFamily::V6 ? "::1" : "127.0.0.1";
                std::uint16_t sends = 0;
                int stamped = 0;
                const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
                while (stamped < 2 && sends < 5000 && std::chrono::steady_clock::now() < deadline) {
                    const std::uint16_t sequence = sends++;
                    ASSERT_TRUE(sendEchoTo(endpoint, loopback, sequence)) << name;
                    const auto reply = replyTo(endpoint, sequence);
                    ASSERT_TRUE(reply) << name << ": no reply to " << sequence;
                    EXPECT_EQ(reply->reply.errorText, "") << name;
                    // Loopback stamps the send before the reply is made.
                    const auto sent = sendStamp(endpoint);
                    ASSERT_TRUE(sent) << name << ": no send stamp for " << sequence;
                    ASSERT_EQ(sent->send, sequence) << name;
                    ASSERT_FALSE(sendStamp(endpoint)) << name << ": one stamp per send";
                    if (!reply->datagram.arrivalFromKernel()) {
                        ASSERT_EQ(stamped, 0) << name << ": a reply without a stamp after one with";
                        continue;
                    }
                    ++stamped;
                    const std::int64_t roundTrip = *reply->datagram.kernelArrivalMicroseconds - sent->microseconds;
                    EXPECT_GE(roundTrip, 0) << name;
                    EXPECT_LT(roundTrip, 10000) << name;
                    // The kernel's clock is the calendar's.
                    const std::int64_t now = std::chrono::duration_cast<std::chrono::microseconds>(
                        std::chrono::system_clock::now().time_since_epoch())
                                                 .count();
                    EXPECT_LE(sent->microseconds, now) << name;
                    EXPECT_GT(sent->microseconds, now - 60'000'000) << name;
                }
                EXPECT_EQ(stamped, 2) << name << ": " << sends << " replies, too few with an arrival stamp";

                // A stamp waiting alone is nothing to read, and the wait
                // keeps it for its reader.
                ASSERT_TRUE(sendEchoTo(endpoint, loopback, sends)) << name;
                ASSERT_TRUE(replyTo(endpoint, sends)) << name;
                EXPECT_FALSE(readNext(endpoint, 50)) << name << ": a stamp read as a datagram";
                const auto kept = sendStamp(endpoint);
                ASSERT_TRUE(kept) << name;
                EXPECT_EQ(kept->send, sends) << name;
                platform::closeSocket(endpoint);
            }
        }
    });
    EXPECT_EQ(child.status, 0) << child.output;
}

// Stamps share a datagram socket's error queue with ICMP errors: an error
// still reads as the error a raw socket would read, whether the receiver or
// the stamp reader meets it first, and no stamp reads as an error.
TEST(KernelStamps, DatagramErrorsStayErrorsBesideStamps)
{
    if (!isRoot() || std::system("command -v nft >/dev/null") != 0)
        GTEST_SKIP() << "needs root and nft: a network namespace of its own";
    const ChildOutcome child = inOwnNamespace([] {
        struct Case {
            AddressFamily family;
            const char* refused;
            const char* answered;
        };
        for (const Case& each : { Case { AddressFamily::V4, "127.0.2.1", "127.0.0.1" },
                 Case { AddressFamily::V6, "2001:2::5", "::1" } }) {
            for (const bool stampsFirst : { true, false }) {
                const std::string name = describe(IcmpSocketKind::Datagram, each.family)
                    + (stampsFirst ? ", stamps read first" : ", replies read first");
                const platform::IcmpEndpoint endpoint = openStamped(IcmpSocketKind::Datagram, each.family);
                ASSERT_TRUE(endpoint.valid()) << name;
                ASSERT_TRUE(sendEchoTo(endpoint, each.refused, 0)) << name;
                ASSERT_TRUE(sendEchoTo(endpoint, each.answered, 1)) << name;
                std::vector<platform::SendStamp> stamps;
                const auto readStamps = [&] {
                    for (int more = 0; more < 4; ++more) {
                        if (const auto stamp = sendStamp(endpoint))
                            stamps.push_back(*stamp);
                    }
                };
                if (stampsFirst)
                    readStamps();
                const auto first = readNext(endpoint);
                const auto second = readNext(endpoint);
                ASSERT_TRUE(first && second) << name;
                EXPECT_FALSE(readNext(endpoint, 50)) << name << ": a stamp read as a datagram";
                if (!stampsFirst)
                    readStamps();
                bool refused = false;
                bool answered = false;
                for (const Read& read : { *first, *second }) {
                    ASSERT_EQ(read.decoded, DecodeResult::Usable) << name;
                    if (read.reply.errorText.empty()) {
                        answered = read.reply.sequence == 1 && read.reply.about == ip(each.answered);
                    } else {
                        refused = read.reply.errorText == "Destination unreachable" && read.reply.sequence == 0
                            && read.reply.about == ip(each.refused);
                        // An error-queue entry carries no reception stamp.
                        EXPECT_FALSE(read.datagram.arrivalFromKernel()) << name;
                    }
                }
                EXPECT_TRUE(refused) << name;
                EXPECT_TRUE(answered) << name;
                ASSERT_EQ(stamps.size(), 2u) << name;
                EXPECT_EQ(stamps[0].send, 0u) << name;
                EXPECT_EQ(stamps[1].send, 1u) << name << ": a send that a pending error failed was counted";
                EXPECT_LE(stamps[0].microseconds, stamps[1].microseconds) << name;
                platform::closeSocket(endpoint);
            }
        }
    }, "nft add table inet bvtest && nft add chain inet bvtest in '{ type filter hook input priority 0; }'"
       " && nft add rule inet bvtest in ip daddr 127.0.2.1 icmp type echo-request"
       " reject with icmp type host-unreachable"
       " && nft add rule inet bvtest in ip6 daddr 2001:2::5 icmpv6 type echo-request"
       " reject with icmpv6 type addr-unreachable"
       " && ip addr add 2001:2::5/128 dev lo nodad");
    EXPECT_EQ(child.status, 0) << child.output;
}

// The sender's thread reads stamps while the receiver's waits and reads:
// every request's stamp comes once, in order, and every reply and error
// reaches the receiver, whichever thread met it on the error queue.
TEST(KernelStamps, SenderAndReceiverThreadsShareTheErrorQueue)
{
    if (!isRoot() || std::system("command -v nft >/dev/null") != 0)
        GTEST_SKIP() << "needs root and nft: a network namespace of its own";
    const ChildOutcome child = inOwnNamespace([] {
        const platform::IcmpEndpoint endpoint = openStamped(IcmpSocketKind::Datagram, AddressFamily::V4);
        ASSERT_TRUE(endpoint.valid());
        constexpr int kRequests = 60;  // every third one refused
        std::atomic<bool> sending { true };
        int replies = 0;
        int errors = 0;
        std::thread receiver([&] {
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            while (replies + errors < kRequests && std::chrono::steady_clock::now() < deadline) {
                const auto read = readNext(endpoint, sending.load() ? 1000 : 200);
                if (!read)
                    continue;
                if (read->decoded != DecodeResult::Usable)
                    continue;
                if (read->reply.errorText.empty())
                    ++replies;
                else if (read->reply.errorText == "Destination unreachable" && read->reply.sequence % 3 == 0)
                    ++errors;
            }
        });
        std::vector<std::uint32_t> counters;
        for (int request = 0; request < kRequests; ++request) {
            EXPECT_TRUE(sendEchoTo(endpoint, request % 3 == 0 ? "127.0.2.1" : "127.0.0.1",
                static_cast<std::uint16_t>(request)));
            if (const auto stamp = sendStamp(endpoint))
                counters.push_back(stamp->send);
        }
        sending = false;
        receiver.join();
        for (int more = 0; more < kRequests && counters.size() < static_cast<std::size_t>(kRequests); ++more) {
            if (const auto stamp = sendStamp(endpoint))
                counters.push_back(stamp->send);
        }
        ASSERT_EQ(counters.size(), static_cast<std::size_t>(kRequests));
        for (std::size_t each = 0; each < counters.size(); ++each)
            EXPECT_EQ(counters[each], each);
        EXPECT_EQ(replies, kRequests - kRequests / 3);
        EXPECT_EQ(errors, kRequests / 3);
        platform::closeSocket(endpoint);
    }, "nft add table ip bvtest && nft add chain ip bvtest in '{ type filter hook input priority 0; }'"
       " && nft add rule ip bvtest in ip daddr 127.0.2.1 icmp type echo-request"
       " reject with icmp type host-unreachable");
    EXPECT_EQ(child.status, 0) << child.output;
}

// Without the stamps switched on nothing changes: no stamps, no arrival.
TEST(KernelStamps, OffUnlessSwitchedOn)
{
    if (!isRoot())
        GTEST_SKIP() << "needs root: raw sockets and a network namespace of its own";
    const ChildOutcome child = inOwnNamespace([] {
        for (const IcmpSocketKind kind : { IcmpSocketKind::Raw, IcmpSocketKind::Datagram }) {
            auto opened = platform::openIcmpEndpointOfKind(kind, AddressFamily::V4);
            ASSERT_FALSE(opened.is_error());
            const platform::IcmpEndpoint endpoint = opened.release_value();
            EXPECT_EQ(endpoint.stamps, nullptr);
            ASSERT_TRUE(sendEchoTo(endpoint, "127.0.0.1", 0));
            const auto reply = replyTo(endpoint, 0);
            ASSERT_TRUE(reply);
            EXPECT_FALSE(reply->datagram.arrivalFromKernel());
            EXPECT_FALSE(sendStamp(endpoint));
            platform::closeSocket(endpoint);
        }
    });
    EXPECT_EQ(child.status, 0) << child.output;
}
