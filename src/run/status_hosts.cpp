#include "run/status_hosts.h"

#include "core/address.h"
#include "output/log_outages.h"
#include "platform/lock_hold.h"
#include "run/network.h"

#include <nlohmann/json.hpp>

namespace bv {

namespace {

// About the last two thousand lines of the log.
constexpr std::size_t kLogTailBytes = 256 * 1024;
constexpr std::size_t kOutagesShown = 20;

const char* statusWord(HostStatus status)
{
    return status == HostStatus::Green ? "green" : status == HostStatus::Yellow ? "yellow" : "red";
}

}  // namespace

StatusHostView statusHostView(const Address& host, std::int64_t nowMicroseconds)
{
    StatusHostView view;
    view.key = host.getKey();
    view.name = host.getName();
    view.host = host.getHostText();
    view.comment = host.getComment();
    const HostStatus status = host.getStatus();
    view.status = statusWord(status);
    if (status != HostStatus::Green) {
        view.since = host.getDownSince();
        view.sinceText = formatTime(host.getDownSince());
        view.error = host.getErrorText();
    }
    const RoundTripFigures figures = host.getRoundTripFigures(nowMicroseconds);
    view.latestRoundTrip = figures.latest;
    if (figures.hasReplies())
        view.medianRoundTrip = figures.median;
    if (figures.requests > 0)
        view.loss = figures.lossRatio();
    if (const HostHistory* history = host.getHistory()) {
        std::array<HostHistory::Outcome, HostHistory::kStripLength> strip;
        const std::size_t count = history->strip(strip);
        view.strip.reserve(count);
        for (std::size_t at = 0; at < count; ++at)
            view.strip.push_back(strip[at].roundTrip);
    }
    return view;
}

std::vector<StatusHostView> statusHostViews(Network& network)
{
    std::vector<StatusHostView> views;
    platform::MutexHold lock(network.vectorMutex(), "vector mutex cannot be released");
    if (!lock)
        return views;
    const std::int64_t now = network.clock().monotonicMicroseconds();
    views.reserve(network.hostCount());
    for (std::size_t position = 0; position < network.hostCount(); ++position)
        views.push_back(statusHostView(*network.host(position), now));
    return views;
}

StatusRunView statusRunView(Network& network)
{
    return StatusRunView { network.getStartedAt(), network.clock().now() };
}

std::optional<std::string> historyJson(Network& network, const std::string& key)
{
    using Json = nlohmann::json;
    const std::int64_t now = network.clock().now();
    std::array<HostHistory::Minute, HostHistory::kChartMinutes> minutes;
    std::size_t count = 0;
    std::optional<double> hour;
    std::optional<double> day;
    std::int64_t seenHour = 0;
    std::int64_t seenDay = 0;
    std::string name;
    std::string hostText;
    {
        platform::MutexHold lock(network.vectorMutex(), "vector mutex cannot be released");
        const Address* host = lock ? network.findHost(key) : nullptr;
        if (!host)
            return std::nullopt;
        name = host->getName();
        hostText = host->getHostText();
        if (const HostHistory* history = host->getHistory()) {
            count = history->chart(now, minutes);
            hour = history->uptime(now, 3600, seenHour);
            day = history->uptime(now, 86400, seenDay);
        }
    }
    Json chart = Json::array();
    for (std::size_t at = 0; at < count; ++at)
        chart.push_back(Json { { "start", minutes[at].start }, { "replies", minutes[at].replies },
            { "mean", minutes[at].mean }, { "max", minutes[at].maximum } });
    // Read with no lock held: the log is the record, and the sweep must not
    // wait for a disk.
    Json outages = Json::array();
    const auto text = [](const std::optional<std::string>& value) { return value ? Json(*value) : Json(nullptr); };
    for (const LogOutage& outage : outagesInLog(logTail(network.getLogFile(), kLogTailBytes), name, hostText, kOutagesShown))
        outages.push_back(Json { { "down", text(outage.down) }, { "up", text(outage.up) }, { "error", outage.error },
            { "seconds", text(outage.seconds) } });
    const auto share = [](const std::optional<double>& value) { return value ? Json(*value) : Json(nullptr); };
    const Json answer { { "key", key }, { "now", now }, { "chart", std::move(chart) }, { "outages", std::move(outages) },
        { "uptime", { { "hour", share(hour) }, { "day", share(day) }, { "seenHour", seenHour }, { "seenDay", seenDay } } } };
    return answer.dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace bv
