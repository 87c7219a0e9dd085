#include "run/network.h"

#include "core/startup_failure.h"
#include "run/current_network.h"
#include "support/fake_clock.h"
#include "support/recording_desktop.h"
#include "support/test_network.h"

#include <gtest/gtest.h>

using namespace bv;

TEST(Network, MissingInputFileThrowsBeforeLocksAndSocket)
{
    RecordingDesktop desktop;
    FakeClock clock;
    RunSettings settings;
    settings.inputFile = "/nonexistent/hosts.txt";
    NetworkOptions options;
    options.clock = &clock;
    options.lockNameSuffix = uniqueLockSuffix();
    testing::internal::CaptureStdout();
    try {
        Network network(settings, options);
        removeRunLockObjects(settings, options.lockNameSuffix);
        FAIL() << "built a run without its input file";
    } catch (const StartupFailure& failure) {
        // The system's reason follows; its words differ between systems.
        EXPECT_EQ(std::string(failure.what()).rfind("Could not open input file: ", 0), 0u) << std::string(failure.what());
        EXPECT_GT(std::string(failure.what()).size(), std::string("Could not open input file: ").size());
    }
    const std::string trace = testing::internal::GetCapturedStdout();
    EXPECT_EQ(trace.find("WSA starting..."), std::string::npos);
    EXPECT_EQ(getCurrentNetwork(), nullptr);
    EXPECT_EQ(currentSummary(), "N/A");
}

TEST(Network, EmptyInputBuildsEverythingAndTeardownClearsCurrent)
{
    RecordingDesktop desktop;
    FakeClock clock(5000);
    EXPECT_EQ(currentLogFile(), "N/A");
    testing::internal::CaptureStdout();
    auto test = std::make_unique<TestNetwork>("# nothing to watch\n", clock);
    EXPECT_NE(testing::internal::GetCapturedStdout().find("WSA starting..."), std::string::npos);
    Network& network = *test->network;

    EXPECT_EQ(network.hostCount(), 0u);
    EXPECT_EQ(getCurrentNetwork(), &network);
    EXPECT_EQ(currentInputFile(), network.getInputFile());
    EXPECT_EQ(currentLogFile(), network.getLogFile());
    EXPECT_EQ(currentDownFile(), network.getDownFile());
    EXPECT_EQ(currentSummary(), network.getSummary());
    EXPECT_EQ(network.getTimeOut(), 1000);
    EXPECT_EQ(network.getInterval(), 30000);
    EXPECT_EQ(network.getStatusTime(), 5000);
    EXPECT_EQ(network.getSerialParameters(), "baud=9600 parity=N data=8 stop=1 octs=on");

    // All four lock objects work; the semaphore starts full.
    EXPECT_FALSE(network.pingSemaphore().release());
    EXPECT_EQ(network.pingSemaphore().wait(), platform::WaitResult::Signalled);
    EXPECT_TRUE(network.pingSemaphore().release());
    for (platform::Mutex* mutex : { &network.fileMutex(), &network.socketMutex(), &network.vectorMutex() }) {
        EXPECT_EQ(mutex->wait(), platform::WaitResult::Signalled);
        EXPECT_TRUE(mutex->release());
    }

    test.reset();
    EXPECT_EQ(getCurrentNetwork(), nullptr);
    EXPECT_EQ(currentDownFile(), "N/A");
}

TEST(Network, LoadsHostsWithRunSettings)
{
    RecordingDesktop desktop;
    FakeClock clock(7000);
    RunSettings settings;
    settings.pingInterval = 6000;
    settings.ttl = 9;
    TestNetwork test("a 127.0.0.1 one\nb 127.0.0.2 two\nb 127.0.0.2 dup\n", clock, settings);
    Network& network = *test.network;
    ASSERT_EQ(network.hostCount(), 2u);
    EXPECT_EQ(network.host(1)->getInterval(), 6000);
    EXPECT_EQ(network.host(1)->getTtl(), 9);
    EXPECT_EQ(network.host(1)->getLastSendTime(), 7000);
    EXPECT_EQ(network.getPingTtl(), 9);
    EXPECT_EQ(desktop.boxes().size(), 1u);
}
