#include "support/test_network.h"

#include "core/monitor_events.h"

#include "platform/process.h"

#include <atomic>

namespace bv {

std::string uniqueLockSuffix()
{
    static std::atomic<int> counter { 0 };
    return ".test." + std::to_string(platform::currentProcessId()) + "." + std::to_string(counter++);
}

void removeRunLockObjects(const RunSettings& settings, const std::string& suffix)
{
    for (const std::string& name : { pingSemaphoreName(settings.maxInFlight), std::string(kFileMutexName),
             std::string(kSocketMutexName) })
        platform::removeNamedObject(name + suffix);
}

TestNetwork::TestNetwork(const std::string& inputLines, platform::Clock& clock, RunSettings settings,
    std::optional<platform::IcmpSocketKind> socketKind)
{
    writeFile(directory.file("hosts.txt"), inputLines);
    settings.inputFile = directory.file("hosts.txt");
    if (settings.logFile == "out.txt")
        settings.logFile = directory.file("out.txt");
    if (settings.downFile == "down.txt")
        settings.downFile = directory.file("down.txt");
    NetworkOptions options;
    options.clock = &clock;
    options.socketKind = socketKind;
    options.lockNameSuffix = lockNameSuffix = uniqueLockSuffix();
    settings_ = settings;
    network = std::make_unique<Network>(settings, options);
    publication = std::make_unique<CurrentNetworkPublication>(*network);
}

ExitFlagReset::ExitFlagReset()
{
    exitRequested.store(false);
}

ExitFlagReset::~ExitFlagReset()
{
    exitRequested.store(false);
}

TestNetwork::~TestNetwork()
{
    publication.reset();
    network.reset();
    removeRunLockObjects(settings_, lockNameSuffix);
}

}  // namespace bv
