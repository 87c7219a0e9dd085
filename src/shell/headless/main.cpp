// The monitor on a server: no desktop, message boxes on standard error,
// SIGINT and SIGTERM ask for exit, SIGUSR1 writes the status summary,
// SIGUSR2 the ping engine's request and reply counts, SIGHUP reads the
// host list anew, keeping what the run knows of the hosts that stay.

#include "platform/diagnostics.h"
#include "platform/process.h"
#include "platform/signal_thread.h"
#include "run/command_line.h"
#include "run/run_driver.h"
#include "shell/common/monitor_signals.h"
#include "shell/headless/headless_listener.h"
#include "shell/headless/service_listener.h"
#include "core/monitor_events.h"

#include <string>
#include <vector>

using namespace bv;

namespace {

// -h, --help and --version alone: what a user types to find out, answered
// on standard output.
bool answeredQuestion(int argc, char** argv)
{
    if (argc != 2)
        return false;
    const std::string question = argv[1];
    if (question == "-h" || question == "--help") {
        std::string usage = kUsageText;
        for (std::size_t at; (at = usage.find('\r')) != std::string::npos;)
            usage.erase(at, 1);
        platform::outputLine(usage);
        return true;
    }
    if (question == "--version") {
        platform::outputLine(std::string("BeaconVigilor ") + kProgramVersion);
        return true;
    }
    return false;
}

}  // namespace

int main(int argc, char** argv)
{
    if (answeredQuestion(argc, argv))
        return 0;
    // Before the run starts its threads, which inherit the blocked signals.
    platform::SignalThread signalThread;
    ServiceListener service;
    ListenerRegistration serviceRegistration(service);
    signalThread.start(monitorSignalHandlers([&service] { service.stopping(); }, [&service] { service.reloading(); }));

    HeadlessListener listener;
    ListenerRegistration registration(listener);
    std::vector<std::string> arguments(argv, argv + argc);
    platform::exitImmediately(exitStatusOf(monitorThreadProcedure(arguments)));
}
