// The monitor on a server: no desktop, message boxes on standard error,
// SIGINT and SIGTERM ask for exit, SIGUSR1 writes the status summary,
// SIGUSR2 the ping engine's request and reply counts, SIGHUP starts the
// program over in the same process, so that it reads its host list anew.

#include "platform/diagnostics.h"
#include "platform/process.h"
#include "run/current_network.h"
#include "run/run_driver.h"
#include "shell/headless/headless_listener.h"
#include "shell/headless/service_listener.h"
#include "core/monitor_events.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <pthread.h>
#include <signal.h>
#include <string>
#include <thread>
#include <unistd.h>
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

std::atomic<bool> startOver { false };

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
            startOver = true;
            service->reloading();
            requestExit();
        } else {
            service->stopping();
            requestExit();
        }
    }
}

// The same process id, so that a service manager keeps following it; the
// blocked signals stay blocked across exec.
[[noreturn]] void startOverWith(char** argv)
{
    execv("/proc/self/exe", argv);
    execvp(argv[0], argv);
    platform::errorLine("Could not start over: " + std::to_string(errno));
    platform::exitImmediately(1);
}

}  // namespace

int main(int argc, char** argv)
{
    const sigset_t signals = handledSignals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    ServiceListener service;
    ListenerRegistration serviceRegistration(service);
    std::thread(answerSignals, signals, &service).detach();

    HeadlessListener listener;
    ListenerRegistration registration(listener);
    std::vector<std::string> arguments(argv, argv + argc);
    RunEnd end = RunEnd::Ran;
    monitorThreadProcedure(arguments, &end);
    const bool failed = end == RunEnd::UsageError || end == RunEnd::StartupFailure;
    if (startOver && !failed)
        startOverWith(argv);
    platform::exitImmediately(failed ? 1 : 0);
}
