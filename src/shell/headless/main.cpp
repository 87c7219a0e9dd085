// The monitor on a server: no desktop, message boxes on standard error,
// SIGINT and SIGTERM ask for exit, SIGUSR1 writes the status summary,
// SIGUSR2 the ping engine's request and reply counts, SIGHUP reads the
// host list anew, keeping what the run knows of the hosts that stay.

#include "platform/diagnostics.h"
#include "platform/process.h"
#include "run/command_line.h"
#include "run/current_network.h"
#include "run/run_driver.h"
#include "shell/headless/headless_listener.h"
#include "shell/headless/service_listener.h"
#include "core/monitor_events.h"

#include <csignal>
#include <pthread.h>
#include <signal.h>
#include <string>
#include <thread>
#include <vector>

using namespace bv;

namespace {

sigset_t handledSignals()
{
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGUSR1);
    sigaddset(&signals, SIGUSR2);
    sigaddset(&signals, SIGHUP);
    return signals;
}

// Signals are taken by one thread with sigwait, so that what they ask for
// runs as ordinary code rather than in a handler.
void answerSignals(sigset_t signals, ServiceListener* service)
{
    while (true) {
        int received = 0;
        if (sigwait(&signals, &received) != 0)
            continue;
        if (received == SIGUSR1)
            platform::errorLine(currentSummary());
        else if (received == SIGUSR2)
            platform::errorLine(currentEngineCounts());
        else if (received == SIGHUP) {
            if (requestHostListReload())
                service->reloading();
        } else {
            service->stopping();
            requestExit();
        }
    }
}

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
    const sigset_t signals = handledSignals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    ServiceListener service;
    ListenerRegistration serviceRegistration(service);
    std::thread(answerSignals, signals, &service).detach();

    HeadlessListener listener;
    ListenerRegistration registration(listener);
    std::vector<std::string> arguments(argv, argv + argc);
    platform::exitImmediately(exitStatusOf(monitorThreadProcedure(arguments)));
}
