#pragma once

#include <functional>
#include <string>

namespace bv {

class Network;

// The one live run, or none. The shell reads the run only through it.
void setCurrentNetwork(Network* network);
Network* getCurrentNetwork();

// Publishes a run that is completely built, for the publication's lifetime;
// it ends before the run is taken down.
class CurrentNetworkPublication {
public:
    explicit CurrentNetworkPublication(Network& network) { setCurrentNetwork(&network); }
    ~CurrentNetworkPublication() { setCurrentNetwork(nullptr); }
    CurrentNetworkPublication(const CurrentNetworkPublication&) = delete;
    CurrentNetworkPublication& operator=(const CurrentNetworkPublication&) = delete;
};

// Runs `read` on the live run, which stays alive meanwhile, unless another
// thread holds the run just now: the caller does not wait.
enum class RunRead { Done, NoRun, Busy };
RunRead tryReadCurrentNetwork(const std::function<void(Network&)>& read);

// For the shell; each reads "N/A" when no run exists.
std::string currentSummary();
std::string currentEngineCounts();
std::string currentInputFile();
std::string currentLogFile();
std::string currentDownFile();

// Asks the live run to read its host list anew (SIGHUP, the tray's "Reload
// Host List"); the sweep does it before its next pass. False without a run.
bool requestHostListReload();

}  // namespace bv
