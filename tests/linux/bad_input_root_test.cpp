// The headless program run as a user who may open no ICMP socket of any kind.

#include "support/child_process.h"
#include "support/program_run.h"
#include "support/test_environment.h"
#include "support/wait_for.h"

#include <csignal>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

using namespace bv;

namespace {

using namespace std::chrono_literals;
using testing::HasSubstr;

}  // namespace

TEST(BadInput, NoPermissionForIcmp)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to run the program as a user without raw sockets";
    TemporaryDirectory directory;
    ASSERT_EQ(chmod(directory.path().c_str(), 0777), 0);
    writeFile(directory.file("hosts.txt"), "loop 127.0.0.1 loopback\n");
    // A /dev/shm of its own: the user's lock objects are not left behind. A
    // network namespace of its own, whose ping group range admits no group,
    // whatever this machine's says.
    std::vector<std::string> command { "/usr/bin/unshare", "--net", "--mount", "--propagation", "private", "/bin/sh",
        "-c", "mount -t tmpfs bv-test /dev/shm && exec \"$0\" \"$@\"" };
    for (const std::string& word : asNobody({ BV_HEADLESS_PROGRAM, "-in", "hosts.txt", "-pt", "5000" }))
        command.push_back(word);
    ProgramRun program(directory.path(), command);
    EXPECT_TRUE(waitFor([&] { return fileHolds(directory.file("out.txt"), "\tRED\tloop\t"); }, 40s))
        << program.errors();
    EXPECT_THAT(program.errors(), HasSubstr("Failed to create raw socket: 1\n"));
    EXPECT_THAT(program.errors(), HasSubstr("Failed to open the ICMP datagram socket instead: 13\n"));
    EXPECT_THAT(program.errors(), HasSubstr("setcap cap_net_raw+ep " BV_HEADLESS_PROGRAM "\n"));
    EXPECT_THAT(program.errors(), HasSubstr("sysctl -w net.ipv4.ping_group_range=\"0 2147483647\"\n"));
    EXPECT_THAT(readFile(directory.file("out.txt")), HasSubstr("\t\tunable to send ping: 0 bytes sent\r\n"));
    program.signal(SIGTERM);
    EXPECT_EQ(program.waitForExit(20s), 0) << program.errors();
}
