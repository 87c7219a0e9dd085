#pragma once

#include "run/network.h"

#include <string>
#include <vector>

namespace bv {

// How a run ended, for a program that reports it in its exit status.
enum class RunEnd { Ran, Usage, UsageError, StartupFailure };

// Parses the arguments, builds the run, starts its threads and sweeps until
// exit is requested; then winds down in order. UsageError is the parser's
// error flag set after the usage box.
RunEnd runMonitor(const std::vector<std::string>& arguments, const NetworkOptions& options = {});

// The monitor thread's body: runs the monitor, then asks the whole process
// to exit.
RunEnd monitorThreadProcedure(const std::vector<std::string>& arguments);

// The process's exit status for the end of its run: 0 after a run or the
// usage asked for, 1 after a bad command line or a run that could not start.
int exitStatusOf(RunEnd end);

}  // namespace bv
