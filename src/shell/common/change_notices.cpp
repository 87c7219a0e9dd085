#include "shell/common/change_notices.h"

#include "core/address.h"
#include "core/round_trip_alarm.h"

#include <algorithm>

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
    groupTexts_.clear();
    ownLinkText_.clear();
}

bool ChangeNotices::enabled() const
{
    std::lock_guard lock(mutex_);
    return enabled_;
}

void ChangeNotices::runStarted(const RunDescription& run)
{
    std::lock_guard lock(mutex_);
    pathsWatched_ = run.pathsWatched;
}

void ChangeNotices::changeLogged(const Address& change)
{
    std::lock_guard lock(mutex_);
    if (!enabled_)
        return;
    if (change.getStatus() == HostStatus::Green)
        up_.push_back(change.getName());
    else
        down_.push_back(HeldDown { change.getKey(), change.getName(), 0 });
}

void ChangeNotices::roundTripAlarmChanged(const RoundTripAlarmChange& change)
{
    std::lock_guard lock(mutex_);
    if (enabled_)
        alarms_.push_back(change);
}

void ChangeNotices::outageGroupFound(const OutageGroup& group)
{
    std::lock_guard lock(mutex_);
    groupedKeys_.insert(groupedKeys_.end(), group.keys.begin(), group.keys.end());
    if (enabled_)
        groupTexts_.push_back(outageGroupText(group));
}

void ChangeNotices::outageGroupEnded(const OutageGroup& group)
{
    std::lock_guard lock(mutex_);
    for (const std::string& key : group.keys) {
        const auto found = std::find(groupedKeys_.begin(), groupedKeys_.end(), key);
        if (found != groupedKeys_.end())
            groupedKeys_.erase(found);
    }
}

void ChangeNotices::ownLinkChanged(const OwnLink& link)
{
    std::lock_guard lock(mutex_);
    ownLinkDown_ = !link.up;
    if (enabled_)
        ownLinkText_ = ownLinkText(link);
}

void ChangeNotices::outagesLocated(const std::vector<std::string>& keys)
{
    std::lock_guard lock(mutex_);
    for (const std::string& key : keys)
        located_.emplace_back(key, 0);
}

void ChangeNotices::sweepPassDone()
{
    std::vector<ChangeNotice> notices;
    ChangeNotice alarms { "BeaconVigilor", std::string() };
    {
        std::lock_guard lock(mutex_);
        if (!ownLinkText_.empty())
            notices.push_back(ChangeNotice { "BeaconVigilor", ownLinkText_ });
        ownLinkText_.clear();
        for (std::string& text : groupTexts_)
            notices.push_back(ChangeNotice { "BeaconVigilor", std::move(text) });
        groupTexts_.clear();
        // A turn to red waits for the path watch to place the host: in a
        // group, whose notice says it, or in none; never past a few passes,
        // except while this machine's own link is down.
        std::vector<std::string> down;
        for (auto each = down_.begin(); each != down_.end();) {
            const bool located = std::any_of(located_.begin(), located_.end(),
                [&](const auto& entry) { return entry.first == each->key; });
            const bool waits = pathsWatched_ && (ownLinkDown_ || (!located && ++each->passes < kPassesHeld));
            if (waits) {
                ++each;
                continue;
            }
            if (std::find(groupedKeys_.begin(), groupedKeys_.end(), each->key) == groupedKeys_.end())
                down.push_back(each->name);
            each = down_.erase(each);
        }
        for (auto& entry : located_)
            ++entry.second;
        std::erase_if(located_, [](const auto& entry) { return entry.second > kPassesHeld; });
        ChangeNotice list { "BeaconVigilor", changeNoticeText(down, up_) };
        if (!list.text.empty())
            notices.push_back(std::move(list));
        alarms.text = alarmNoticeText(alarms_);
        up_.clear();
        alarms_.clear();
    }
    // Shown outside the lock: a desktop may wait for its own thread.
    if (!show_)
        return;
    for (const ChangeNotice& notice : notices)
        show_(notice);
    if (!alarms.text.empty())
        show_(alarms);
}

}  // namespace bv
