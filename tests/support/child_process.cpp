#include "support/child_process.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <grp.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

namespace bv {

namespace {

constexpr uid_t kNobody = 65534;
constexpr gid_t kNoGroup = 65534;

}  // namespace

ChildOutcome runInChild(const std::function<int()>& body)
{
    ChildOutcome outcome;
    int lines[2];
    if (pipe(lines) != 0) {
        outcome.output = std::string("pipe: ") + std::strerror(errno);
        return outcome;
    }
    // What the parent has buffered must not be written twice.
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child < 0) {
        outcome.output = std::string("fork: ") + std::strerror(errno);
        close(lines[0]);
        close(lines[1]);
        return outcome;
    }
    if (child == 0) {
        close(lines[0]);
        dup2(lines[1], STDOUT_FILENO);
        dup2(lines[1], STDERR_FILENO);
        close(lines[1]);
        const int status = body();
        std::fflush(nullptr);
        _exit(status);
    }
    close(lines[1]);
    char chunk[512];
    for (ssize_t got; (got = read(lines[0], chunk, sizeof chunk)) != 0;) {
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            break;
        outcome.output.append(chunk, static_cast<std::size_t>(got));
    }
    close(lines[0]);
    int status = 0;
    if (waitpid(child, &status, 0) == child && WIFEXITED(status))
        outcome.status = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        outcome.output += "\n(the child ended by signal " + std::to_string(WTERMSIG(status)) + ")";
    return outcome;
}

int checksInChild(const std::function<void()>& checks)
{
    testing::TestPartResultArray results;
    {
        testing::ScopedFakeTestPartResultReporter reporter(
            testing::ScopedFakeTestPartResultReporter::INTERCEPT_ALL_THREADS, &results);
        checks();
    }
    int failed = 0;
    for (int i = 0; i < results.size(); ++i) {
        const testing::TestPartResult& result = results.GetTestPartResult(i);
        if (!result.failed())
            continue;
        ++failed;
        std::fprintf(stderr, "%s:%d: failed in the child:\n%s\n", result.file_name() ? result.file_name() : "?",
            result.line_number(), result.message());
    }
    std::fflush(stderr);
    return failed == 0 ? 0 : 1;
}

int childSetupFailed(const std::string& what)
{
    std::fprintf(stderr, "the child could not %s: %s\n", what.c_str(), std::strerror(errno));
    std::fflush(stderr);
    return 2;
}

bool becomeNobody()
{
    return setgroups(0, nullptr) == 0 && setgid(kNoGroup) == 0 && setuid(kNobody) == 0 && geteuid() == kNobody;
}

std::vector<std::string> asNobody(std::vector<std::string> command)
{
    command.insert(command.begin(),
        { "/usr/bin/setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", "--inh-caps=-all" });
    return command;
}

bool enterOwnNetworkNamespace(const char* pingGroupRange)
{
    if (unshare(CLONE_NEWNET) != 0 || std::system("ip link set lo up") != 0)
        return false;
    if (!pingGroupRange)
        return true;
    FILE* range = std::fopen("/proc/sys/net/ipv4/ping_group_range", "w");
    if (!range)
        return false;
    const bool written = std::fputs(pingGroupRange, range) >= 0;
    return std::fclose(range) == 0 && written;
}

ChildOutcome checksAsOrdinaryUser(const char* pingGroupRange, const std::function<void()>& checks, const char* asRoot)
{
    return runInChild([&] {
        if (geteuid() == 0) {
            if (!enterOwnNetworkNamespace(pingGroupRange))
                return childSetupFailed(std::string("enter a network namespace with ping group range ") + pingGroupRange);
            if (std::system(asRoot) != 0)
                return childSetupFailed(std::string("run as root: ") + asRoot);
            if (!becomeNobody())
                return childSetupFailed("become nobody");
        }
        return checksInChild(checks);
    });
}

}  // namespace bv
