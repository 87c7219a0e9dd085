#include "output/log_file.h"

#include "run/network.h"
#include "support/fake_clock.h"
#include "support/recording_desktop.h"
#include "support/test_network.h"

#include <gtest/gtest.h>

// Forked children, pseudo-terminals and /dev/full are Linux's; on Windows
// the program's own test covers the exit code and the serial copy.
#ifndef _WIN32
#include "support/pty_pair.h"
#include <sys/wait.h>
#include <unistd.h>
#endif

using namespace bv;

namespace {

constexpr CalendarTime kStart = 1108980907;  // Mon Feb 21 10:15:07 2005 UTC

class LogFileTest : public testing::Test {
protected:
    void SetUp() override { useUtcTimeZone(); }

    // Two misses in a row, as the sweep and the sender make them.
    void turnRed(Address& host, const std::string& error)
    {
        host.setLastSendTime(clock.now() - 40);
        host.recordResult(PingResult { {}, "Timed out", 0 });
        host.setLastSendTime(clock.now() - 20);
        host.setPingState(host.recordResult(PingResult { {}, error, 0 }));
    }

    virtual Network& network() { return *test.network; }
    std::string log() { return readFile(network().getLogFile()); }

    static constexpr const char* kHosts = "router-2 10.0.0.2 core switch\nweb-1 10.0.0.7 front end\nspare 10.0.0.9\n";
    ExitFlagReset exitFlag;
    RecordingDesktop desktop;
    FakeClock clock { kStart };
    TestNetwork test { kHosts, clock };
};

}  // namespace

TEST(ArchiveName, StampGoesBeforeTheLastDotOfTheFileName)
{
    const platform::LocalTime at { 2005, 2, 21, 21, 5, 2, 1 };
    EXPECT_EQ(archiveName("out.txt", at, "\\"), "out.2005-02-21.21-05-02.txt");
    EXPECT_EQ(archiveName("C:\\logs\\status", at, "\\"), "C:\\logs\\status.2005-02-21.21-05-02");
    EXPECT_EQ(archiveName("C:\\my.logs\\status", at, "\\"), "C:\\my.logs\\status.2005-02-21.21-05-02");
    EXPECT_EQ(archiveName("C:\\logs\\net.status.log", at, "\\"), "C:\\logs\\net.status.2005-02-21.21-05-02.log");
    EXPECT_EQ(archiveName("/var/my.logs/status", at, "/"), "/var/my.logs/status.2005-02-21.21-05-02");
    EXPECT_EQ(archiveName("/var/logs/net.status.log", at, "/"), "/var/logs/net.status.2005-02-21.21-05-02.log");
    EXPECT_EQ(archiveName("C:/my.logs/status", at, "\\/"), "C:/my.logs/status.2005-02-21.21-05-02");
}

TEST_F(LogFileTest, BatchLinesInHostsOrderWithAnEmptyLineAfter)
{
    turnRed(*network().host(1), "Timed out");
    turnRed(*network().host(0), "TTL expired");
    network().sweepPass();
    ASSERT_EQ(network().printList().size(), 2u);
    network().writeLogBatch();
    EXPECT_TRUE(network().printList().empty());
    EXPECT_EQ(log(),
        "Mon Feb 21 10:14:47 2005\tRED\trouter-2\t10.0.0.2\tcore switch\t\tTTL expired\r\n"
        "Mon Feb 21 10:14:47 2005\tRED\tweb-1\t10.0.0.7\tfront end\t\tTimed out\r\n\r\n");

    // The return from red: the outage length, and the next batch appends.
    Address& web = *network().host(1);
    web.setLastSendTime(kStart + 100);
    web.setPingState(web.recordResult(PingResult { {}, "", 1 }));
    network().sweepPass();
    network().writeLogBatch();
    EXPECT_EQ(log().substr(log().find("\r\n\r\n") + 4),
        "Mon Feb 21 10:16:47 2005\tGREEN\tweb-1\t10.0.0.7\tfront end\t140.000000\r\n\r\n");

    // An empty queue does not touch the file.
    const std::string before = log();
    network().writeLogBatch();
    EXPECT_EQ(log(), before);
}

TEST_F(LogFileTest, DownFileListsTheRedHosts)
{
    network().writeDownFile();
    EXPECT_EQ(readFile(network().getDownFile()), "\r\n");
    Address& spare = *network().host(2);
    spare.setStatus(HostStatus::Yellow);
    network().writeDownFile();
    EXPECT_EQ(readFile(network().getDownFile()), "\r\n");

    spare.setStatus(HostStatus::Green);
    turnRed(spare, "Timed out");
    turnRed(*network().host(0), "Timed out");
    spare.setPingState(spare.recordResult(PingResult { {}, "Destination unreachable", 0 }));
    network().writeDownFile();
    EXPECT_EQ(readFile(network().getDownFile()),
        "Mon Feb 21 10:14:27 2005\tRED\trouter-2\t10.0.0.2\tcore switch\t\tTimed out\r\n"
        "Mon Feb 21 10:14:27 2005\tRED\tspare\t10.0.0.9\t\t\tDestination unreachable\r\n\r\n");

    spare.setPingState(spare.recordResult(PingResult { {}, "", 1 }));
    network().writeDownFile();
    // The file is rewritten in place; nothing of the longer text is left.
    EXPECT_EQ(readFile(network().getDownFile()),
        "Mon Feb 21 10:14:27 2005\tRED\trouter-2\t10.0.0.2\tcore switch\t\tTimed out\r\n\r\n");
    network().host(0)->recordResult(PingResult { {}, "", 1 });
    network().writeDownFile();
    EXPECT_EQ(readFile(network().getDownFile()), "\r\n");
}

namespace {

RunSettings archivingAtOneKilobyte()
{
    RunSettings settings;
    settings.archiveSize = 1;
    return settings;
}

class ArchivingTest : public LogFileTest {
protected:
    Network& network() override { return *archiving.network; }
    TestNetwork archiving { kHosts, clock, archivingAtOneKilobyte() };
};

}  // namespace

TEST_F(ArchivingTest, MovedOnlyWhenOverTheSizeAndNeverOverwritten)
{
    const std::string logFile = network().getLogFile();
    const std::string archive = archiveName(logFile, platform::localTimeOf(kStart), "/");
    writeFile(logFile, std::string(1024, 'x'));
    network().printList().push_back(*network().host(0));
    network().writeLogBatch();
    EXPECT_FALSE(fileExists(archive));
    EXPECT_EQ(log().substr(0, 1024), std::string(1024, 'x'));

    writeFile(logFile, std::string(1025, 'y'));
    network().printList().push_back(*network().host(0));
    network().writeLogBatch();
    EXPECT_EQ(readFile(archive), std::string(1025, 'y'));
    EXPECT_EQ(log().substr(0, 4), "Mon ");

    // A second archiving in the same clock second keeps the first archive
    // and appends to the file that stayed.
    writeFile(logFile, std::string(1025, 'z'));
    network().printList().push_back(*network().host(0));
    network().writeLogBatch();
    EXPECT_EQ(readFile(archive), std::string(1025, 'y'));
    EXPECT_EQ(log().substr(0, 1025), std::string(1025, 'z'));
    EXPECT_GT(log().size(), 1025u);
}

TEST_F(LogFileTest, BatchAfterATornLineStartsOnALineOfItsOwn)
{
    // What a run killed inside its write may leave behind.
    const std::string torn = "Mon Feb 21 10:14:27 2005\tRED\trout";
    writeFile(network().getLogFile(), torn);
    network().printList().push_back(*network().host(0));
    network().writeLogBatch();
    const std::string line = network().host(0)->getText() + "\r\n";
    EXPECT_EQ(log(), torn + "\r\n" + line + "\r\n");

    // A log that ends with its line end gets nothing in between.
    network().printList().push_back(*network().host(0));
    network().writeLogBatch();
    EXPECT_EQ(log(), torn + "\r\n" + line + "\r\n" + line + "\r\n");
}

TEST_F(LogFileTest, NoArchivingWithoutTheOption)
{
    writeFile(network().getLogFile(), "old\r\n");
    network().printList().push_back(*network().host(0));
    network().writeLogBatch();
    EXPECT_EQ(log().substr(0, 5), "old\r\n");
}

TEST_F(LogFileTest, LastBatchHoldsChangesNotYetQueued)
{
    turnRed(*network().host(0), "Timed out");  // pending, the sweep has not seen it
    turnRed(*network().host(1), "Timed out");
    network().sweepPass();                     // both queued
    turnRed(*network().host(2), "Timed out");  // pending after the last pass
    network().writeFinalBatch();
    const std::string text = log();
    EXPECT_NE(text.find("router-2"), std::string::npos);
    EXPECT_NE(text.find("web-1"), std::string::npos);
    EXPECT_NE(text.find("\tspare\t"), std::string::npos);
    EXPECT_EQ(network().host(2)->getPingState(), PingState::Idle);
    EXPECT_NE(readFile(network().getDownFile()).find("spare"), std::string::npos);
}

#ifndef _WIN32
// The library only reports it; the run shows "Log File Error" and ends with
// code 1 (the program's own bad-input test sees both).
TEST(LogFileErrors, UnopenableFilesAreReportedNotWritten)
{
    for (const bool append : { true, false })
        EXPECT_EQ(writeTextFile("x", "/nonexistent-dir/out.txt", append), TextWrite::NotOpened);
    EXPECT_EQ(writeTextFile("x", "/dev/full", true), TextWrite::Failed);
}

namespace {

class SerialCopyTest : public LogFileTest {
protected:
    PtyPair pty;
};

}  // namespace

TEST_F(SerialCopyTest, PortGetsTheBatchLinesWithoutTheEmptyLine)
{
    // The port name is only known once the pty exists: build a run for it.
    RunSettings portSettings;
    ASSERT_TRUE(pty.ready());
    portSettings.serialPort = pty.slaveName;
    TestNetwork run("a 10.0.0.1 one\nb 10.0.0.2 two\n", clock, portSettings);
    turnRed(*run.network->host(0), "Timed out");
    turnRed(*run.network->host(1), "Timed out");
    run.network->sweepPass();
    run.network->writeLogBatch();
    const std::string logText = readFile(run.network->getLogFile());
    ASSERT_EQ(logText.substr(logText.size() - 4), "\r\n\r\n");
    const std::string batch = logText.substr(0, logText.size() - 2);
    EXPECT_EQ(pty.readMaster(batch.size() + 1), batch);

    // A port that cannot be opened skips the copy; the log is still written.
    RunSettings missing;
    missing.serialPort = "/dev/nonexistent-serial-port";
    TestNetwork other("c 10.0.0.3\n", clock, missing);
    turnRed(*other.network->host(0), "Timed out");
    other.network->sweepPass();
    testing::internal::CaptureStderr();
    other.network->writeLogBatch();
    const std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_EQ(errors.rfind("Error opening the serial port ", 0), 0u) << errors;
    EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1);
    EXPECT_NE(readFile(other.network->getLogFile()).find("\tc\t"), std::string::npos);
    EXPECT_TRUE(other.network->printList().empty());
}

TEST(LogFileErrors, FailedWriteKeepsTheBatchQueuedAndSaysSoOnce)
{
    useUtcTimeZone();
    RecordingDesktop desktop;
    FakeClock clock(kStart);
    RunSettings full;
    full.logFile = "/dev/full";  // every write fails as on a full disk
    TestNetwork test("a 10.0.0.1\n", clock, full);
    Network& network = *test.network;
    network.printList().push_back(*network.host(0));
    for (int cycle = 0; cycle < 2; ++cycle) {
        testing::internal::CaptureStderr();
        network.writeLogBatch();
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "could not write the log file /dev/full\n");
        EXPECT_EQ(network.printList().size(), 1u);
    }
    EXPECT_TRUE(desktop.boxes().empty());
}

TEST(WriteTextFile, ReplacesInPlaceAndWritesToDevices)
{
    RecordingDesktop desktop;
    TemporaryDirectory directory;
    const std::string name = directory.file("down.txt");
    EXPECT_EQ(writeTextFile(std::string(300, 'x'), name, false), TextWrite::Written);
    EXPECT_EQ(readFile(name), std::string(300, 'x') + "\r\n");
    EXPECT_EQ(writeTextFile("ab", name, false), TextWrite::Written);
    EXPECT_EQ(readFile(name), "ab\r\n");
    EXPECT_EQ(writeTextFile("", name, false), TextWrite::Written);
    EXPECT_EQ(readFile(name), "\r\n");
    EXPECT_EQ(writeTextFile("more", name, true), TextWrite::Written);
    EXPECT_EQ(readFile(name), "\r\nmore\r\n");
    // A device has no length to cut: still a good write, and no box.
    EXPECT_EQ(writeTextFile("gone", "/dev/null", false), TextWrite::Written);
    EXPECT_TRUE(desktop.boxes().empty());
}
#endif
