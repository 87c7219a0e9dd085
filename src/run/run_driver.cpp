#include "run/run_driver.h"

#include "core/monitor_events.h"
#include "core/startup_failure.h"
#include "ping/echo_sender.h"
#include "ping/receiver.h"
#include "platform/diagnostics.h"
#include "platform/process.h"
#include "run/current_network.h"
#include "run/metrics_server.h"
#include "run/path_watch_thread.h"

#include <exception>
#include <memory>
#include <thread>

namespace bv {

namespace {

// A log or down file that cannot be opened ends the process: a monitor that
// cannot record what it sees must not go on as if it did.
[[noreturn]] void endForLogFileError(const std::string& file)
{
    showMessageBox("Could not open " + file, "Log File Error", MessageIcon::Error);
    platform::exitImmediately(1);
}

// Should the sweep leave by an exception, the threads still see an exit
// before they are joined, instead of being waited for without end.
struct ExitOnUnwind {
    ~ExitOnUnwind()
    {
        if (std::uncaught_exceptions() > 0)
            exitRequested.store(true);
    }
};

}  // namespace

RunEnd runMonitor(const std::vector<std::string>& arguments, const NetworkOptions& options)
{
    const ParsedCommandLine parsed = parseCommandLine(arguments);
    platform::setTraceEnabled(parsed.settings.trace);
    for (const std::string& line : parsed.traceLines)
        platform::traceLine(line);
    if (!parsed.runCanStart()) {
        showMessageBox(usageBoxText(parsed.errorText), kUsageCaption, MessageIcon::Information);
        return parsed.errorFlag ? RunEnd::UsageError : RunEnd::Usage;
    }

    std::unique_ptr<Network> network;
    std::unique_ptr<PathWatchThread> paths;  // reads the run; read by the metrics
    std::unique_ptr<MetricsServer> metrics;  // reads the run, so it ends first
    try {
        network = std::make_unique<Network>(parsed.settings, options);
        metrics = startMetricsServer(parsed.settings, *network);
    } catch (const StartupFailure& failure) {
        showMessageBox(failure.what(), std::string(), MessageIcon::Error);
        return RunEnd::StartupFailure;
    }

    {
        CurrentNetworkPublication published(*network);
        notifyRunStarted(RunDescription { network->hostCount(), network->getInterval(), network->getLogFile(),
            network->getDownFile(), parsed.settings.pathsWatched });
        {
            // Joined in reverse order: sender, receiver, then the log writer,
            // which must be done with the run before the last batch.
            std::jthread logWriter([&network] {
                const std::string unopened = network->logWriter().run();
                if (!unopened.empty())
                    endForLogFileError(unopened);
            });
            sendPrimingEcho(network->socket());
            std::jthread receiver([&network] { receiverThread(network->engine()); });
            std::jthread ipv6Receiver(
                [&network] { receiverThread(network->engine(), platform::AddressFamily::V6); });
            std::jthread sender([&network] { echoSenderThread(network->engine()); });
            ExitOnUnwind exitOnUnwind;
            paths = startPathWatch(parsed.settings.pathsWatched, *network);
            network->setPathWatch(paths.get());

            network->statusSweep();
        }
        const std::string unopened = network->writeFinalBatch();
        if (!unopened.empty())
            endForLogFileError(unopened);
    }
    metrics.reset();
    network->setPathWatch(nullptr);
    paths.reset();
    network.reset();
    return RunEnd::Ran;
}

RunEnd monitorThreadProcedure(const std::vector<std::string>& arguments)
{
    const RunEnd end = runMonitor(arguments, NetworkOptions {});
    requestExit();
    return end;
}

int exitStatusOf(RunEnd end)
{
    return end == RunEnd::UsageError || end == RunEnd::StartupFailure ? 1 : 0;
}

}  // namespace bv
