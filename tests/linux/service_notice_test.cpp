#include "platform/service_notice.h"

#include "support/program_run.h"
#include "support/wait_for.h"
#include "support/test_environment.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <gtest/gtest.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace bv;
using namespace std::chrono_literals;

namespace {

// What systemd does for a Type=notify service: a datagram socket whose
// address the program finds in NOTIFY_SOCKET.
class FakeManager {
public:
    explicit FakeManager(const std::string& address) : address_(address)
    {
        socket_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un self {};
        self.sun_family = AF_UNIX;
        address.copy(self.sun_path, address.size());
        if (address[0] == '@')
            self.sun_path[0] = '\0';
        bound_ = socket_ >= 0
            && bind(socket_, reinterpret_cast<sockaddr*>(&self), offsetof(sockaddr_un, sun_path) + address.size()) == 0;
        setenv("NOTIFY_SOCKET", address.c_str(), 1);
    }
    ~FakeManager()
    {
        unsetenv("NOTIFY_SOCKET");
        unsetenv("WATCHDOG_USEC");
        unsetenv("WATCHDOG_PID");
        if (socket_ >= 0)
            close(socket_);
    }
    FakeManager(const FakeManager&) = delete;
    FakeManager& operator=(const FakeManager&) = delete;

    bool bound() const { return bound_; }

    // The next notice, or an empty text when none came in time.
    std::string next(std::chrono::milliseconds limit)
    {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (true) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            pollfd waiting { socket_, POLLIN, 0 };
            const int ready = poll(&waiting, 1, static_cast<int>(std::max<std::int64_t>(left.count(), 0)));
            if (ready > 0) {
                char buffer[256];
                const ssize_t size = recv(socket_, buffer, sizeof buffer, 0);
                return size > 0 ? std::string(buffer, static_cast<std::size_t>(size)) : std::string();
            }
            if (ready == 0 || left.count() <= 0)
                return std::string();
        }
    }

    // Reads past other notices (the watchdog's come every second) until `text`.
    bool awaitNotice(const std::string& text, std::chrono::milliseconds limit)
    {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < deadline) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (next(left) == text)
                return true;
        }
        return false;
    }

private:
    std::string address_;
    int socket_ = -1;
    bool bound_ = false;
};

}  // namespace

TEST(ServiceNotice, SilentWithoutAManager)
{
    unsetenv("NOTIFY_SOCKET");
    setenv("WATCHDOG_USEC", "30000000", 1);
    platform::ServiceNotice notice;
    unsetenv("WATCHDOG_USEC");
    EXPECT_FALSE(notice.listened());
    EXPECT_FALSE(notice.watchdogWanted());
    notice.ready();
    notice.watchdog();
}

TEST(ServiceNotice, ReadyAndWatchdogReachAManagerAtAPath)
{
    TemporaryDirectory directory;
    FakeManager manager(directory.file("notify"));
    ASSERT_TRUE(manager.bound());
    setenv("WATCHDOG_USEC", "30000000", 1);
    platform::ServiceNotice notice;
    ASSERT_TRUE(notice.listened());
    EXPECT_TRUE(notice.watchdogWanted());
    notice.ready();
    notice.watchdog();
    notice.reloading();
    notice.stopping();
    EXPECT_EQ(manager.next(5s), "READY=1");
    EXPECT_EQ(manager.next(5s), "WATCHDOG=1");
    EXPECT_EQ(manager.next(5s), "RELOADING=1");
    EXPECT_EQ(manager.next(5s), "STOPPING=1");
}

TEST(ServiceNotice, AbstractAddressAndNoWatchdogUnlessAskedForThisProcess)
{
    FakeManager manager("@beaconvigilor-test-" + std::to_string(getpid()));
    ASSERT_TRUE(manager.bound());
    {
        platform::ServiceNotice notice;
        EXPECT_FALSE(notice.watchdogWanted());
        notice.watchdog();
        notice.ready();
    }
    {
        setenv("WATCHDOG_USEC", "30000000", 1);
        setenv("WATCHDOG_PID", std::to_string(getpid() + 1).c_str(), 1);
        platform::ServiceNotice notice;
        EXPECT_FALSE(notice.watchdogWanted());
        notice.watchdog();
        notice.stopping();
    }
    EXPECT_EQ(manager.next(5s), "READY=1");
    EXPECT_EQ(manager.next(5s), "STOPPING=1");
}

// As systemd runs it with Type=notify, WatchdogSec= and ExecReload= sending SIGHUP.
TEST(ServiceNotice, HeadlessProgramIsReadyAfterItsFirstPassAndAgainAfterAReload)
{
    TemporaryDirectory directory;
    writeFile(directory.file("hosts.txt"), "loopback 127.0.0.1 here\n");
    FakeManager manager(directory.file("notify"));
    ASSERT_TRUE(manager.bound());
    setenv("WATCHDOG_USEC", "30000000", 1);
    ProgramRun program(directory.path(), { BV_HEADLESS_PROGRAM, "-in", directory.file("hosts.txt"), "-out",
        directory.file("out.txt"), "-red", directory.file("down.txt") });

    EXPECT_EQ(manager.next(20s), "READY=1") << program.errors();
    EXPECT_EQ(manager.next(5s), "WATCHDOG=1");
    EXPECT_EQ(manager.next(5s), "WATCHDOG=1") << "a watchdog notice after every pass";

    program.signal(SIGHUP);
    EXPECT_TRUE(manager.awaitNotice("RELOADING=1", 10s));
    // Ready again once the new list is in place, without a restart.
    EXPECT_TRUE(manager.awaitNotice("READY=1", 20s)) << program.errors();
    EXPECT_TRUE(waitFor([&] { return program.output().find("Reloaded ") != std::string::npos; }, 5s))
        << program.output();
    EXPECT_TRUE(manager.awaitNotice("WATCHDOG=1", 5s));

    program.signal(SIGTERM);
    EXPECT_TRUE(manager.awaitNotice("STOPPING=1", 10s));
    EXPECT_EQ(program.waitForExit(20s), 0) << program.errors();
}
