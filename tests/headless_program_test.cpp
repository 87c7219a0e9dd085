#include "run/command_line.h"
#include "support/test_environment.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct Outcome {
    int status = -1;
    std::string errors;
};

// after `stopAfterMs` when it is not 0.
Outcome runProgram(const std::string& directory, const std::vector<std::string>& arguments)
{
    int errors[2];
    if (pipe(errors) != 0)
        return {};
    const pid_t child = fork();
    if (child == 0) {
        if (chdir(directory.c_str()) != 0)
            _exit(127);
        dup2(errors[1], 2);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        std::vector<char*> argv { const_cast<char*>(BV_HEADLESS_PROGRAM) };
        for (const std::string& argument : arguments)
            argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        execv(BV_HEADLESS_PROGRAM, argv.data());
        _exit(127);
    }
    close(errors[1]);
    Outcome outcome;
    char buffer[4096];
    for (ssize_t got; (got = read(errors[0], buffer, sizeof buffer)) > 0;)
        outcome.errors.append(buffer, static_cast<std::size_t>(got));
    close(errors[0]);
    int status = 0;
    waitpid(child, &status, 0);
    outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
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
    EXPECT_EQ(missing.errors, "Error\nCould not open input file\n");

    // Nothing of these runs is left behind.
    EXPECT_FALSE(fileExists(directory.file("out.txt")));
    EXPECT_FALSE(fileExists(directory.file("down.txt")));
}
