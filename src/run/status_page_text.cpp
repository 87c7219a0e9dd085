#include "run/status_page_text.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>

namespace bv {

namespace {

using Json = nlohmann::json;

Json optionalNumber(const std::optional<std::int64_t>& value)
{
    return value ? Json(*value) : Json(nullptr);
}

Json hostJson(const StatusHostView& host)
{
    return Json { { "key", host.key }, { "name", host.name }, { "host", host.host }, { "comment", host.comment },
        { "status", host.status }, { "since", host.since }, { "error", host.error },
        { "latestRtt", optionalNumber(host.latestRoundTrip) }, { "medianRtt", optionalNumber(host.medianRoundTrip) },
        { "loss", host.loss ? Json(*host.loss) : Json(nullptr) }, { "strip", host.strip },
        { "behind", host.behind.empty() ? Json(nullptr) : Json(host.behind) } };
}

// Texts from the host list are bytes as written; a line that is not UTF-8
// must not make the whole answer fail.
std::string dumped(const Json& value)
{
    return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

int statusOrder(const std::string& status)
{
    return status == "red" ? 0 : status == "yellow" ? 1 : 2;
}

std::string word(const std::string& status)
{
    return status == "red" ? "Red" : status == "yellow" ? "Yellow" : "Green";
}

std::string milliseconds(const std::optional<std::int64_t>& microseconds)
{
    if (!microseconds)
        return "";
    char text[32];
    std::snprintf(text, sizeof text, "%.3f ms", static_cast<double>(*microseconds) / 1000.0);
    return text;
}

std::string replaced(std::string text, std::string_view marker, const std::string& with)
{
    const std::size_t at = text.find(marker);
    if (at != std::string::npos)
        text.replace(at, marker.size(), with);
    return text;
}

}  // namespace

std::string htmlEscaped(std::string_view text)
{
    std::string escaped;
    escaped.reserve(text.size());
    for (const char character : text) {
        switch (character) {
        case '&': escaped += "&amp;"; break;
        case '<': escaped += "&lt;"; break;
        case '>': escaped += "&gt;"; break;
        case '"': escaped += "&quot;"; break;
        case '\'': escaped += "&#39;"; break;
        default: escaped.push_back(character);
        }
    }
    return escaped;
}

std::string hostsJson(const StatusRunView& run, const std::vector<StatusHostView>& hosts)
{
    Json list = Json::array();
    for (const StatusHostView& host : hosts)
        list.push_back(hostJson(host));
    const Json answer { { "run", { { "started", run.started }, { "startedAgo", run.now - run.started }, { "now", run.now },
                                        { "outages", run.outages } } },
        { "hosts", std::move(list) } };
    return dumped(answer);
}

std::string passEvent(const std::vector<StatusHostView>& changed, const std::vector<std::string>& removed,
    const std::vector<std::string>& outages)
{
    Json list = Json::array();
    for (const StatusHostView& host : changed)
        list.push_back(hostJson(host));
    // One line of data: the JSON text has no line ends of its own.
    return "event: pass\ndata: " + dumped(Json { { "changed", std::move(list) }, { "removed", removed }, { "outages", outages } }) + "\n\n";
}

std::string statusPage(std::string_view pageTemplate, const StatusRunView& run, const std::vector<StatusHostView>& hosts)
{
    std::vector<const StatusHostView*> sorted;
    sorted.reserve(hosts.size());
    for (const StatusHostView& host : hosts)
        sorted.push_back(&host);
    std::stable_sort(sorted.begin(), sorted.end(), [](const StatusHostView* one, const StatusHostView* other) {
        return statusOrder(one->status) < statusOrder(other->status);
    });
    int counts[3] = {};
    std::string rows;
    for (const StatusHostView* host : sorted) {
        ++counts[statusOrder(host->status)];
        // In words: ten thousand hosts' strips as marks would be tens of
        // megabytes of page that the script redraws at once.
        const auto answered = std::count_if(host->strip.begin(), host->strip.end(), [](std::int32_t roundTrip) { return roundTrip >= 0; });
        const std::string strip = host->strip.empty() ? std::string()
            : std::to_string(answered) + " of " + std::to_string(host->strip.size()) + " answered";
        const bool green = host->status == "green";
        rows += "<tr><td class=\"status status-" + htmlEscaped(host->status) + "\" title=\""
            + htmlEscaped(green ? "" : host->error) + "\">" + word(host->status)
            + (host->behind.empty() ? std::string() : ", behind " + htmlEscaped(host->behind)) + "</td><td>"
            + htmlEscaped(host->name)
            + "</td><td>" + htmlEscaped(host->host) + "</td><td>" + htmlEscaped(host->comment) + "</td><td>"
            + (green ? "" : htmlEscaped(host->sinceText)) + "</td><td class=\"figure\">"
            + milliseconds(host->latestRoundTrip) + "</td><td class=\"figure\">" + milliseconds(host->medianRoundTrip)
            + "</td><td class=\"figure\">"
            + (host->loss ? std::to_string(static_cast<int>(*host->loss * 100 + 0.5)) + " %" : std::string())
            + "</td><td>" + strip + "</td></tr>\n";
    }
    std::string page(pageTemplate);
    page = replaced(std::move(page), "<!--rows-->", rows);
    page = replaced(std::move(page), "<!--counts-->",
        std::to_string(counts[0]) + " red, " + std::to_string(counts[1]) + " yellow, " + std::to_string(counts[2])
            + " green");
    const std::int64_t age = run.now - run.started;
    page = replaced(std::move(page), "<!--age-->",
        age < 86400 ? "The run started " + std::to_string(age / 60)
                + " minutes ago: the uptime figures cover only what it has seen since."
                    : std::string());
    std::string outages;
    for (const std::string& outage : run.outages)
        outages += "<li>" + htmlEscaped(outage) + "</li>";
    page = replaced(std::move(page), "<!--outages-->", outages);
    return page;
}

}  // namespace bv
