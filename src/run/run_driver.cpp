#include "run/run_driver.h"

#include "core/startup_failure.h"
#include "output/log_file.h"
#include "ping/echo_sender.h"
#include "ping/receiver.h"
#include "shell/desktop.h"

#include <memory>
#include <thread>

namespace bv {

int runMonitor(const std::vector<std::string>& arguments, const NetworkOptions& options, RunEnd* end)
{
    auto report = [end](RunEnd value) {
        if (end)
            *end = value;
    };
    const ParsedCommandLine parsed = parseCommandLine(arguments);
    if (!parsed.runCanStart()) {
        showMessageBox(usageBoxText(parsed.errorText), kUsageCaption, MessageIcon::Information);
        report(parsed.errorFlag ? RunEnd::UsageError : RunEnd::Usage);
        return parsed.errorFlag;
    }

    std::unique_ptr<Network> network;
    try {
        network = std::make_unique<Network>(parsed.settings, options);
    } catch (const StartupFailure& failure) {
        showMessageBox(failure.what(), std::string(), MessageIcon::Error);
        report(RunEnd::StartupFailure);
        return 0;
    }

    std::thread logWriter([&network] { logWriterThread(*network); });
    sendPrimingEcho(network->socket().handle());
    std::thread receiver([&network] { receiverThread(*network); });
    std::thread sender([&network] { echoSenderThread(*network); });

    network->statusSweep();

    receiver.join();
    sender.join();
    // The log writer is waited for as well: it must be done with the run
    // before the run is taken down, and the last batch is written after it.
    logWriter.join();
    network->writeFinalBatch();
    network.reset();
    report(RunEnd::Ran);
    return 0;
}

int monitorThreadProcedure(const std::vector<std::string>& arguments, RunEnd* end)
{
    const int result = runMonitor(arguments, NetworkOptions {}, end);
    requestExit();
    return result;
}

}  // namespace bv
