#pragma once

#include "run/network.h"

#include <string>
#include <vector>

namespace bv {

// How a run ended, for a program that reports it in its exit status.
enum class RunEnd { Ran, Usage, UsageError, StartupFailure };

// Parses the arguments, builds the run, starts its threads and sweeps until
// exit is requested; then winds down in order. The parser's error flag
// after the usage box, 0 otherwise.
int runMonitor(const std::vector<std::string>& arguments, const NetworkOptions& options = {},
    RunEnd* end = nullptr);

// The monitor thread's body: splits the command line, runs the monitor,
// then asks the whole process to exit.
int monitorThreadProcedure(const std::vector<std::string>& arguments, RunEnd* end = nullptr);

}  // namespace bv
