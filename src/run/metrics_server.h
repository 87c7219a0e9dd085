#pragma once

#include "run/command_line.h"

#include <cstdint>
#include <memory>

namespace bv {

class Network;

namespace platform {
class HttpTextServer;
}

// The run's metrics at /metrics for as long as it lives; it must end
// before the run does.
class MetricsServer {
public:
    // Throws StartupFailure when it cannot listen there.
    MetricsServer(const std::string& address, std::uint16_t port, Network& network);
    ~MetricsServer();
    MetricsServer(const MetricsServer&) = delete;
    MetricsServer& operator=(const MetricsServer&) = delete;

    std::uint16_t port() const;

private:
    std::unique_ptr<platform::HttpTextServer> server_;
};

// The server the settings ask for, or none without -metrics.
std::unique_ptr<MetricsServer> startMetricsServer(const RunSettings& settings, Network& network);

}  // namespace bv
