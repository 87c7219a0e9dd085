#pragma once

#include "core/monitor_events.h"
#include "run/command_line.h"
#include "run/status_hosts.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

namespace bv {

class Network;
class ServedPlacePublication;

namespace platform {
class WebServer;
struct WebRequest;
struct WebResponse;
}  // namespace platform

// The run's HTTP server for as long as it lives: the metrics at /metrics,
// the status page at / and its API, read-only. It must end before the run
// does.
class MetricsServer final : public MonitorListener {
public:
    // Throws StartupFailure when it cannot listen there.
    MetricsServer(const std::string& address, std::uint16_t port, Network& network);
    ~MetricsServer() override;
    MetricsServer(const MetricsServer&) = delete;
    MetricsServer& operator=(const MetricsServer&) = delete;

    std::uint16_t port() const;
    std::size_t eventStreamCount() const;

    // Each pass's changes go to the open event streams.
    void sweepPassDone() override;

private:
    platform::WebResponse answer(const platform::WebRequest& request);

    Network& network_;
    bool loopback_ = false;
    std::unique_ptr<platform::WebServer> server_;
    std::unique_ptr<ServedPlacePublication> publication_;
    std::mutex publishedLock_;
    PublishedHosts published_;
    std::unique_ptr<ListenerRegistration> registration_;
};

// The server the settings ask for, or none without -metrics.
std::unique_ptr<MetricsServer> startMetricsServer(const RunSettings& settings, Network& network);

}  // namespace bv
