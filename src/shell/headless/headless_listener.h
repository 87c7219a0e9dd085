#pragma once

#include "core/monitor_events.h"

namespace bv {

// The monitor as a server program hears it: no tray and no window; a
// message box is written to standard error as its caption and its text.
// Without the trace, standard output shows the run's start, each logged
// change, each start and end of a slow or loss alarm, each reload, each
// group of hosts found down behind one hop and its end, and each turn of
// this machine's own link, one line each.
class HeadlessListener final : public MonitorListener {
public:
    void runStarted(const RunDescription& run) override;
    void changeLogged(const Address& change) override;
    void roundTripAlarmChanged(const RoundTripAlarmChange& change) override;
    void hostListReloaded(const HostListReload& reload) override;
    void outageGroupFound(const OutageGroup& group) override;
    void outageGroupEnded(const OutageGroup& group) override;
    void ownLinkChanged(const OwnLink& link) override;
    void showMessageBox(const std::string& text, const std::string& caption, MessageIcon icon) override;
};

}  // namespace bv
