#pragma once

#include "core/address.h"
#include "core/monitor_events.h"

#include <mutex>
#include <string>
#include <vector>

namespace bv {

// A desktop that records what the monitor asked of it.
class RecordingDesktop final : public MonitorListener {
public:
    struct Box {
        std::string text;
        std::string caption;
        MessageIcon icon;
    };
    struct Notice {
        bool stillRed;
        const Address* address;
        HostStatus status;  // the address's status when the notice arrived
    };

    RecordingDesktop() : installation_(*this) {}

    void setTrayState(TrayState state) override;
    void addressChanged(Address& address) override;
    void addressStillRed(Address& address) override;
    void roundTripAlarmChanged(const RoundTripAlarmChange& change) override;
    void showMessageBox(const std::string& text, const std::string& caption, MessageIcon icon) override;
    void quit() override;

    std::vector<TrayState> trayStates();
    std::vector<Box> boxes();
    std::vector<Notice> notices();
    std::vector<RoundTripAlarmChange> alarmChanges();
    int quits();
    void clear();

private:
    std::mutex mutex_;
    std::vector<TrayState> trayStates_;
    std::vector<Box> boxes_;
    std::vector<Notice> notices_;
    std::vector<RoundTripAlarmChange> alarmChanges_;
    int quits_ = 0;
    ListenerRegistration installation_;
};

}  // namespace bv
