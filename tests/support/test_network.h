#pragma once

#include "run/current_network.h"
#include "run/network.h"
#include "support/test_environment.h"

#include <memory>
#include <optional>
#include <string>

namespace bv {

// A lock-name suffix no other test process uses.
std::string uniqueLockSuffix();

// Removes the named lock objects a run with these settings made.
void removeRunLockObjects(const RunSettings& settings, const std::string& suffix);

// Builds a Network over an input file with the given lines, in its own
// directory, with its own lock names.
struct TestNetwork {
    TestNetwork(const std::string& inputLines, platform::Clock& clock, RunSettings settings = {},
        std::optional<platform::IcmpSocketKind> socketKind = std::nullopt);
    // Takes the run down and removes the named lock objects it made.
    ~TestNetwork();

    TemporaryDirectory directory;
    std::string lockNameSuffix;
    std::unique_ptr<Network> network;
    // Published once built, as the run driver does.
    std::unique_ptr<CurrentNetworkPublication> publication;

private:
    RunSettings settings_;
};

// Resets the process-wide exit flag around a test.
struct ExitFlagReset {
    ExitFlagReset();
    ~ExitFlagReset();
};

}  // namespace bv
