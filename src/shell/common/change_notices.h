#pragma once

#include "core/monitor_events.h"

#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace bv {

// A desktop notice: a title and a text of a few lines.
struct ChangeNotice {
    std::string title;
    std::string text;
};

// Lines such as "3 hosts down: db1, db2, web4" and "1 host back up: mail",
// naming five hosts at most ("12 hosts down: a, b, c, d, e and 7 others").
// Empty when both lists are.
std::string changeNoticeText(const std::vector<std::string>& down, const std::vector<std::string>& up);

// The alarms raised and ended in one pass, a line for each kind of turn
// that happened: one host by its name and figure ("db1 is slow: median
// 250 ms", "db1 is losing replies: loss 30 %", "db1 is no longer slow:
// median 70 ms", "db1 is no longer losing replies: loss 0 %"), several as
// the down notices list them ("2 hosts slow: a, b", "3 hosts no longer
// losing replies: c, d, e"). Empty when there were none.
std::string alarmNoticeText(const std::vector<RoundTripAlarmChange>& changes);

// Gathers the turns to red and the returns to green that reach the log and
// shows them as one notice at the end of a sweep pass: one notice a pass at
// most, however many hosts change. The slow and loss alarms of a pass make
// a notice of their own in the same way.
class ChangeNotices final : public MonitorListener {
public:
    // Called on the sweep's thread; a desktop hands the notice to its own.
    using Show = std::function<void(const ChangeNotice&)>;

    explicit ChangeNotices(Show show, bool enabled = true);

    // Off, changes are dropped rather than saved for later.
    void setEnabled(bool enabled);
    bool enabled() const;

    void runStarted(const RunDescription& run) override;
    void changeLogged(const Address& change) override;
    void roundTripAlarmChanged(const RoundTripAlarmChange& change) override;
    void sweepPassDone() override;
    // Where the network broke: a notice for each group instead of its hosts
    // in the list; while this machine's own link is down, that one notice
    // and the hosts' notices held until it is back.
    void outageGroupFound(const OutageGroup& group) override;
    void outageGroupEnded(const OutageGroup& group) override;
    void ownLinkChanged(const OwnLink& link) override;
    void outagesLocated(const std::vector<std::string>& keys) override;

    // How many passes a turn to red waits for the path watch's verdict,
    // which waits for the outage's hosts to have turned red.
    static constexpr int kPassesHeld = 12;

private:
    struct HeldDown {
        std::string key;
        std::string name;
        int passes = 0;
    };

    Show show_;
    mutable std::mutex mutex_;  // the log writer's, the sweep's and the path watch's threads meet here
    bool enabled_;
    bool pathsWatched_ = false;
    std::vector<HeldDown> down_;
    std::vector<std::string> up_;
    std::vector<RoundTripAlarmChange> alarms_;
    std::vector<std::string> groupTexts_;        // found since the last pass
    std::vector<std::string> groupedKeys_;       // hosts in a group that stands
    std::vector<std::pair<std::string, int>> located_;  // key, passes since
    std::string ownLinkText_;                    // a change since the last pass
    bool ownLinkDown_ = false;
};

}  // namespace bv
