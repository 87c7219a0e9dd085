// What the headless program answers to bad input that shows only once it
// pings: the hosts are in a network lab made for each test.

#include "support/lab_program.h"
#include "support/test_environment.h"
#include "support/wait_for.h"

#include <csignal>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace bv;

namespace {

using namespace std::chrono_literals;
using testing::HasSubstr;

using BadInputInLab = LabProgramTest;

}  // namespace

TEST_F(BadInputInLab, UnwritableLogFile)
{
    const std::string log = directory_.file("no-such-directory/out.txt");
    auto program = start("refused 198.19.16.3 rejected\n", { "-out", log });
    // The first turn to red is the first log write.
    EXPECT_EQ(program->waitForExit(40s), 1) << program->errors();
    EXPECT_THAT(program->errors(), HasSubstr("Log File Error\nCould not open " + log + "\n"));
}

TEST_F(BadInputInLab, MissingSerialPort)
{
    auto program = start("refused 198.19.16.3 rejected\n", { "-sp", "/dev/bv-no-such-port" });
    EXPECT_TRUE(waitFor([&] { return fileHolds(directory_.file("out.txt"), "\tRED\trefused\t"); }, 40s))
        << program->errors();
    EXPECT_TRUE(waitFor([&] { return program->errors().find("Error opening the serial port ") != std::string::npos; },
        5s))
        << program->errors();
    program->signal(SIGTERM);
    EXPECT_EQ(program->waitForExit(20s), 0) << program->errors();
}

TEST_F(BadInputInLab, NameThatDoesNotResolve)
{
    auto program = start("nowhere nosuch.invalid no such name\nanswering 198.19.16.1 answers\n", {});
    EXPECT_TRUE(waitFor([&] { return fileHolds(directory_.file("out.txt"), "\tRED\tnowhere\t"); }, 40s))
        << program->errors();
    EXPECT_THAT(readFile(directory_.file("out.txt")),
        HasSubstr("\tRED\tnowhere\tnosuch.invalid\tno such name\t\tCould not set up for ping\r\n"));
    EXPECT_THAT(program->errors(), HasSubstr("Failed to resolve nosuch.invalid: getaddrinfo: "));
    program->signal(SIGTERM);
    EXPECT_EQ(program->waitForExit(20s), 0) << program->errors();
    EXPECT_FALSE(fileHolds(directory_.file("out.txt"), "answering"));
}
