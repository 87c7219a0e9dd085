#include "shell/common/terminal_lines.h"

#include "core/address.h"
#include "core/round_trip_alarm.h"
#include "run/command_line.h"

#include <cinttypes>
#include <cstdio>

namespace bv {

namespace {

std::string seconds(std::int64_t milliseconds)
{
    char text[32];
    if (milliseconds % 1000 == 0)
        std::snprintf(text, sizeof text, "%" PRId64, milliseconds / 1000);
    else
        std::snprintf(text, sizeof text, "%.3g", static_cast<double>(milliseconds) / 1000.0);
    return text;
}

// Five at most: a reload of thousands must still make one readable line.
std::string someOf(const std::vector<std::string>& hosts)
{
    constexpr std::size_t kShown = 5;
    std::string text;
    for (std::size_t position = 0; position < hosts.size() && position < kShown; ++position)
        text += (position > 0 ? ", " : "") + hosts[position];
    if (hosts.size() > kShown)
        text += " and " + std::to_string(hosts.size() - kShown) + " more";
    return text;
}

}  // namespace

std::string runStartLine(const RunDescription& run)
{
    return std::string("BeaconVigilor ") + kProgramVersion + " watching " + std::to_string(run.hosts)
        + (run.hosts == 1 ? " host" : " hosts") + " every " + seconds(run.intervalMilliseconds) + " s; log "
        + run.logFile + ", down file " + run.downFile;
}

std::string changeLine(const Address& change)
{
    std::string line = formatTime(change.getLastSendTime()) + ' ' + change.getStatusText() + ' ' + change.getName()
        + ' ' + change.getHostText();
    if (!change.getComment().empty())
        line += " (" + change.getComment() + ")";
    if (change.getStatus() == HostStatus::Green)
        line += ": back after " + std::to_string(change.getLastReplyTime() - change.getDownSince()) + " s";
    else
        line += ": " + change.getErrorText();
    return line;
}

std::string alarmLine(const RoundTripAlarmChange& change)
{
    const bool slow = change.kind == AlarmKind::Slow;
    std::string line = std::string(slow ? "SLOW " : "LOSS ") + change.name + ' ' + change.hostText + ": ";
    const std::string figure = slow ? "median " + millisecondsText(change.figures.median) + " ms"
                                    : "loss " + lossPercentText(change.figures) + " %";
    if (!change.raised)
        return line + "normal again, " + figure;
    const std::int32_t requests = slow ? change.figures.replies : change.figures.requests;
    return line + figure + " over " + std::to_string(requests) + (requests == 1 ? " request" : " requests")
        + ", threshold " + std::to_string(change.threshold) + (slow ? " ms" : " %");
}

std::string reloadLine(const HostListReload& reload)
{
    std::string line = "Reloaded " + reload.inputFile + ": " + std::to_string(reload.kept) + " kept, "
        + std::to_string(reload.added.size()) + " added";
    if (!reload.added.empty())
        line += " (" + someOf(reload.added) + ")";
    line += ", " + std::to_string(reload.removed.size()) + " removed";
    if (!reload.removed.empty())
        line += " (" + someOf(reload.removed) + ")";
    return line;
}

}  // namespace bv

namespace bv {

std::vector<std::string> reloadProblems(const HostListReload& reload)
{
    std::vector<std::string> problems = reload.badLines;
    if (!reload.failure.empty())
        problems.push_back("Could not reload the host list " + reload.inputFile + ": " + reload.failure
            + "; the hosts stay as they were");
    return problems;
}

}  // namespace bv
