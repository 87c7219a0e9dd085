#include "support/recording_desktop.h"

#include "core/address.h"

namespace bv {

void RecordingDesktop::setTrayState(TrayState state)
{
    std::lock_guard lock(mutex_);
    trayStates_.push_back(state);
}

void RecordingDesktop::addressChanged(Address& address)
{
    std::lock_guard lock(mutex_);
    notices_.push_back({ false, &address, address.getStatus() });
}

void RecordingDesktop::addressStillRed(Address& address)
{
    std::lock_guard lock(mutex_);
    notices_.push_back({ true, &address, address.getStatus() });
}

void RecordingDesktop::roundTripAlarmChanged(const RoundTripAlarmChange& change)
{
    std::lock_guard lock(mutex_);
    alarmChanges_.push_back(change);
}

std::vector<RoundTripAlarmChange> RecordingDesktop::alarmChanges()
{
    std::lock_guard lock(mutex_);
    return alarmChanges_;
}

void RecordingDesktop::showMessageBox(const std::string& text, const std::string& caption, MessageIcon icon)
{
    std::lock_guard lock(mutex_);
    boxes_.push_back({ text, caption, icon });
}

void RecordingDesktop::quit()
{
    std::lock_guard lock(mutex_);
    ++quits_;
}

std::vector<TrayState> RecordingDesktop::trayStates()
{
    std::lock_guard lock(mutex_);
    return trayStates_;
}

std::vector<RecordingDesktop::Box> RecordingDesktop::boxes()
{
    std::lock_guard lock(mutex_);
    return boxes_;
}

std::vector<RecordingDesktop::Notice> RecordingDesktop::notices()
{
    std::lock_guard lock(mutex_);
    return notices_;
}

int RecordingDesktop::quits()
{
    std::lock_guard lock(mutex_);
    return quits_;
}

void RecordingDesktop::clear()
{
    std::lock_guard lock(mutex_);
    trayStates_.clear();
    boxes_.clear();
    notices_.clear();
    alarmChanges_.clear();
    quits_ = 0;
}

}  // namespace bv
