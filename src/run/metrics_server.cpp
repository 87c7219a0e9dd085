#include "run/metrics_server.h"

#include "core/startup_failure.h"
#include "platform/http_server.h"
#include "run/metrics_exposition.h"

namespace bv {

MetricsServer::MetricsServer(const std::string& address, std::uint16_t port, Network& network)
{
    platform::HttpTextServer::Settings settings { address, port, kMetricsPath, kMetricsContentType };
    auto started = platform::HttpTextServer::start(settings, [&network] { return metricsExposition(network); });
    if (started.is_error()) {
        const platform::Error& error = started.error();
        throw StartupFailure("Could not serve metrics on " + address + ":" + std::to_string(port) + ": "
            + (error.code() != 0 ? platform::systemErrorText(error.code()) : error.text()));
    }
    server_ = started.release_value();
}

MetricsServer::~MetricsServer() = default;

std::uint16_t MetricsServer::port() const
{
    return server_->port();
}

std::unique_ptr<MetricsServer> startMetricsServer(const RunSettings& settings, Network& network)
{
    if (settings.metricsPort == 0)
        return nullptr;
    return std::make_unique<MetricsServer>(
        settings.metricsAddress, static_cast<std::uint16_t>(settings.metricsPort), network);
}

}  // namespace bv
