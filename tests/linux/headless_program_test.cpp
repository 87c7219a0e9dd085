#include "run/command_line.h"
#include "support/program_run.h"
#include "support/test_environment.h"
#include "bv_version.h"

#include <gtest/gtest.h>

using namespace bv;

namespace {

struct Outcome {
    int status = -1;
    std::string errors;
    std::string output;
};

Outcome runProgram(const std::string& directory, std::vector<std::string> arguments)
{
    arguments.insert(arguments.begin(), BV_HEADLESS_PROGRAM);
    ProgramRun program(directory, arguments);
    Outcome outcome;
    outcome.status = program.waitForExit(std::chrono::seconds(20));
    outcome.errors = program.errors();
    outcome.output = program.output();
    return outcome;
}

}  // namespace

TEST(HeadlessProgram, CommandLineAnswersAndExitStatuses)
{
    TemporaryDirectory directory;
    const std::string usage = std::string(kUsageText) + "\n";

    Outcome none = runProgram(directory.path(), {});
    EXPECT_EQ(none.status, 0);
    EXPECT_EQ(none.errors, "BeaconVigilor Usage\n\n\n" + usage);

    Outcome bad = runProgram(directory.path(), { "-x", "-in", "hosts.txt" });
    EXPECT_EQ(bad.status, 1);
    EXPECT_EQ(bad.errors, "BeaconVigilor Usage\nUnrecognized parameter: -x\n\n" + usage);

    Outcome ttl = runProgram(directory.path(), { "-in", "hosts.txt", "-ttl", "0" });
    EXPECT_EQ(ttl.status, 1);
    EXPECT_EQ(ttl.errors, "BeaconVigilor Usage\n\n\n" + usage);

    Outcome missing = runProgram(directory.path(), { "-in", "absent.txt" });
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.errors, "Error\nCould not open input file: No such file or directory\n");

    // Asked for, the usage text and the version go to standard output.
    std::string plainUsage = usage;
    std::erase(plainUsage, '\r');
    for (const char* question : { "-h", "--help" }) {
        Outcome help = runProgram(directory.path(), { question });
        EXPECT_EQ(help.status, 0);
        EXPECT_EQ(help.output, plainUsage);
        EXPECT_EQ(help.errors, "");
    }
    Outcome version = runProgram(directory.path(), { "--version" });
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.output, "BeaconVigilor " BV_VERSION "\n");

    // Nothing of these runs is left behind.
    EXPECT_FALSE(fileExists(directory.file("out.txt")));
    EXPECT_FALSE(fileExists(directory.file("down.txt")));
}
