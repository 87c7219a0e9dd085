#include "run/current_network.h"

#include "run/network.h"

#include <mutex>

namespace bv {

namespace {

Network* currentNetwork = nullptr;
// Held while the shell reads the run and while the run is set or cleared,
// so a read never meets a run that is being taken down.
std::mutex currentNetworkGuard;

template <typename Read>
std::string readCurrent(Read read)
{
    std::lock_guard lock(currentNetworkGuard);
    return currentNetwork ? read(*currentNetwork) : std::string("N/A");
}

}  // namespace

void setCurrentNetwork(Network* network)
{
    std::lock_guard lock(currentNetworkGuard);
    currentNetwork = network;
}

Network* getCurrentNetwork()
{
    std::lock_guard lock(currentNetworkGuard);
    return currentNetwork;
}

RunRead tryReadCurrentNetwork(const std::function<void(Network&)>& read)
{
    std::unique_lock lock(currentNetworkGuard, std::try_to_lock);
    if (!lock)
        return RunRead::Busy;
    if (!currentNetwork)
        return RunRead::NoRun;
    read(*currentNetwork);
    return RunRead::Done;
}

std::string currentSummary()
{
    return readCurrent([](const Network& network) { return network.getSummary(); });
}

std::string currentInputFile()
{
    return readCurrent([](const Network& network) { return network.getInputFile(); });
}

std::string currentLogFile()
{
    return readCurrent([](const Network& network) { return network.getLogFile(); });
}

std::string currentDownFile()
{
    return readCurrent([](const Network& network) { return network.getDownFile(); });
}

bool requestHostListReload()
{
    std::lock_guard lock(currentNetworkGuard);
    if (!currentNetwork)
        return false;
    currentNetwork->requestReload();
    return true;
}

std::string currentEngineCounts()
{
    return readCurrent([](const Network& network) { return formatEngineCounts(network.countEngine()); });
}

}  // namespace bv
