#include "run/metrics_server.h"

#include "core/startup_failure.h"
#include "platform/web_server.h"
#include "run/metrics_exposition.h"
#include "run/network.h"
#include "run/served_page.h"
#include "run/status_hosts.h"
#include "run/status_routes.h"
#include "run/web_assets.h"


namespace bv {

namespace {

// The page may run its own script and style, and talk to its own server;
// nothing else, from nowhere else.
constexpr const char* kContentSecurityPolicy = "default-src 'none'; script-src 'self'; style-src 'self'; "
                                               "connect-src 'self'; img-src 'self'; base-uri 'none'; "
                                               "form-action 'none'; frame-ancestors 'none'";

platform::WebResponse text(int status, std::string body)
{
    return platform::WebResponse { status, "text/plain; charset=utf-8", std::move(body), {}, false };
}

platform::WebResponse asset(const char* name, const char* contentType)
{
    const auto bytes = webAsset(name);
    if (!bytes)
        return text(404, "Not found\n");
    return platform::WebResponse { 200, contentType, std::string(*bytes), {}, false };
}

bool isLoopbackAddress(const std::string& address)
{
    return address.rfind("127.", 0) == 0 || address == "::1" || address.rfind("::ffff:127.", 0) == 0;
}

}  // namespace

MetricsServer::MetricsServer(const std::string& address, std::uint16_t port, Network& network)
    : network_(network)
    , loopback_(isLoopbackAddress(address))
{
    platform::WebServer::Settings settings;
    settings.address = address;
    settings.port = port;
    auto started = platform::WebServer::start(settings, [this](const platform::WebRequest& request) {
        platform::WebResponse response = answer(request);
        response.headers.emplace_back("Content-Security-Policy", kContentSecurityPolicy);
        response.headers.emplace_back("X-Content-Type-Options", "nosniff");
        if (response.status == 200 && !response.eventStream)
            response.headers.emplace_back("Cache-Control", "no-store");
        return response;
    });
    if (started.is_error()) {
        const platform::Error& error = started.error();
        const bool ipv6 = address.find(':') != std::string::npos;
        throw StartupFailure("Could not serve metrics on " + (ipv6 ? "[" + address + "]" : address) + ":"
            + std::to_string(port) + ": "
            + (error.code() != 0 ? platform::systemErrorText(error.code()) : error.text()));
    }
    server_ = started.release_value();
    publication_ = std::make_unique<ServedPlacePublication>(ServedPlace { address, server_->port() });
    registration_ = std::make_unique<ListenerRegistration>(*this);
}

// The registration goes first, so that no pass reaches a server half gone.
MetricsServer::~MetricsServer()
{
    registration_.reset();
    publication_.reset();
    server_.reset();
}

std::uint16_t MetricsServer::port() const
{
    return server_->port();
}

std::size_t MetricsServer::eventStreamCount() const
{
    return server_->streamCount();
}

platform::WebResponse MetricsServer::answer(const platform::WebRequest& request)
{
    if (!hostHeaderAllowed(request.host ? std::optional<std::string_view>(*request.host) : std::nullopt, loopback_))
        return text(403, "This server answers only requests for localhost\n");
    const RoutedRequest routed = routeRequest(request.method, request.target);
    if (routed.status == 405) {
        platform::WebResponse refused = text(405, "Method not allowed\n");
        refused.headers.emplace_back("Allow", "GET, HEAD");
        return refused;
    }
    if (!routed.route)
        return text(routed.status, routed.status == 404 ? "Not found\n" : "Bad request\n");
    switch (*routed.route) {
    case StatusRoute::Page: {
        const auto page = webAsset("index.html");
        return platform::WebResponse { 200, "text/html; charset=utf-8",
            statusPage(page.value_or(""), statusRunView(network_), statusHostViews(network_)), {}, false };
    }
    case StatusRoute::Script:
        return asset("status.js", "text/javascript; charset=utf-8");
    case StatusRoute::Style:
        return asset("status.css", "text/css; charset=utf-8");
    case StatusRoute::Metrics:
        return platform::WebResponse { 200, kMetricsContentType, metricsExposition(network_), {}, false };
    case StatusRoute::Hosts:
        return platform::WebResponse { 200, "application/json", hostsJson(statusRunView(network_), statusHostViews(network_)),
            {}, false };
    case StatusRoute::History: {
        auto history = historyJson(network_, routed.hostKey);
        if (!history)
            return text(404, "No such host\n");
        return platform::WebResponse { 200, "application/json", std::move(*history), {}, false };
    }
    case StatusRoute::Events:
        // A lost stream comes back after two seconds and catches up.
        return platform::WebResponse { 200, "text/event-stream", "retry: 2000\n\n", {}, true };
    }
    return text(404, "Not found\n");
}

void MetricsServer::sweepPassDone()
{
    if (!server_ || server_->streamCount() == 0)
        return;
    std::lock_guard<std::mutex> hold(publishedLock_);
    const bool firstPass = published_.empty();
    const HostChanges changes = changedHostViews(network_, published_);
    // A reloaded list may have new hosts anywhere in it: the pages fetch it
    // whole, in its order.
    if ((changes.added && !firstPass) || !changes.removed.empty())
        server_->publish("event: reload\ndata: {}\n\n");
    else if (!changes.changed.empty())
        server_->publish(passEvent(changes.changed, changes.removed, outageLines(network_)));
}

std::unique_ptr<MetricsServer> startMetricsServer(const RunSettings& settings, Network& network)
{
    if (settings.metricsPort == 0)
        return nullptr;
    return std::make_unique<MetricsServer>(
        settings.metricsAddress, static_cast<std::uint16_t>(settings.metricsPort), network);
}

}  // namespace bv
