#include "run/metrics_exposition.h"

#include "core/decimal_text.h"
#include "platform/lock_hold.h"
#include "run/network.h"
#include "run/path_watch_thread.h"

#include <algorithm>

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace bv {

std::string escapeLabelValue(const std::string& value)
{
    std::string escaped;
    escaped.reserve(value.size());
    for (const char c : value) {
        if (c == '\\')
            escaped += "\\\\";
        else if (c == '"')
            escaped += "\\\"";
        else if (c == '\n')
            escaped += "\\n";
        else
            escaped += c;
    }
    return escaped;
}

namespace {

// What a scrape shows of one host, copied under the lock so that the text
// is written without it.
struct HostSample {
    std::string key;
    std::string labels;
    std::int64_t status = 0;
    std::int64_t lastReply = 0;
    std::int64_t downSince = 0;
    std::int64_t sent = 0;
    std::int64_t matched = 0;
    std::int64_t outages = 0;
    RoundTripFigures figures;
    std::optional<RoundTripHistogram> histogram;  // none before the first reply
    RoundTripAlarms alarms;
};

void family(std::string& text, const char* name, const char* type, const char* help)
{
    text += "# HELP ";
    text += name;
    text += ' ';
    text += help;
    text += "\n# TYPE ";
    text += name;
    text += ' ';
    text += type;
    text += '\n';
}

void sample(std::string& text, const char* name, const std::string& labels, std::int64_t value)
{
    text += name;
    text += labels;
    text += ' ';
    text += std::to_string(value);
    text += '\n';
}

template <typename Field>
void hostFamily(std::string& text, const std::vector<HostSample>& hosts, const char* name, const char* type,
    const char* help, Field field)
{
    family(text, name, type, help);
    for (const HostSample& host : hosts)
        sample(text, name, host.labels, host.*field);
}

// Microseconds as seconds, exactly: 412 "0.000412", 250000 "0.25".
std::string secondsText(std::int64_t microseconds)
{
    return decimalText(microseconds, 6);
}

void sample(std::string& text, const char* name, const std::string& labels, const std::string& value)
{
    text += name;
    text += labels;
    text += ' ';
    text += value;
    text += '\n';
}

// The host's labels with one more.
std::string withLabel(const std::string& labels, const std::string& label)
{
    return labels.substr(0, labels.size() - 1) + ',' + label + '}';
}

void histogramFamily(std::string& text, const std::vector<HostSample>& hosts)
{
    const char* name = "beaconvigilor_host_rtt_seconds";
    family(text, name, "histogram", "Round trips of the host's replies.");
    const std::string bucket = std::string(name) + "_bucket";
    const std::string sum = std::string(name) + "_sum";
    const std::string count = std::string(name) + "_count";
    for (const HostSample& host : hosts) {
        if (!host.histogram)
            continue;
        const RoundTripHistogram& histogram = *host.histogram;
        std::uint64_t cumulative = 0;
        for (int index = 0; index < RoundTripHistogram::kBounds; ++index) {
            cumulative += histogram.bucket(index);
            sample(text, bucket.c_str(),
                withLabel(host.labels, "le=\"" + secondsText(RoundTripHistogram::bound(index)) + "\""),
                std::to_string(cumulative));
        }
        sample(text, bucket.c_str(), withLabel(host.labels, "le=\"+Inf\""), std::to_string(histogram.count()));
        sample(text, sum.c_str(), host.labels, secondsText(histogram.sumMicroseconds()));
        sample(text, count.c_str(), host.labels, std::to_string(histogram.count()));
    }
}

// A gauge of the window's figures, for the hosts `has` holds true of.
template <typename Has, typename Value>
void windowFamily(std::string& text, const std::vector<HostSample>& hosts, const char* name, const char* help,
    Has has, Value value)
{
    family(text, name, "gauge", help);
    for (const HostSample& host : hosts) {
        if (has(host.figures))
            sample(text, name, host.labels, value(host.figures));
    }
}

std::string ratioText(const RoundTripFigures& figures)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", figures.lossRatio());
    return text;
}

// The host text as the list has it; an IPv6 address in its compact text,
// so that one address has one label however it was written.
std::string addressLabel(const Address& record)
{
    const auto& numeric = record.getNumericAddress();
    return numeric && numeric->isV6() ? platform::addressText(*numeric) : record.getHostText();
}

// Where the network broke: the red hosts behind each hop, each such host
// with its hop, and this machine's own link.
void pathFamilies(std::string& text, const std::vector<HostSample>& hosts, const std::vector<OutageGroup>& groups,
    const OwnLink& link)
{
    std::vector<std::pair<std::string, std::int64_t>> hops;
    for (const OutageGroup& group : groups) {
        const std::string hop = platform::addressText(group.lastAnswering);
        auto known = std::find_if(hops.begin(), hops.end(), [&](const auto& each) { return each.first == hop; });
        if (known == hops.end())
            hops.emplace_back(hop, static_cast<std::int64_t>(group.keys.size()));
        else
            known->second += static_cast<std::int64_t>(group.keys.size());
    }
    family(text, "beaconvigilor_hosts_down_behind", "gauge",
        "Red hosts whose last answering hop on their path is this one.");
    for (const auto& [hop, count] : hops)
        sample(text, "beaconvigilor_hosts_down_behind", "{hop=\"" + escapeLabelValue(hop) + "\"}", count);
    family(text, "beaconvigilor_host_behind_hop", "gauge", "1 while the host is red behind this hop.");
    // A group may hold thousands of hosts: their labels by key, once.
    std::unordered_map<std::string_view, const std::string*> labelsOf;
    if (!groups.empty())
        for (const HostSample& host : hosts)
            labelsOf.emplace(host.key, &host.labels);
    for (const OutageGroup& group : groups) {
        const std::string hop = "hop=\"" + escapeLabelValue(platform::addressText(group.lastAnswering)) + "\"";
        for (const std::string& key : group.keys)
            if (const auto labels = labelsOf.find(key); labels != labelsOf.end())
                sample(text, "beaconvigilor_host_behind_hop", withLabel(*labels->second, hop), 1);
    }
    family(text, "beaconvigilor_own_link_up", "gauge", "0 while this machine's own way out does not answer.");
    sample(text, "beaconvigilor_own_link_up", "", link.up ? 1 : 0);
}

}  // namespace

std::string metricsExposition(Network& network)
{
    std::vector<HostSample> hosts;
    std::int64_t inFlight = 0;
    {
        platform::MutexHold lock(network.vectorMutex(), "vector mutex cannot be released");
        const std::int64_t now = network.clock().monotonicMicroseconds();
        for (std::size_t position = 0; lock && position < network.hostCount(); ++position) {
            const Address& record = *network.host(position);
            HostSample host;
            host.key = record.getKey();
            host.labels = "{name=\"" + escapeLabelValue(record.getName()) + "\",address=\""
                + escapeLabelValue(addressLabel(record)) + "\"}";
            host.status = static_cast<std::int64_t>(record.getStatus());
            // The record starts with its load time as its reply time.
            host.lastReply = record.getRepliesMatched() > 0 ? record.getLastReplyTime() : 0;
            host.downSince = record.getStatus() == HostStatus::Green ? 0 : record.getDownSince();
            host.sent = record.getRequestsSent();
            host.matched = record.getRepliesMatched();
            host.outages = record.getOutages();
            host.figures = record.getRoundTripFigures(now);
            if (const RoundTripHistogram* histogram = record.getRoundTripHistogram())
                host.histogram = *histogram;
            host.alarms = record.getAlarms();
            if (record.getPingState() == PingState::AwaitingReply)
                ++inFlight;
            hosts.push_back(std::move(host));
        }
    }

    std::string text;
    hostFamily(text, hosts, "beaconvigilor_host_status", "gauge", "Host status: 0 green, 1 yellow, 2 red.",
        &HostSample::status);
    hostFamily(text, hosts, "beaconvigilor_host_last_reply_time_seconds", "gauge",
        "Unix time of the host's last reply; 0 if it never replied.", &HostSample::lastReply);
    hostFamily(text, hosts, "beaconvigilor_host_down_since_time_seconds", "gauge",
        "Unix time the host stopped replying; 0 while it is green.", &HostSample::downSince);
    hostFamily(text, hosts, "beaconvigilor_host_requests_sent_total", "counter", "Echo requests sent to the host.",
        &HostSample::sent);
    hostFamily(text, hosts, "beaconvigilor_host_replies_matched_total", "counter",
        "Echo replies matched to the host's requests.", &HostSample::matched);
    hostFamily(text, hosts, "beaconvigilor_host_outages_total", "counter", "Turns of the host to red.",
        &HostSample::outages);

    histogramFamily(text, hosts);
    const auto replied = [](const RoundTripFigures& figures) { return figures.hasReplies(); };
    windowFamily(text, hosts, "beaconvigilor_host_last_rtt_seconds", "Round trip of the host's latest reply in its window.",
        replied, [](const RoundTripFigures& figures) { return secondsText(figures.latest.value_or(0)); });
    windowFamily(text, hosts, "beaconvigilor_host_rtt_median_seconds", "Median round trip over the host's window.",
        replied, [](const RoundTripFigures& figures) { return secondsText(figures.median); });
    windowFamily(text, hosts, "beaconvigilor_host_loss_ratio", "Requests of the host's window left unanswered, 0 to 1.",
        [](const RoundTripFigures& figures) { return figures.requests > 0; }, ratioText);
    windowFamily(text, hosts, "beaconvigilor_host_jitter_seconds",
        "Mean difference of consecutive round trips over the host's window.", replied,
        [](const RoundTripFigures& figures) { return secondsText(figures.jitter); });
    const RoundTripAlarm& alarm = network.roundTripAlarm();
    if (alarm.enabled()) {
        family(text, "beaconvigilor_host_alarm", "gauge", "1 while the host's slow or loss alarm is raised.");
        for (const HostSample& host : hosts) {
            if (alarm.slowMilliseconds() > 0)
                sample(text, "beaconvigilor_host_alarm", withLabel(host.labels, "kind=\"slow\""), host.alarms.slow ? 1 : 0);
            if (alarm.lossPercent() > 0)
                sample(text, "beaconvigilor_host_alarm", withLabel(host.labels, "kind=\"loss\""), host.alarms.loss ? 1 : 0);
        }
    }

    if (const PathWatchThread* paths = network.pathWatch())
        pathFamilies(text, hosts, paths->groups(), paths->ownLink());

    family(text, "beaconvigilor_requests_in_flight", "gauge", "Echo requests awaiting a reply.");
    sample(text, "beaconvigilor_requests_in_flight", "", inFlight);
    family(text, "beaconvigilor_hosts_overdue", "gauge",
        "Idle hosts whose next request is more than a second late.");
    sample(text, "beaconvigilor_hosts_overdue", "", network.getOverdueCount());
    family(text, "beaconvigilor_sweep_passes_total", "counter", "Passes of the status sweep.");
    sample(text, "beaconvigilor_sweep_passes_total", "", static_cast<std::int64_t>(network.getSweepPasses()));
    family(text, "beaconvigilor_build_info", "gauge", "The program's version.");
    sample(text, "beaconvigilor_build_info", "{version=\"" + escapeLabelValue(kProgramVersion) + "\"}", 1);
    return text;
}

}  // namespace bv
