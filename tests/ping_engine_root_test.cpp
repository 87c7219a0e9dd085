#include "ping/echo_sender.h"
#include "ping/icmp_message.h"
#include "ping/receiver.h"
#include "platform/raw_socket.h"

#include "run/network.h"
#include "core/monitor_events.h"
#include "support/fake_clock.h"
#include "support/recording_desktop.h"
#include "support/test_network.h"
#include "support/wait_for.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <optional>
#include <gtest/gtest.h>
#include <thread>
// Network and mount namespaces and the packet filter are Linux's; the
// tests that need them are left out elsewhere.
#ifndef _WIN32
#include "support/child_process.h"

#include <sched.h>
#include <unistd.h>
#endif

using namespace bv;

namespace {

using namespace std::chrono_literals;

bool rawSocketsAllowed()
{
    if (platform::startSocketLayer().is_error())
        return false;
    const auto socket = platform::openRawIcmpSocket();
    if (!socket.is_error())
        platform::closeSocket(platform::IcmpEndpoint(socket.value()));
    platform::stopSocketLayer();
    return !socket.is_error();
}

// Reads host fields under the vector mutex, as the threads write them.
template <typename Read>
auto underLock(Network& network, Read read)
{
    EXPECT_EQ(network.vectorMutex().wait(), platform::WaitResult::Signalled);
    auto value = read();
    network.vectorMutex().release();
    return value;
}

// Runs the sender and the receiver until the test is done with them.
class EngineThreads {
public:
    // `unblock` frees a sender that waits for a count at the end.
    explicit EngineThreads(Network& network, std::function<void()> unblock = {})
        : unblock_(std::move(unblock))
        , receiver_([&network] { receiverThread(network.engine()); })
        , ipv6Receiver_([&network] { receiverThread(network.engine(), platform::AddressFamily::V6); })
        , sender_([this, &network] {
            echoSenderThread(network.engine());
            senderDone_.store(true);
        })
    {
    }
    ~EngineThreads()
    {
        exitRequested.store(true);
        for (int attempt = 0; attempt < 50 && unblock_ && !waitFor([this] { return senderDone_.load(); }, 100ms);
             ++attempt)
            unblock_();
        sender_.join();
        receiver_.join();
        ipv6Receiver_.join();
    }

private:
    std::function<void()> unblock_;
    std::atomic<bool> senderDone_ { false };
    std::thread receiver_;
    std::thread ipv6Receiver_;
    std::thread sender_;
};

// The fake clock's pauses take a little real time so the sender's passes
// do not spin while replies travel.
void slowPauses(FakeClock& clock)
{
    clock.onPause([](std::int64_t) { std::this_thread::sleep_for(2ms); });
}

RunSettings quickSettings()
{
    RunSettings settings;
    settings.pingInterval = 5000;
    settings.timeOut = 100;
    return settings;
}

// A run for the engine's threads on a fake clock with slow pauses.
struct EngineRun {
    explicit EngineRun(const std::string& lines, const RunSettings& settings = quickSettings(),
        std::optional<platform::IcmpSocketKind> kind = std::nullopt)
        : test(lines, clock, settings, kind)
    {
        slowPauses(clock);
    }
    Network& network() { return *test.network; }

    ExitFlagReset exitFlag;
    RecordingDesktop desktop;
    FakeClock clock { 1000 };
    TestNetwork test;
};

}  // namespace

TEST(EchoSender, PacketSizeClamp)
{
    EXPECT_EQ(clampPacketSize(2000), 1024);
    EXPECT_EQ(clampPacketSize(4), 8);
    EXPECT_EQ(clampPacketSize(-1), 1024);
    EXPECT_EQ(clampPacketSize(44), 44);
    EXPECT_EQ(clampPacketSize(1024), 1024);
}

TEST(EchoSender, UnresolvableNameFailsAndWaitsItsInterval)
{
    ExitFlagReset exitFlag;
    RecordingDesktop desktop;
    FakeClock clock(1000);
    TestNetwork test("nowhere no-such-host.invalid\n", clock, quickSettings());
    Network& network = *test.network;
    Address& host = *network.host(0);
    // Each pause of the sender is one pass; stop after 16 s of them.
    std::int64_t paused = 0;
    clock.onPause([&](std::int64_t pause) {
        if ((paused += pause) >= 16000)
            exitRequested.store(true);
    });
    testing::internal::CaptureStderr();
    EXPECT_EQ(echoSenderThread(network.engine()), 0);
    const std::string errors = testing::internal::GetCapturedStderr();
    // Three tries in 16 s at a 5 s interval, not one try per pass.
    std::size_t tries = 0;
    for (std::size_t at = errors.find("Failed to resolve no-such-host.invalid"); at != std::string::npos;
         at = errors.find("Failed to resolve no-such-host.invalid", at + 1))
        ++tries;
    EXPECT_GE(tries, 2u);
    EXPECT_LE(tries, 4u);
    EXPECT_EQ(host.getStatus(), HostStatus::Red);
    EXPECT_EQ(host.getErrorText(), "Could not set up for ping");
    EXPECT_EQ(host.getDownSince(), 1005);
    EXPECT_FALSE(network.pingSemaphore().release()) << "a count was kept";
    for (std::int64_t pause : clock.pauses())
        EXPECT_GT(pause, 0);
}

namespace {

bool ipv6Opens(std::optional<platform::IcmpSocketKind> kind)
{
    if (platform::startSocketLayer().is_error())
        return false;
    const auto endpoint = platform::openIcmpEndpointOfKind(kind.value_or(platform::IcmpSocketKind::Raw),
        platform::AddressFamily::V6);
    if (!endpoint.is_error())
        platform::closeSocket(endpoint.value());
    platform::stopSocketLayer();
    return !endpoint.is_error();
}

// IPv6 loopback beside IPv4 wherever the system lets the kind open for it.
void expectLoopbackHostsAnswer(std::optional<platform::IcmpSocketKind> kind)
{
    const bool six = ipv6Opens(kind);
    EngineRun run(std::string("a 127.0.0.2\nb 127.0.0.3\nc 127.0.0.4\n") + (six ? "d ::1\n" : ""), quickSettings(),
        kind);
    Network& network = run.network();
    ASSERT_TRUE(network.socket().endpoint().valid());
    if (kind) {
        EXPECT_EQ(network.socket().endpoint().kind, *kind);
    }
    RecordingDesktop& desktop = run.desktop;
    {
        EngineThreads threads(network);
        const bool answered = waitFor(
            [&] {
                return underLock(network, [&] {
                    for (std::size_t i = 0; i < network.hostCount(); ++i) {
                        const Address& host = *network.host(i);
                        if (host.getLastSendTime() <= 1000 || host.getPingState() != PingState::Idle)
                            return false;
                    }
                    return true;
                });
            },
            10s);
        EXPECT_TRUE(answered);
    }
    for (std::size_t i = 0; i < network.hostCount(); ++i) {
        const Address& host = *network.host(i);
        EXPECT_EQ(host.getStatus(), HostStatus::Green);
        // A request of the last pass may still have been out when the threads
        // stopped; its host has its earlier reply.
        if (host.getPingState() == PingState::Idle) {
            EXPECT_EQ(host.getLastReplyTime(), host.getLastSendTime());
        } else {
            EXPECT_GT(host.getLastReplyTime(), 1000);
        }
        // Each reply is credited to the host it answers, once.
        EXPECT_GE(host.getRequestsSent(), 1u);
        EXPECT_EQ(host.getRequestsSent(), host.getRepliesMatched() + (host.getPingState() == PingState::AwaitingReply ? 1u : 0u));
    }
    const EngineCounts counts = network.countEngine();
    EXPECT_TRUE(counts.complete);
    EXPECT_EQ(counts.hostsWithLostRequests, 0u);
    EXPECT_EQ(counts.requestsSent, counts.repliesMatched + counts.awaitingReply);
    EXPECT_TRUE(desktop.notices().empty());
    // Every request that went out was answered and gave its count back. A
    // request may still be out from the last pass, so count what is free.
    int free = 0;
    while (free < 7 && network.pingSemaphore().tryWait() == platform::WaitResult::Signalled)
        ++free;
    int outstanding = 0;
    for (std::size_t i = 0; i < network.hostCount(); ++i)
        outstanding += network.host(i)->getPingState() == PingState::AwaitingReply;
    EXPECT_EQ(free + outstanding, 6);
}

bool kindOpens(platform::IcmpSocketKind kind)
{
    if (platform::startSocketLayer().is_error())
        return false;
    const auto endpoint = platform::openIcmpEndpointOfKind(kind);
    if (!endpoint.is_error())
        platform::closeSocket(endpoint.value());
    platform::stopSocketLayer();
    return !endpoint.is_error();
}

}  // namespace

TEST(PingEngine, LoopbackHostsAnswerAndGiveTheirCountsBack)
{
    if (!rawSocketsAllowed())
        GTEST_SKIP() << "needs root (Administrator on Windows): raw ICMP socket";
    expectLoopbackHostsAnswer(std::nullopt);
}

// Linux's ICMP datagram socket, Windows' ICMP helper: the same answers and
// counts as through the raw socket.
TEST(PingEngine, LoopbackHostsAnswerThroughTheKindAnOrdinaryUserMayOpen)
{
#ifndef _WIN32
    // Root runs the case as nobody in a network namespace of its own whose
    // range admits every group, whatever this machine's range says.
    if (geteuid() == 0) {
        const ChildOutcome child = checksAsOrdinaryUser("0 2147483647", [] {
            ASSERT_TRUE(kindOpens(platform::kUnprivilegedIcmpKind)) << "no ICMP datagram socket for nobody";
            expectLoopbackHostsAnswer(platform::kUnprivilegedIcmpKind);
        });
        EXPECT_EQ(child.status, 0) << child.output;
        return;
    }
#endif
    if (!kindOpens(platform::kUnprivilegedIcmpKind))
        GTEST_SKIP() << "this user may open no ICMP datagram socket here (net.ipv4.ping_group_range)";
    expectLoopbackHostsAnswer(platform::kUnprivilegedIcmpKind);
}

#ifndef _WIN32
TEST(PingEngine, SixOutstandingAtMostUntilTheSweepFreesOne)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root: network namespace and packet filter";
    if (system("command -v nft >/dev/null") != 0)
        GTEST_SKIP() << "needs nft";
    // Our own network namespace, so the filter touches nothing else.
    ASSERT_EQ(unshare(CLONE_NEWNET), 0);
    ASSERT_EQ(system("ip link set lo up"), 0);
    ASSERT_EQ(system("nft add table ip bvtest && nft add chain ip bvtest in '{ type filter hook input priority 0; }'"
                     " && nft add rule ip bvtest in ip daddr 127.0.1.0/24 icmp type echo-request drop"),
        0);
    std::string lines;
    for (int i = 1; i <= 7; ++i)
        lines += "h" + std::to_string(i) + " 127.0.1." + std::to_string(i) + "\n";
    EngineRun run(lines);
    Network& network = run.network();
    FakeClock& clock = run.clock;
    auto awaiting = [&] {
        return underLock(network, [&] {
            int count = 0;
            for (std::size_t i = 0; i < network.hostCount(); ++i)
                count += network.host(i)->getPingState() == PingState::AwaitingReply;
            return count;
        });
    };
    {
        EngineThreads threads(network, [&] {
            clock.advance(10);
            network.sweepPass();
        });
        ASSERT_TRUE(waitFor([&] { return awaiting() == 6; }, 10s));
        // The seventh stays blocked on the semaphore.
        std::this_thread::sleep_for(300ms);
        EXPECT_EQ(awaiting(), 6);
        EXPECT_EQ(network.host(6)->getPingState(), PingState::Idle);
        // The sweep times the first six out; the seventh then goes.
        clock.advance(10);
        network.sweepPass();
        EXPECT_TRUE(waitFor([&] { return network.host(6)->getPingState() == PingState::AwaitingReply; }, 10s));
    }
    EXPECT_NE(network.host(0)->getStatus(), HostStatus::Green);
    EXPECT_EQ(network.host(0)->getErrorText(), "Timed out");
}

namespace {

HostStatus statusOf(Network& network, std::size_t position)
{
    return underLock(network, [&] { return network.host(position)->getStatus(); });
}

}  // namespace

TEST(PingEngine, RejectedHostTurnsYellowThenRedWithDestinationUnreachable)
{
    if (geteuid() != 0 || system("command -v nft >/dev/null") != 0)
        GTEST_SKIP() << "needs root and nft";
    ASSERT_TRUE(enterOwnNetworkNamespace());
    ASSERT_EQ(system("nft add table ip bvtest && nft add chain ip bvtest in '{ type filter hook input priority 0; }'"
                     " && nft add rule ip bvtest in ip daddr 127.0.2.1 icmp type echo-request"
                     " reject with icmp type host-unreachable"),
        0);
    EngineRun run("rejected 127.0.2.1\n");
    Network& network = run.network();
    RecordingDesktop& desktop = run.desktop;
    {
        EngineThreads threads(network);
        EXPECT_TRUE(waitFor([&] { return statusOf(network, 0) == HostStatus::Red; }, 10s));
    }
    EXPECT_EQ(network.host(0)->getErrorText(), "Destination unreachable");
    auto notices = desktop.notices();
    ASSERT_GE(notices.size(), 2u);
    EXPECT_EQ(notices[0].status, HostStatus::Yellow);
    EXPECT_EQ(notices[1].status, HostStatus::Red);
}

TEST(PingEngine, HostBeyondTheRouterFailsWithTtlExpiredUnderItsOwnName)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root: network namespaces";
    ASSERT_TRUE(enterOwnNetworkNamespace());
    // monitor (this process) - router - far side, in namespaces of our own.
    const std::string router = "bvrouter" + std::to_string(getpid());
    const std::string far = "bvfar" + std::to_string(getpid());
    const std::string setUp = "set -e; ip netns add " + router + "; ip netns add " + far
        + "; ip link add bvm0 type veth peer name bvr0 netns " + router
        + "; ip netns exec " + router + " ip link add bvr1 type veth peer name bvf0 netns " + far
        + "; ip addr add 198.18.1.1/24 dev bvm0; ip link set bvm0 up; ip route add 198.18.2.0/24 via 198.18.1.2"
        + "; ip netns exec " + router + " sh -c 'ip link set lo up; ip addr add 198.18.1.2/24 dev bvr0;"
        + " ip addr add 198.18.2.1/24 dev bvr1; ip link set bvr0 up; ip link set bvr1 up;"
        + " sysctl -qw net.ipv4.ip_forward=1'"
        + "; ip netns exec " + far + " sh -c 'ip link set lo up; ip addr add 198.18.2.2/24 dev bvf0;"
        + " ip link set bvf0 up; ip route add default via 198.18.2.1'";
    const int built = system(setUp.c_str());
    struct Cleanup {
        std::string command;
        ~Cleanup() { (void)!system(command.c_str()); }
    } cleanup { "ip netns del " + router + " 2>/dev/null; ip netns del " + far + " 2>/dev/null" };
    ASSERT_EQ(built, 0);

    RunSettings settings = quickSettings();
    settings.ttl = 1;
    EngineRun run("far 198.18.2.2 beyond the router\nrouter 198.18.1.2 next hop\n", settings);
    Network& network = run.network();
    {
        EngineThreads threads(network);
        EXPECT_TRUE(waitFor([&] { return statusOf(network, 0) == HostStatus::Red; }, 15s));
    }
    EXPECT_EQ(network.host(0)->getErrorText(), "TTL expired");
    // The router itself answers at one hop and is never blamed.
    EXPECT_EQ(network.host(1)->getStatus(), HostStatus::Green);
}

TEST(PingEngine, NamedHostsAreAnsweredFromTheAddressTheyWereSentTo)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root: network and mount namespaces";
    ASSERT_TRUE(enterOwnNetworkNamespace());
    // A hosts file of our own, seen by this process only: one name whose
    // address reads back in another letter case, one that reads back as
    // another name, and a dotted entry that shares a named host's address.
    ASSERT_EQ(unshare(CLONE_NEWNS), 0);
    ASSERT_EQ(system("mount --make-rprivate /"), 0);
    TemporaryDirectory hosts;
    writeFile(hosts.file("hosts"),
        "127.0.0.1 localhost\n127.0.3.1 bvhost-a\n127.0.3.2 BVHOST-B\n127.0.3.3 primary bvhost-alias\n");
    ASSERT_EQ(system(("mount --bind " + hosts.file("hosts") + " /etc/hosts").c_str()), 0);

    EngineRun run("a bvhost-a\nb bvhost-b\nc bvhost-alias\nd 127.0.3.1\n");
    Network& network = run.network();
    FakeClock& clock = run.clock;
    ASSERT_TRUE(network.getHasNamedHosts());
    EngineThreads threads(network, [&] {
        clock.advance(10);
        network.sweepPass();
    });
    auto allAnswered = [&] {
        return underLock(network, [&] {
            for (std::size_t position = 0; position < network.hostCount(); ++position) {
                if (network.host(position)->getRepliesMatched() == 0)
                    return false;
            }
            return true;
        });
    };
    ASSERT_TRUE(waitFor(allAnswered, 10s));
    for (std::size_t position = 0; position < network.hostCount(); ++position)
        EXPECT_EQ(statusOf(network, position), HostStatus::Green) << position;
}

// Replies that wait on the socket together are applied together, each to
// its own host, and every one gives its count back.
TEST(PingEngine, RepliesQueuedTogetherAreAllApplied)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root: raw ICMP socket";
    std::string lines;
    for (int i = 2; i <= 7; ++i)
        lines += "h" + std::to_string(i) + " 127.0.0." + std::to_string(i) + "\n";
    EngineRun run(lines);
    Network& network = run.network();
    std::uint8_t request[44];
    testing::internal::CaptureStdout();
    for (std::size_t i = 0; i < network.hostCount(); ++i) {
        Address& host = *network.host(i);
        ASSERT_EQ(network.pingSemaphore().wait(), platform::WaitResult::Signalled);
        startRequest(network.engine(), host);
        const auto destination = resolveHost(host.getHostText(), host.getNumericAddress());
        ASSERT_FALSE(destination.is_error());
        fillEchoRequest(request, 44, 0);
        ASSERT_EQ(sendEcho(network.socket().endpoint(), destination.value(), request, 44), SendResult::Sent);
    }
    // Loopback answers within the send, so all six replies wait already.
    std::thread receiver([&network] { receiverThread(network.engine()); });
    const bool applied = waitFor(
        [&] {
            return underLock(network, [&] {
                for (std::size_t i = 0; i < network.hostCount(); ++i) {
                    if (network.host(i)->getPingState() != PingState::Idle)
                        return false;
                }
                return true;
            });
        },
        10s);
    exitRequested.store(true);
    receiver.join();
    testing::internal::GetCapturedStdout();
    ASSERT_TRUE(applied);
    for (std::size_t i = 0; i < network.hostCount(); ++i) {
        EXPECT_EQ(network.host(i)->getStatus(), HostStatus::Green);
        EXPECT_EQ(network.host(i)->getRepliesMatched(), 1u) << network.host(i)->getHostText();
    }
    int free = 0;
    while (free < 7 && network.pingSemaphore().tryWait() == platform::WaitResult::Signalled)
        ++free;
    EXPECT_EQ(free, 6);
}
#endif


// Reloads that swap half the list while the sender and the receiver run:
// no count is lost with a removed host, no freed host is touched (ASan,
// TSan), and the hosts listed all along are still pinged and answered.
TEST(PingEngine, ReloadsWhileTheThreadsRunLoseNoCountAndTouchNoFreedHost)
{
    if (!rawSocketsAllowed())
        GTEST_SKIP() << "needs root (Administrator on Windows): raw ICMP socket";
    const auto lines = [](int first, int last) {
        std::string text;
        for (int host = first; host <= last; ++host)
            text += "h" + std::to_string(host) + " 127.0.0." + std::to_string(host) + "\n";
        return text;
    };
    EngineRun run(lines(2, 21));
    Network& network = run.network();
    FakeClock& clock = run.clock;
    {
        EngineThreads threads(network, [&] {
            clock.advance(10);
            network.sweepPass();
        });
        for (int round = 0; round < 40; ++round) {
            writeFile(network.getInputFile(), round % 2 ? lines(2, 21) : lines(12, 31));
            const std::uint64_t passes = network.engine().senderPasses.load();
            network.reloadHostList();
            clock.advance(5);
            network.sweepPass();
            ASSERT_TRUE(waitFor([&] { return network.engine().senderPasses.load() > passes + 1; }, 5s)) << round;
        }
    }
    ASSERT_EQ(network.hostCount(), 20u);
    int holding = 0;
    for (std::size_t position = 0; position < network.hostCount(); ++position) {
        const Address& host = *network.host(position);
        holding += host.getHoldsCount();
        // 127.0.0.12 to .21 stayed listed through every reload.
        const int last = std::stoi(host.getHostText().substr(host.getHostText().rfind('.') + 1));
        if (last >= 12 && last <= 21) {
            EXPECT_GE(host.getRepliesMatched(), 2u) << host.getHostText();
        }
    }
    int free = 0;
    while (free < 7 && network.pingSemaphore().tryWait() == platform::WaitResult::Signalled)
        ++free;
    EXPECT_EQ(free + holding, 6);
}
