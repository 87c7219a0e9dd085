#pragma once

#include <string>

namespace bv {

class Network;

// The one live run, or none. The shell reads the run only through it.
void setCurrentNetwork(Network* network);
Network* getCurrentNetwork();

// For the shell; each reads "N/A" when no run exists.
std::string currentSummary();
std::string currentEngineCounts();
std::string currentInputFile();
std::string currentLogFile();
std::string currentDownFile();

}  // namespace bv
