#include "run/status_hosts.h"

#include "core/address.h"
#include "output/log_outages.h"
#include "platform/lock_hold.h"
#include "run/network.h"
#include "run/path_watch_thread.h"

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

// Everything a view is made of changes one of these: the status and its
// texts, the requests sent, the replies matched and the fates recorded
// (which move the round trips, the loss and the strip).
std::uint64_t viewFingerprint(const Address& host)
{
    std::uint64_t mixed = 1469598103934665603ull;
    const auto mix = [&mixed](std::uint64_t value) { mixed = (mixed ^ value) * 1099511628211ull; };
    const std::hash<std::string> textHash;
    mix(static_cast<std::uint64_t>(host.getStatus()));
    mix(static_cast<std::uint64_t>(host.getDownSince()));
    mix(host.getRequestsSent());
    mix(host.getRepliesMatched());
    mix(host.getHistory() ? host.getHistory()->recorded() : 0);
    mix(textHash(host.getErrorText()));
    mix(textHash(host.getName()));
    mix(textHash(host.getComment()));
    return mixed;
}

// The hop each red host is behind, by key; taken before the run's lock.
std::unordered_map<std::string, std::string> hostsBehind(Network& network)
{
    std::unordered_map<std::string, std::string> behind;
    if (const PathWatchThread* paths = network.pathWatch())
        for (const OutageGroup& group : paths->groups())
            for (const std::string& key : group.keys)
                behind[key] = platform::addressText(group.lastAnswering);
    return behind;
}

void markBehind(StatusHostView& view, const std::unordered_map<std::string, std::string>& behind)
{
    if (const auto found = behind.find(view.key); found != behind.end())
        view.behind = found->second;
}

}  // namespace

std::vector<std::string> outageLines(Network& network)
{
    std::vector<std::string> lines;
    if (const PathWatchThread* paths = network.pathWatch()) {
        const OwnLink link = paths->ownLink();
        if (!link.up)
            lines.push_back(ownLinkText(link));
        for (const OutageGroup& group : paths->groups())
            lines.push_back(outageGroupText(group));
    }
    return lines;
}

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
    const auto behind = hostsBehind(network);
    std::vector<StatusHostView> views;
    platform::MutexHold lock(network.vectorMutex(), "vector mutex cannot be released");
    if (!lock)
        return views;
    const std::int64_t now = network.clock().monotonicMicroseconds();
    views.reserve(network.hostCount());
    for (std::size_t position = 0; position < network.hostCount(); ++position)
        views.push_back(statusHostView(*network.host(position), now));
    for (StatusHostView& view : views)
        markBehind(view, behind);
    return views;
}

HostChanges changedHostViews(Network& network, PublishedHosts& published)
{
    const auto behind = hostsBehind(network);
    const std::hash<std::string> textHash;
    HostChanges changes;
    platform::MutexHold lock(network.vectorMutex(), "vector mutex cannot be released");
    if (!lock)
        return changes;
    const std::int64_t now = network.clock().monotonicMicroseconds();
    const std::size_t before = published.size();
    std::size_t kept = 0;
    for (std::size_t position = 0; position < network.hostCount(); ++position) {
        const Address& host = *network.host(position);
        const auto hop = behind.find(host.getKey());
        const std::uint64_t fingerprint = viewFingerprint(host) ^ (hop == behind.end() ? 0 : textHash(hop->second));
        auto [known, isNew] = published.try_emplace(host.getKey(), fingerprint);
        if (!isNew) {
            ++kept;
            if (known->second == fingerprint)
                continue;
            known->second = fingerprint;
        }
        changes.added = changes.added || isNew;
        changes.changed.push_back(statusHostView(host, now));
        markBehind(changes.changed.back(), behind);
    }
    // Only a reload removes hosts; then every key is looked at once.
    if (kept < before) {
        std::unordered_map<std::string, bool> listed;
        for (std::size_t position = 0; position < network.hostCount(); ++position)
            listed.emplace(network.host(position)->getKey(), true);
        for (auto each = published.begin(); each != published.end();) {
            if (listed.count(each->first) == 0) {
                changes.removed.push_back(each->first);
                each = published.erase(each);
            } else {
                ++each;
            }
        }
    }
    return changes;
}

StatusRunView statusRunView(Network& network)
{
    return StatusRunView { network.getStartedAt(), network.clock().now(), outageLines(network) };
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
    Json path = nullptr;
    if (const PathWatchThread* paths = network.pathWatch()) {
        if (const std::optional<HostPath> known = paths->pathOf(key)) {
            Json routers = Json::array();
            for (const auto& router : known->routers)
                routers.push_back(router ? Json(platform::addressText(*router)) : Json(nullptr));
            path = Json { { "routers", std::move(routers) }, { "reachedHost", known->reachedHost } };
        }
    }
    const auto share = [](const std::optional<double>& value) { return value ? Json(*value) : Json(nullptr); };
    const Json answer { { "key", key }, { "now", now }, { "chart", std::move(chart) }, { "outages", std::move(outages) }, { "path", std::move(path) },
        { "uptime", { { "hour", share(hour) }, { "day", share(day) }, { "seenHour", seenHour }, { "seenDay", seenDay } } } };
    return answer.dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace bv
