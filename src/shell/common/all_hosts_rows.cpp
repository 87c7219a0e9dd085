#include "shell/common/all_hosts_rows.h"

#include "platform/lock_hold.h"
#include "run/current_network.h"
#include "run/network.h"
#include "shell/common/red_list_rows.h"

#include <chrono>
#include <cmath>
#include <thread>

namespace bv {

bool allHostsColumnIsNumeric(int column)
{
    switch (column) {
    case kHostsStatusColumn:
    case kHostsLatestColumn:
    case kHostsMedianColumn:
    case kHostsMaximumColumn:
    case kHostsLossColumn:
    case kHostsDownSinceColumn:
        return true;
    default:
        return false;
    }
}

std::string formatMilliseconds(std::int64_t microseconds)
{
    std::string fraction = std::to_string(microseconds % 1000);
    fraction.insert(0, 3 - fraction.size(), '0');
    return std::to_string(microseconds / 1000) + "." + fraction + " ms";
}

const char* statusWord(HostStatus status)
{
    switch (status) {
    case HostStatus::Green:
        return "Green";
    case HostStatus::Yellow:
        return "Yellow";
    default:
        return "Red";
    }
}

std::uint32_t statusFill(HostStatus status)
{
    switch (status) {
    case HostStatus::Green:
        return 0x00C800;
    case HostStatus::Yellow:
        return 0xFFDC00;
    default:
        return 0xE60000;
    }
}

std::uint32_t statusInk(HostStatus status)
{
    return status == HostStatus::Green || status == HostStatus::Yellow ? 0x000000 : 0xFFFFFF;
}

AllHostsRow allHostsRow(const Address& address, std::size_t position, std::int64_t nowMicroseconds)
{
    AllHostsRow row;
    row.key = address.getKey();
    row.position = position;
    HostStatus status = address.getStatus();
    if (status != HostStatus::Green && status != HostStatus::Yellow)
        status = HostStatus::Red;
    row.status = status;
    row.sortKeys.fill(kNoSortKey);

    row.cells[kHostsNameColumn] = address.getName();
    row.cells[kHostsHostColumn] = redListKey(address);
    row.cells[kHostsStatusColumn] = statusWord(status);
    row.sortKeys[kHostsStatusColumn] = static_cast<std::int64_t>(status);

    const RoundTripFigures figures = address.getRoundTripFigures(nowMicroseconds);
    const auto roundTrip = [&](AllHostsColumn column, std::int64_t microseconds) {
        row.cells[column] = formatMilliseconds(microseconds);
        row.sortKeys[column] = microseconds;
    };
    if (figures.hasReplies()) {
        if (figures.latest)
            roundTrip(kHostsLatestColumn, *figures.latest);
        roundTrip(kHostsMedianColumn, figures.median);
        roundTrip(kHostsMaximumColumn, figures.maximum);
    }
    if (figures.requests > 0) {
        const double percent = figures.lossRatio() * 100;
        row.cells[kHostsLossColumn] = std::to_string(static_cast<int>(std::lround(percent))) + " %";
        // Exact, where the rounded percentages of two hosts tie.
        row.sortKeys[kHostsLossColumn] = std::int64_t(figures.lost) * 1000000 / figures.requests;
    }
    if (status == HostStatus::Red) {
        row.cells[kHostsDownSinceColumn] = formatTime(address.getDownSince());
        row.sortKeys[kHostsDownSinceColumn] = address.getDownSince();
    }
    const RoundTripAlarms& alarms = address.getAlarms();
    row.cells[kHostsAlarmColumn] = alarms.slow && alarms.loss ? "slow, loss" : alarms.slow ? "slow" : alarms.loss ? "loss" : "";
    return row;
}

bool allHostsRowBefore(const AllHostsRow& a, const AllHostsRow& b, int column)
{
    if (column >= 0 && column < kAllHostsColumnCount) {
        if (allHostsColumnIsNumeric(column)) {
            if (a.sortKeys[column] != b.sortKeys[column])
                return a.sortKeys[column] < b.sortKeys[column];
        } else if (const int order = a.cells[column].compare(b.cells[column]); order != 0) {
            return order < 0;
        }
    }
    return a.position < b.position;
}

namespace {

enum class Attempt { Built, NoRun, Busy };

Attempt tryBuildRows(std::vector<AllHostsRow>& rows)
{
    bool busy = false;
    const RunRead read = tryReadCurrentNetwork([&](Network& network) {
        auto hosts = platform::MutexHold::tryTake(network.vectorMutex(), "vector mutex cannot be released");
        if (!hosts || !hosts->held()) {
            busy = true;
            return;
        }
        const std::int64_t now = network.clock().monotonicMicroseconds();
        rows.clear();
        rows.reserve(network.hostCount());
        for (std::size_t position = 0; position < network.hostCount(); ++position)
            rows.push_back(allHostsRow(*network.host(position), position, now));
    });
    if (busy || read == RunRead::Busy)
        return Attempt::Busy;
    return read == RunRead::Done ? Attempt::Built : Attempt::NoRun;
}

}  // namespace

std::optional<std::vector<AllHostsRow>> currentAllHostsRows(int tries)
{
    std::vector<AllHostsRow> rows;
    for (int attempt = 0; attempt < tries; ++attempt) {
        switch (tryBuildRows(rows)) {
        case Attempt::Built:
            return rows;
        case Attempt::NoRun:
            return std::nullopt;
        case Attempt::Busy:
            break;
        }
        if (attempt + 1 < tries)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return std::nullopt;
}

std::string allHostsCopyText(
    const std::vector<std::array<std::string, kAllHostsColumnCount>>& rows, std::string_view lineEnd)
{
    std::string text;
    if (rows.empty())
        return text;
    const auto line = [&](const auto& cell) {
        for (int column = 0; column < kAllHostsColumnCount; ++column) {
            if (column > 0)
                text += '\t';
            text += cell(column);
        }
        text += lineEnd;
    };
    line([](int column) { return std::string(kAllHostsColumnTitles[column]); });
    for (const auto& row : rows)
        line([&](int column) { return row[column]; });
    return text;
}

std::string allHostsColumnWidthSetting(int column)
{
    return "AllHostsColumnWidth" + std::to_string(column);
}

}  // namespace bv
