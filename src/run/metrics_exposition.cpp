#include "run/metrics_exposition.h"

#include "platform/lock_hold.h"
#include "run/network.h"

#include <cstdint>
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
    std::string labels;
    std::int64_t status = 0;
    std::int64_t lastReply = 0;
    std::int64_t downSince = 0;
    std::int64_t sent = 0;
    std::int64_t matched = 0;
    std::int64_t outages = 0;
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

// The host text as the list has it; an IPv6 address in its compact text,
// so that one address has one label however it was written.
std::string addressLabel(const Address& record)
{
    const auto& numeric = record.getNumericAddress();
    return numeric && numeric->isV6() ? platform::addressText(*numeric) : record.getHostText();
}

}  // namespace

std::string metricsExposition(Network& network)
{
    std::vector<HostSample> hosts;
    std::int64_t inFlight = 0;
    {
        platform::MutexHold lock(network.vectorMutex(), "vector mutex cannot be released");
        for (std::size_t position = 0; lock && position < network.hostCount(); ++position) {
            const Address& record = *network.host(position);
            HostSample host;
            host.labels = "{name=\"" + escapeLabelValue(record.getName()) + "\",address=\""
                + escapeLabelValue(addressLabel(record)) + "\"}";
            host.status = static_cast<std::int64_t>(record.getStatus());
            // The record starts with its load time as its reply time.
            host.lastReply = record.getRepliesMatched() > 0 ? record.getLastReplyTime() : 0;
            host.downSince = record.getStatus() == HostStatus::Green ? 0 : record.getDownSince();
            host.sent = record.getRequestsSent();
            host.matched = record.getRepliesMatched();
            host.outages = record.getOutages();
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
