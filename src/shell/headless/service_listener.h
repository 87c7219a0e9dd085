#pragma once

#include "core/monitor_events.h"
#include "platform/service_notice.h"

namespace bv {

// Keeps a service manager (systemd's Type=notify with WatchdogSec=) told:
// ready once the first sweep pass has set every status, alive after each
// pass, so that a monitor whose sweep stalls is restarted.
class ServiceListener final : public MonitorListener {
public:
    void sweepPassDone() override;
    // A reload ends the state "reloading" that SIGHUP began.
    void hostListReloaded(const HostListReload&) override { notice_.ready(); }
    // From the thread that answers signals.
    void reloading() { notice_.reloading(); }
    void stopping() { notice_.stopping(); }

private:
    platform::ServiceNotice notice_;
    bool readySent_ = false;
};

}  // namespace bv
