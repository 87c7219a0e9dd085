#pragma once

#include "core/outage_groups.h"
#include "core/round_trips.h"
#include "platform/wakeup.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace bv {

class Address;

// What the monitor announces, and to whom: the desktops, the headless
// program and whatever else listens (notifications, metrics).

enum class TrayState { Start, Green, Yellow, Red, ShuttingDown };
enum class MessageIcon { Information, Error };

// What a run watches, announced once its hosts are loaded.
struct RunDescription {
    std::size_t hosts = 0;
    std::int32_t intervalMilliseconds = 0;
    std::string logFile;
    std::string downFile;
    // The paths to the hosts are learnt, and outages located on them.
    bool pathsWatched = false;
};

// What reading the host list anew did. When the file could not be read,
// `failure` says why and the list stayed as it was.
struct HostListReload {
    std::string inputFile;
    std::vector<std::string> added;    // host texts, in file order
    std::vector<std::string> removed;  // host texts, in the old list's order
    std::size_t kept = 0;
    std::vector<std::string> badLines;  // what the loader said of each line it skipped
    std::string failure;
};

enum class AlarmKind { Slow, Loss };

// A host's slow or loss alarm was raised or ended; the host's name and text
// and its window's figures at that moment.
struct RoundTripAlarmChange {
    AlarmKind kind = AlarmKind::Slow;
    bool raised = true;  // false: it ended
    std::string name;
    std::string hostText;
    RoundTripFigures figures;
    std::int32_t threshold = 0;  // milliseconds for slow, percent for loss
};

// Every announcement reaches every registered listener in turn, on the
// monitor's thread that made it. A listener overrides what it cares for.
class MonitorListener {
public:
    virtual ~MonitorListener() = default;

    virtual void setTrayState(TrayState) {}
    virtual void runStarted(const RunDescription&) {}
    // The status sweep finished a pass: the monitor is alive and its
    // statuses are up to date. Comes about once a second.
    virtual void sweepPassDone() {}
    // Synchronous: they return once the listener has handled them, so the
    // listener sees the host as recordResult left it.
    virtual void addressChanged(Address&) {}
    virtual void addressStillRed(Address&) {}
    // A turn to red or a return to green reached the log: `change` is the
    // host as its log line shows it. Comes on the log writer's thread, in
    // the log's order.
    virtual void changeLogged(const Address& /*change*/) {}
    // On the sweep's thread, after its pass released the hosts and before
    // sweepPassDone.
    virtual void roundTripAlarmChanged(const RoundTripAlarmChange&) {}
    // The host list was read anew (on the sweep's thread, between passes);
    // a host that left it was announced before with addressRemoved.
    virtual void hostListReloaded(const HostListReload&) {}
    virtual void addressRemoved(const Address&) {}
    // Where the network broke, on the path watch's thread: red hosts found
    // behind one hop (again when more join them), and the end of it; the monitor's own link going down
    // or coming back. After each round of its checks, the red hosts it
    // has placed (in a group or in none), so that what waits for its
    // verdict can go.
    virtual void outageGroupFound(const OutageGroup&) {}
    virtual void outageGroupEnded(const OutageGroup&) {}
    virtual void ownLinkChanged(const OwnLink&) {}
    virtual void outagesLocated(const std::vector<std::string>& /*keys*/) {}
    // A listener that shows boxes blocks until the user has dismissed it.
    virtual void showMessageBox(const std::string& /*text*/, const std::string& /*caption*/, MessageIcon) {}
    // Exit was requested; a desktop ends its message loop.
    virtual void quit() {}
};

// Registers a listener for the registration's lifetime. End it only once no
// monitor thread can announce any more (after the run ended).
class ListenerRegistration {
public:
    explicit ListenerRegistration(MonitorListener& listener);
    ~ListenerRegistration();
    ListenerRegistration(const ListenerRegistration&) = delete;
    ListenerRegistration& operator=(const ListenerRegistration&) = delete;

private:
    MonitorListener& listener_;
};

// The process-wide exit flag. Setting it wakes every pause that waits on
// its wake-up, so the monitor's threads see it at once.
class ExitFlag {
public:
    bool load() const { return value_.load(); }
    void store(bool value);
    platform::Wakeup& wakeup() { return wakeup_; }

private:
    std::atomic<bool> value_ { false };
    platform::Wakeup wakeup_;
};

extern ExitFlag exitRequested;

void requestExit();
void setTrayGreen();
void setTrayYellow();
void setTrayRed();
void setTrayShuttingDown();
void notifySweepPassDone();
void notifyRunStarted(const RunDescription& run);
void notifyChangeLogged(const Address& change);
void notifyRoundTripAlarmChanged(const RoundTripAlarmChange& change);
void notifyHostListReloaded(const HostListReload& reload);
void notifyAddressRemoved(const Address& address);
void notifyOutageGroupFound(const OutageGroup& group);
void notifyOutageGroupEnded(const OutageGroup& group);
void notifyOwnLinkChanged(const OwnLink& link);
void notifyOutagesLocated(const std::vector<std::string>& keys);
void notifyAddressChanged(Address* address);
void notifyAddressStillRed(Address* address);
// An empty caption stands for the platform's default caption. With no
// listener at all the box goes to the error stream, so it is never lost.
void showMessageBox(const std::string& text, const std::string& caption, MessageIcon icon);

// A box as a program without windows shows it: its caption ("Error" when
// empty), then its text, on the error stream.
void writeBoxToErrorStream(const std::string& text, const std::string& caption);

}  // namespace bv
