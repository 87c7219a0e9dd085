#include "shell/common/change_notices.h"

#include "core/address.h"
#include "core/round_trip_alarm.h"

namespace bv {

namespace {

constexpr std::size_t kNamesShown = 5;

std::string listLine(const std::vector<std::string>& names, const char* what)
{
    std::string line = std::to_string(names.size()) + (names.size() == 1 ? " host " : " hosts ") + what + ": ";
    for (std::size_t position = 0; position < names.size() && position < kNamesShown; ++position) {
        if (position > 0)
            line += ", ";
        line += names[position];
    }
    if (names.size() > kNamesShown) {
        const std::size_t others = names.size() - kNamesShown;
        line += " and " + std::to_string(others) + (others == 1 ? " other" : " others");
    }
    return line;
}

std::string alarmFigure(const RoundTripAlarmChange& change)
{
    return change.kind == AlarmKind::Slow ? "median " + millisecondsText(change.figures.median) + " ms"
                                          : "loss " + lossPercentText(change.figures) + " %";
}

}  // namespace

std::string alarmNoticeText(const std::vector<RoundTripAlarmChange>& changes)
{
    struct Group {
        AlarmKind kind;
        bool raised;
        const char* what;
    };
    static const Group groups[] = {
        { AlarmKind::Slow, true, "slow" },
        { AlarmKind::Loss, true, "losing replies" },
        { AlarmKind::Slow, false, "no longer slow" },
        { AlarmKind::Loss, false, "no longer losing replies" },
    };
    std::string text;
    for (const Group& group : groups) {
        std::vector<std::string> names;
        const RoundTripAlarmChange* only = nullptr;
        for (const RoundTripAlarmChange& change : changes) {
            if (change.kind == group.kind && change.raised == group.raised) {
                names.push_back(change.name);
                only = &change;
            }
        }
        if (names.empty())
            continue;
        text += text.empty() ? "" : "\n";
        text += names.size() == 1 ? names[0] + " is " + group.what + ": " + alarmFigure(*only)
                                  : listLine(names, group.what);
    }
    return text;
}

std::string changeNoticeText(const std::vector<std::string>& down, const std::vector<std::string>& up)
{
    std::string text;
    if (!down.empty())
        text = listLine(down, "down");
    if (!up.empty())
        text += (text.empty() ? "" : "\n") + listLine(up, "back up");
    return text;
}

ChangeNotices::ChangeNotices(Show show, bool enabled)
    : show_(std::move(show))
    , enabled_(enabled)
{
}

void ChangeNotices::setEnabled(bool enabled)
{
    std::lock_guard lock(mutex_);
    enabled_ = enabled;
    down_.clear();
    up_.clear();
    alarms_.clear();
}

bool ChangeNotices::enabled() const
{
    std::lock_guard lock(mutex_);
    return enabled_;
}

void ChangeNotices::changeLogged(const Address& change)
{
    std::lock_guard lock(mutex_);
    if (!enabled_)
        return;
    (change.getStatus() == HostStatus::Green ? up_ : down_).push_back(change.getName());
}

void ChangeNotices::roundTripAlarmChanged(const RoundTripAlarmChange& change)
{
    std::lock_guard lock(mutex_);
    if (enabled_)
        alarms_.push_back(change);
}

void ChangeNotices::sweepPassDone()
{
    ChangeNotice notice { "BeaconVigilor", std::string() };
    ChangeNotice alarms { "BeaconVigilor", std::string() };
    {
        std::lock_guard lock(mutex_);
        notice.text = changeNoticeText(down_, up_);
        alarms.text = alarmNoticeText(alarms_);
        down_.clear();
        up_.clear();
        alarms_.clear();
    }
    // Shown outside the lock: a desktop may wait for its own thread.
    if (!notice.text.empty() && show_)
        show_(notice);
    if (!alarms.text.empty() && show_)
        show_(alarms);
}

}  // namespace bv
