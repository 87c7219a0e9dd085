#include "run/network.h"

#include "core/monitor_events.h"
#include "platform/diagnostics.h"
#include "platform/lock_hold.h"

#include <algorithm>

namespace bv {

void Network::statusSweep()
{
    while (!exitRequested.load()) {
        if (reloadRequested_.exchange(false))
            reloadHostList();
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
        if (takeBackCount(record) && !pingSemaphore_->release())
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

namespace {

// A pass every second: a request is failed and a change queued for the log
// within a second, whatever the interval.
constexpr std::int64_t kSweepPeriod = 1000;
constexpr std::int64_t kOverdueSlack = 1000;
constexpr std::int64_t kOverdueNotePeriod = 60000;

}  // namespace

void Network::noteOverdue(std::int32_t badlyOverdue, std::int64_t now)
{
    if (badlyOverdue == 0 || (overdueNoted_ && now - lastOverdueNote_ < kOverdueNotePeriod))
        return;
    overdueNoted_ = true;
    lastOverdueNote_ = now;
    platform::errorLine(std::to_string(badlyOverdue) + " hosts are overdue by more than one interval: raise -max (now "
        + std::to_string(maxInFlight_) + ") or lower -to (now " + std::to_string(getTimeOut()) + " ms)");
}

void Network::judgeAlarms(Address& record, std::vector<RoundTripAlarmChange>& changes)
{
    const RoundTripFigures figures = record.getRoundTripFigures(clock_.monotonicMicroseconds());
    const RoundTripAlarm::Turns turns = alarm_.evaluate(record.alarms(), figures);
    if (!turns.any())
        return;
    auto add = [&](AlarmKind kind, RoundTripAlarm::Turn turn, std::int32_t threshold) {
        if (turn != RoundTripAlarm::Turn::None)
            changes.push_back(RoundTripAlarmChange { kind, turn == RoundTripAlarm::Turn::Raised, record.getName(),
                record.getHostText(), figures, threshold });
    };
    add(AlarmKind::Slow, turns.slow, alarm_.slowMilliseconds());
    add(AlarmKind::Loss, turns.loss, alarm_.lossPercent());
}

std::int64_t Network::sweepPass()
{
    freeRetiredHosts();
    const std::int64_t passStart = clock_.monotonicMilliseconds();
    const std::int64_t interval = getInterval();
    const std::int64_t sincePass = lastPassStart_ ? passStart - *lastPassStart_ : 0;
    lastPassStart_ = passStart;
    const CalendarTime calendarNow = clock_.now();

    // The whole list at most once an interval, though the passes come every second.
    if (platform::traceWanted() && (!dumped_ || passStart - lastDump_ >= interval)) {
        dumped_ = true;
        lastDump_ = passStart;
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
    std::int32_t overdue = 0;
    std::int32_t badlyOverdue = 0;
    const bool alarms = alarm_.enabled();
    std::vector<RoundTripAlarmChange> alarmChanges;
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
        const std::int64_t now = clock_.monotonicMilliseconds();
        const std::int64_t sinceSent = now - record.getSentAt();
        if (state == PingState::ChangePending) {
            platform::traceLine("pn:going to add to print");
            queueChange(record);
        } else if (state == PingState::AwaitingReply && sinceSent >= std::int64_t(record.getTimeOut()) * 1000) {
            record.setPingState(record.recordResult(PingResult { {}, "Timed out", 0 }));
            if (takeBackCount(record) && !pingSemaphore_->release())
                platform::errorLine("semaphore cannot be released");
            platform::traceLine("pn: ip timed out");
            // Queued in this same pass, not a second later.
            if (record.getPingState() == PingState::ChangePending) {
                platform::traceLine("pn:going to add to print");
                queueChange(record);
            }
        } else if (state == PingState::Idle && sinceSent > record.getInterval() + kOverdueSlack) {
            ++overdue;
            if (sinceSent > 2 * std::int64_t(record.getInterval()))
                ++badlyOverdue;
        }
        if (alarms)
            judgeAlarms(record, alarmChanges);
        const HostStatus status = record.getStatus();
        // Taken here, so that hosts of every load and reload have one; a
        // host's first request goes out an interval after it is listed.
        if (historyKept_)
            record.keepHistory();
        if (HostHistory* history = record.keptHistory(); history && status == HostStatus::Red && sincePass > 0)
            history->down(calendarNow, sincePass);
        if (status == HostStatus::Red)
            ++red;
        else if (status == HostStatus::Yellow)
            ++yellow;
        else
            ++green;
    }

    // Announced without the lock: a listener may read the hosts.
    for (const RoundTripAlarmChange& change : alarmChanges)
        notifyRoundTripAlarmChanged(change);
    setCounts(red, yellow, green);
    overdueCount_.store(overdue, std::memory_order_relaxed);
    sweepPasses_.fetch_add(1, std::memory_order_relaxed);
    setStatusTime(clock_.now());
    noteOverdue(badlyOverdue, passStart);

    if (red > 0)
        setTrayRed();
    else if (yellow > 0)
        setTrayYellow();
    else if (green > 0)
        setTrayGreen();
    else
        setTrayRed();
    notifySweepPassDone();

    const std::int64_t pause = std::max<std::int64_t>(kSweepPeriod - (clock_.monotonicMilliseconds() - passStart), 0);
    if (pause > 0 && platform::traceWanted())
        platform::traceLine("sleeping for: " + std::to_string(pause));
    return pause;
}

}  // namespace bv
