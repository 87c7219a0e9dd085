#pragma once

#include <functional>
#include <string>
#include <vector>

namespace bv {

// How a forked child ended: its exit status (-1 when it did not exit by
// itself) and all it wrote to its standard output and error.
struct ChildOutcome {
    int status = -1;
    std::string output;
};

// Runs `body` in a forked child; its return value is the exit status.
ChildOutcome runInChild(const std::function<int()>& body);

// For a child's body: runs GoogleTest checks and writes each failed one,
// with its file, line and message, to standard error, where the parent
// reads it. 0 when every check passed, 1 otherwise.
int checksInChild(const std::function<void()>& checks);

// For a child's body: says on standard error what could not be done, and
// why, and gives the status of a child that could not set itself up.
int childSetupFailed(const std::string& what);

// Gives up root for the user and group nobody, with no other groups.
bool becomeNobody();

// The command line that runs `command` as nobody, with no capabilities.
std::vector<std::string> asNobody(std::vector<std::string> command);

// As root: puts this process into a network namespace of its own with
// loopback up and, when given, the ping group range set (a new namespace
// starts with "1 0", which admits no group).
bool enterOwnNetworkNamespace(const char* pingGroupRange = nullptr);

// As root: a child in a network namespace of its own with the ping group
// range given, in which `asRoot` is run before it gives up root for nobody
// and makes the checks. Run as anyone else, the child makes the checks only.
ChildOutcome checksAsOrdinaryUser(const char* pingGroupRange, const std::function<void()>& checks,
    const char* asRoot = "true");

}  // namespace bv
