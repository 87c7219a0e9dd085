#include "shell/common/monitor_signals.h"

#include "core/monitor_events.h"
#include "platform/diagnostics.h"
#include "run/current_network.h"

namespace bv {

platform::SignalHandlers monitorSignalHandlers(std::function<void()> stopping, std::function<void()> reloaded)
{
    const auto stop = [stopping] {
        if (stopping)
            stopping();
        requestExit();
    };
    return {
        .interrupt = stop,
        .terminate = stop,
        .user1 = [] { platform::errorLine(currentSummary()); },
        .user2 = [] { platform::errorLine(currentEngineCounts()); },
        .hangUp =
            [reloaded] {
                if (requestHostListReload() && reloaded)
                    reloaded();
            },
    };
}

}  // namespace bv
