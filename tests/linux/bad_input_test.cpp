// What the headless program answers to each kind of bad input, one test per
// row of the bad-input table in docs/testing.md.

#include "support/program_run.h"
#include "support/test_environment.h"
#include "support/wait_for.h"
#include "bv_version.h"

#include <algorithm>
#include <arpa/inet.h>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace bv;

namespace {

using namespace std::chrono_literals;
using testing::HasSubstr;

std::vector<std::string> programLine(std::vector<std::string> arguments)
{
    arguments.insert(arguments.begin(), BV_HEADLESS_PROGRAM);
    return arguments;
}

// The most resident memory the process has had so far; -1 once it has gone.
long residentPeakKilobytes(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::atol(line.c_str() + 6);
    return -1;
}

}  // namespace

TEST(BadInput, CommandLine)
{
    TemporaryDirectory directory;
    ProgramRun missingValue(directory.path(), programLine({ "-in", "hosts.txt", "-pt" }));
    EXPECT_EQ(missingValue.waitForExit(20s), 1);
    EXPECT_THAT(missingValue.errors(), HasSubstr("BeaconVigilor Usage\nNo value specified for -pt\n\n"));

    ProgramRun archive(directory.path(), programLine({ "-in", "hosts.txt", "-archive", "0" }));
    EXPECT_EQ(archive.waitForExit(20s), 1);
    EXPECT_THAT(archive.errors(), HasSubstr("BeaconVigilor Usage\n-archive size is too small\n\n"));

    ProgramRun size(directory.path(), programLine({ "-in", "hosts.txt", "-size", "1033" }));
    EXPECT_EQ(size.waitForExit(20s), 1);
    EXPECT_THAT(size.errors(), HasSubstr("BeaconVigilor Usage\n\n\nBeaconVigilor v. " BV_VERSION));
    EXPECT_FALSE(fileExists(directory.file("down.txt")));
}
TEST(BadInput, MetricsEndpoint)
{
    TemporaryDirectory directory;
    ProgramRun port(directory.path(), programLine({ "-in", "hosts.txt", "-metrics", "70000" }));
    EXPECT_EQ(port.waitForExit(20s), 1);
    EXPECT_THAT(port.errors(),
        HasSubstr("BeaconVigilor Usage\n-metrics port must be a whole number from 1 to 65535: 70000\n\n"));
    ProgramRun address(directory.path(), programLine({ "-in", "hosts.txt", "-metrics", "localhost:9100" }));
    EXPECT_EQ(address.waitForExit(20s), 1);
    EXPECT_THAT(address.errors(),
        HasSubstr("BeaconVigilor Usage\n-metrics address must be an IPv4 address such as 127.0.0.1: localhost:9100\n\n"));

    // A port another program holds, and an address of no interface here.
    const int holder = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(holder, 0);
    sockaddr_in held {};
    held.sin_family = AF_INET;
    held.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t heldSize = sizeof held;
    ASSERT_EQ(bind(holder, reinterpret_cast<sockaddr*>(&held), sizeof held), 0);
    ASSERT_EQ(listen(holder, 1), 0);
    ASSERT_EQ(getsockname(holder, reinterpret_cast<sockaddr*>(&held), &heldSize), 0);
    const std::string heldPort = std::to_string(ntohs(held.sin_port));
    writeFile(directory.file("hosts.txt"), "loopback 127.0.0.1\n");
    ProgramRun inUse(directory.path(), programLine({ "-in", "hosts.txt", "-metrics", heldPort }));
    EXPECT_EQ(inUse.waitForExit(20s), 1);
    EXPECT_THAT(inUse.errors(),
        HasSubstr("Error\nCould not serve metrics on 127.0.0.1:" + heldPort + ": Address already in use\n"));
    close(holder);
    ProgramRun notHere(directory.path(), programLine({ "-in", "hosts.txt", "-metrics", "192.0.2.1:9100" }));
    EXPECT_EQ(notHere.waitForExit(20s), 1);
    EXPECT_THAT(notHere.errors(),
        HasSubstr("Error\nCould not serve metrics on 192.0.2.1:9100: Cannot assign requested address\n"));
    EXPECT_FALSE(fileExists(directory.file("down.txt")));
}
TEST(BadInput, MissingInputFile)
{
    TemporaryDirectory directory;
    ProgramRun program(directory.path(), programLine({ "-in", "absent.txt" }));
    EXPECT_EQ(program.waitForExit(20s), 1);
    EXPECT_EQ(program.errors(), "Error\nCould not open input file: No such file or directory\n");
}
TEST(BadInput, DirectoryAsInputFile)
{
    TemporaryDirectory directory;
    ProgramRun program(directory.path(), programLine({ "-in", directory.path() }));
    EXPECT_EQ(program.waitForExit(20s), 1);
    EXPECT_EQ(program.errors(), "Error\nCould not open input file: Is a directory\n");
    EXPECT_FALSE(fileExists(directory.file("down.txt"))) << "nothing was started";
}
TEST(BadInput, EndlessInputFile)
{
    TemporaryDirectory directory;
    ProgramRun stopsAtOnce(directory.path(), programLine({ "-in", "absent.txt" }));
    ASSERT_EQ(stopsAtOnce.waitForExit(20s), 1);
    const long limitKilobytes = stopsAtOnce.peakResidentKilobytes() + 8 * 1024;

    ProgramRun program(directory.path(), programLine({ "-in", "/dev/zero" }));
    // Watched while it runs: a loader that kept the line grows by hundreds of
    // megabytes a second and must be stopped before it takes the machine.
    long sampled = -1;
    waitFor(
        [&] {
            sampled = std::max(sampled, residentPeakKilobytes(program.pid()));
            return program.waitForExit(0ms) != -1 || sampled > limitKilobytes;
        },
        5s);
    program.signal(sampled > limitKilobytes ? SIGKILL : SIGTERM);
    EXPECT_EQ(program.waitForExit(10s), 1) << program.errors();
    EXPECT_LE(sampled, limitKilobytes);
    EXPECT_LE(program.peakResidentKilobytes(), limitKilobytes);
    EXPECT_EQ(program.errors(),
        "Error parsing input file\nunable to create address at line 1 because the line is longer than 1023 "
        "characters\n"
        "Error\nCould not read input file: line 1 has no line end within 4194304 characters\n");
    EXPECT_FALSE(fileExists(directory.file("down.txt"))) << "nothing was started";
}
TEST(BadInput, BadInputFileLinesAreReportedAndSkipped)
{
    TemporaryDirectory directory;
    writeFile(directory.file("hosts.txt"),
        "lonely\n"
        "first 127.0.0.1 loopback\n"
        "again 127.0.0.1 the same\n"
        "   \n"
        + std::string(1100, 'x') + "\n"
        + "wide " + std::string(300, 'w') + " too long a field\n"
        + "\x01\x02\xff 127.0.0.2 binary name\n");
    ProgramRun program(directory.path(),
        programLine({ "-in", "hosts.txt", "-out", "out.txt", "-red", "down.txt", "-pt", "5000" }));
    const std::string expected[] = {
        "Error parsing input file\nunable to create address for lonely   at line 1 because the line format was not "
        "correct\n",
        "Duplicate IP in input file\nunable to create address for again 127.0.0.1 the same at line 3 because the ip "
        "was found earlier in the file\n",
        "Error parsing input file\nunable to create address for    at line 4 because the line format was not "
        "correct\n",
        "Error parsing input file\nunable to create address at line 5 because the line is longer than 1023 "
        "characters\n",
    };
    EXPECT_TRUE(waitFor([&] { return fileExists(directory.file("down.txt")); }, 20s)) << program.errors();
    program.signal(SIGTERM);
    EXPECT_EQ(program.waitForExit(20s), 0) << program.errors();
    for (const std::string& box : expected)
        EXPECT_THAT(program.errors(), HasSubstr(box));
    EXPECT_THAT(program.errors(), HasSubstr("at line 6 because the line format was not correct\n"));
    // The run went on with the good lines, the one after the long line too.
    EXPECT_THAT(program.errors(), testing::Not(HasSubstr("at line 7")));
}
TEST(BadInput, UnwritableDownFile)
{
    TemporaryDirectory directory;
    writeFile(directory.file("hosts.txt"), "loop 127.0.0.1 loopback\n");
    const std::string down = directory.file("no-such-directory/down.txt");
    ProgramRun program(directory.path(), programLine({ "-in", "hosts.txt", "-red", down }));
    EXPECT_EQ(program.waitForExit(20s), 1);
    EXPECT_THAT(program.errors(), HasSubstr("Log File Error\nCould not open " + down + "\n"));
}
