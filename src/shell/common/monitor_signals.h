#pragma once

#include "platform/signal_thread.h"

#include <functional>

namespace bv {

// What every POSIX program of the monitor does on a signal: SIGINT and
// SIGTERM end the run, SIGUSR1 writes the status summary and SIGUSR2 the
// engine's counts to standard error, SIGHUP reloads the host list. A program
// that tells someone else first passes `stopping` (before the exit) and
// `reloaded` (after a reload that was taken up).
platform::SignalHandlers monitorSignalHandlers(
    std::function<void()> stopping = {}, std::function<void()> reloaded = {});

}  // namespace bv
