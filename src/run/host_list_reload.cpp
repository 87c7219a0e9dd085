#include "run/network.h"

#include "core/input_file.h"
#include "core/monitor_events.h"
#include "core/startup_failure.h"
#include "platform/diagnostics.h"
#include "platform/lock_hold.h"

namespace bv {

void Network::reloadHostList()
{
    HostListReload reload;
    reload.inputFile = inputFile_;
    // Loaded aside, without the lock: a slow name or a long file holds up
    // nobody, and the bad lines are told once the list is in place rather
    // than in boxes that would stop the sweep.
    Region fresh(inputFile_, getInterval(), getPingTtl(), getTimeOut(), getPacketSize(), clock_.now());
    try {
        loadHostList(fresh, [&reload](const std::string& text, const std::string& caption) {
            std::string line = caption + ": " + text;
            while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
                line.pop_back();
            reload.badLines.push_back(std::move(line));
        });
    } catch (const StartupFailure& failure) {
        reload.failure = failure.what();
        reload.badLines.clear();
        notifyHostListReloaded(reload);
        return;
    }

    std::vector<Address*> added;
    std::vector<std::unique_ptr<Address>> removed;
    {
        platform::MutexHold hosts(*vectorMutex_, "vector mutex cannot be released");
        if (!hosts) {
            reload.failure = "could not acquire vector mutex";
            notifyHostListReloaded(reload);
            return;
        }
        removed = adoptHosts(fresh, added);
        // New hosts fall due one interval from now, as at a start.
        const std::int64_t now = clock_.monotonicMilliseconds();
        for (Address* record : added) {
            record->setSentAt(now);
            reload.added.push_back(record->isIpv6Twin() ? record->getKey() : record->getHostText());
        }
        const std::uint64_t senderPass = engine_->senderPasses.load();
        for (auto& record : removed) {
            // A turn the sweep has not yet queued still reaches the log.
            if (record->getPingState() == PingState::ChangePending)
                queueChange(*record);
            if (takeBackCount(*record) && !pingSemaphore_->release())
                platform::errorLine("semaphore cannot be released");
            inFlight_.forget(*record);
            namedHosts_.forget(*record);
            reload.removed.push_back(record->isIpv6Twin() ? record->getKey() : record->getHostText());
        }
        for (auto& record : removed) {
            notifyAddressRemoved(*record);
            retired_.push_back(RetiredHost { senderPass, std::move(record) });
        }
        reload.kept = hostCount() - added.size();
    }
    notifyHostListReloaded(reload);
}

void Network::freeRetiredHosts()
{
    if (retired_.empty())
        return;
    const std::uint64_t senderPass = engine_->senderPasses.load();
    std::erase_if(retired_, [senderPass](const RetiredHost& retired) { return retired.senderPass < senderPass; });
}

}  // namespace bv
