#include "core/monitor_events.h"

#include "platform/diagnostics.h"

#include <algorithm>
#include <memory>
#include <mutex>
#include <vector>

namespace bv {

ExitFlag exitRequested;

namespace {

using ListenerList = std::vector<MonitorListener*>;

// Announcements take a copy of the list and call it without the guard: a
// listener's handler may wait for a thread that is just registering.
std::mutex listenersGuard;
std::shared_ptr<const ListenerList> listeners = std::make_shared<const ListenerList>();

std::shared_ptr<const ListenerList> currentListeners()
{
    std::lock_guard lock(listenersGuard);
    return listeners;
}

template <typename Call>
void announce(Call call)
{
    const auto list = currentListeners();
    for (MonitorListener* listener : *list)
        call(*listener);
}

}  // namespace

ListenerRegistration::ListenerRegistration(MonitorListener& listener)
    : listener_(listener)
{
    std::lock_guard lock(listenersGuard);
    auto grown = std::make_shared<ListenerList>(*listeners);
    grown->push_back(&listener_);
    listeners = std::move(grown);
}

ListenerRegistration::~ListenerRegistration()
{
    std::lock_guard lock(listenersGuard);
    auto shrunk = std::make_shared<ListenerList>(*listeners);
    shrunk->erase(std::remove(shrunk->begin(), shrunk->end(), &listener_), shrunk->end());
    listeners = std::move(shrunk);
}

void ExitFlag::store(bool value)
{
    value_.store(value);
    if (value)
        wakeup_.raise();
    else
        wakeup_.reset();
}

void requestExit()
{
    exitRequested.store(true);
    setTrayShuttingDown();
    announce([](MonitorListener& listener) { listener.quit(); });
}

void setTrayGreen()
{
    announce([](MonitorListener& listener) { listener.setTrayState(TrayState::Green); });
}

void setTrayYellow()
{
    announce([](MonitorListener& listener) { listener.setTrayState(TrayState::Yellow); });
}

void setTrayRed()
{
    announce([](MonitorListener& listener) { listener.setTrayState(TrayState::Red); });
}

void setTrayShuttingDown()
{
    announce([](MonitorListener& listener) { listener.setTrayState(TrayState::ShuttingDown); });
}

void notifySweepPassDone()
{
    announce([](MonitorListener& listener) { listener.sweepPassDone(); });
}

void notifyRunStarted(const RunDescription& run)
{
    announce([&run](MonitorListener& listener) { listener.runStarted(run); });
}

void notifyChangeLogged(const Address& change)
{
    announce([&change](MonitorListener& listener) { listener.changeLogged(change); });
}

void notifyRoundTripAlarmChanged(const RoundTripAlarmChange& change)
{
    announce([&change](MonitorListener& listener) { listener.roundTripAlarmChanged(change); });
}

void notifyHostListReloaded(const HostListReload& reload)
{
    announce([&reload](MonitorListener& listener) { listener.hostListReloaded(reload); });
}

void notifyAddressRemoved(const Address& address)
{
    announce([&address](MonitorListener& listener) { listener.addressRemoved(address); });
}

void notifyOutageGroupFound(const OutageGroup& group)
{
    announce([&group](MonitorListener& listener) { listener.outageGroupFound(group); });
}

void notifyOutageGroupEnded(const OutageGroup& group)
{
    announce([&group](MonitorListener& listener) { listener.outageGroupEnded(group); });
}

void notifyOwnLinkChanged(const OwnLink& link)
{
    announce([&link](MonitorListener& listener) { listener.ownLinkChanged(link); });
}

void notifyOutagesLocated(const std::vector<std::string>& keys)
{
    announce([&keys](MonitorListener& listener) { listener.outagesLocated(keys); });
}

void notifyAddressChanged(Address* address)
{
    if (address)
        announce([address](MonitorListener& listener) { listener.addressChanged(*address); });
}

void notifyAddressStillRed(Address* address)
{
    if (address)
        announce([address](MonitorListener& listener) { listener.addressStillRed(*address); });
}

void showMessageBox(const std::string& text, const std::string& caption, MessageIcon icon)
{
    const auto list = currentListeners();
    if (list->empty()) {
        writeBoxToErrorStream(text, caption);
        return;
    }
    for (MonitorListener* listener : *list)
        listener->showMessageBox(text, caption, icon);
}

void writeBoxToErrorStream(const std::string& text, const std::string& caption)
{
    std::string block = caption.empty() ? std::string("Error") : caption;
    block += '\n';
    block += text;
    if (block.back() == '\n')
        block.pop_back();  // errorLine ends the block with its own line end
    platform::errorLine(block);
}

}  // namespace bv
