#include "run/network.h"

#include "core/monitor_events.h"
#include "platform/diagnostics.h"
#include "platform/lock_hold.h"

namespace bv {

void Network::statusSweep()
{
    while (!exitRequested.load()) {
        const std::int64_t pause = sweepPass();
        if (pause > 0)
            clock_.pauseMilliseconds(pause, exitRequested.wakeup());
        platform::traceLine("END");
    }
    // Without them an echo sender waiting for a count would never see the
    // exit, and the run would never end.
    returnOutstandingCounts();
}

void Network::returnOutstandingCounts()
{
    platform::MutexHold hosts(*vectorMutex_, "vector mutex cannot be released");
    if (!hosts) {
        platform::errorLine("could not acquire vector mutex");
        return;
    }
    for (std::size_t position = 0; position < hostCount(); ++position) {
        Address& record = *host(position);
        if (record.getPingState() != PingState::AwaitingReply)
            continue;
        record.setPingState(PingState::Idle);
        if (!pingSemaphore_->release())
            platform::errorLine("semaphore cannot be released");
    }
}

void Network::queueChange(Address& record)
{
    platform::MutexHold files(*fileMutex_, "mutex cannot be released");
    if (!files) {
        platform::errorLine("mutex cannot be acquired");  // stays pending for the next pass
        return;
    }
    printList_.push_back(record);
    record.setPingState(PingState::Idle);
}

std::string Network::writeFinalBatch()
{
    // Changes the sweep had not yet queued join the queue, so that nothing
    // seen before exit is missing from the log.
    {
        platform::MutexHold hosts(*vectorMutex_, "vector mutex cannot be released");
        if (hosts) {
            for (std::size_t position = 0; position < hostCount(); ++position) {
                if (host(position)->getPingState() == PingState::ChangePending)
                    queueChange(*host(position));
            }
        }
    }
    if (writeLogBatch() == TextWrite::NotOpened)
        return logFile_;
    if (writeDownFile() == TextWrite::NotOpened)
        return downFile_;
    return std::string();
}

std::int64_t Network::sweepPass()
{
    const CalendarTime passStart = clock_.now();

    if (platform::traceWanted()) {
        // The lines are read under the lock: the other threads rewrite them.
        std::string dump;
        {
            platform::MutexHold hosts(*vectorMutex_, "vector mutex cannot be released");
            for (std::size_t position = 0; hosts && position < hostCount(); ++position) {
                dump += host(position)->getText();
                dump += "\r\n";
            }
        }
        dump += "!!!";
        platform::traceLine(dump);
    }

    std::int32_t red = 0;
    std::int32_t yellow = 0;
    std::int32_t green = 0;
    for (std::size_t position = 0; position < hostCount(); ++position) {
        platform::traceLine("pn: waiting vector mutex");
        platform::MutexHold hosts(*vectorMutex_, "vector mutex cannot be released");
        platform::traceLine("pn: got vector mutex");
        if (!hosts) {
            platform::errorLine("could not acquire vector mutex");
            continue;
        }
        Address& record = *host(position);
        const PingState state = record.getPingState();
        if (state == PingState::ChangePending) {
            platform::traceLine("pn:going to add to print");
            queueChange(record);
        } else if (state == PingState::AwaitingReply && clock_.now() - record.getLastSendTime() >= record.getTimeOut()) {
            record.setPingState(record.recordResult(PingResult { 0, "Timed out", 0 }));
            if (!pingSemaphore_->release())
                platform::errorLine("semaphore cannot be released");
            platform::traceLine("pn: ip timed out");
        }
        const HostStatus status = record.getStatus();
        if (status == HostStatus::Red)
            ++red;
        else if (status == HostStatus::Yellow)
            ++yellow;
        else
            ++green;
    }

    setCounts(red, yellow, green);
    setStatusTime(clock_.now());

    if (red > 0)
        setTrayRed();
    else if (yellow > 0)
        setTrayYellow();
    else if (green > 0)
        setTrayGreen();
    else
        setTrayRed();

    std::int64_t pause = (clock_.now() - passStart) * 1000;
    if (pause == 0)
        pause = std::int64_t(getInterval()) - 3;
    if (pause < getInterval()) {
        if (platform::traceWanted())
            platform::traceLine("sleeping for: " + std::to_string(pause));
        return pause;
    }
    return 0;
}

}  // namespace bv
