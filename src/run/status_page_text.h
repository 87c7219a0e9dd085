#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace bv {

// One host as the status page and its API show it: values taken under the
// run's lock, so that the texts are made without it.
struct StatusHostView {
    std::string key;
    std::string name;
    std::string host;
    std::string comment;
    std::string status;  // "green", "yellow" or "red"
    std::int64_t since = 0;  // calendar seconds it has been down since; 0 while green
    std::string sinceText;   // the same as the program writes times
    std::string error;
    std::optional<std::int64_t> latestRoundTrip;  // microseconds
    std::optional<std::int64_t> medianRoundTrip;
    std::optional<double> loss;       // 0 to 1
    std::vector<std::int32_t> strip;  // the latest requests, oldest first; -1 for no reply
    std::string behind;  // the last answering hop while red behind it; empty otherwise
};

struct StatusRunView {
    std::int64_t started = 0;  // calendar seconds
    std::int64_t now = 0;
    // Where the network broke: this machine's own link while down, and each
    // group of red hosts behind one hop.
    std::vector<std::string> outages;
};

// `GET /api/v1/hosts`: the run and every host, in list order.
std::string hostsJson(const StatusRunView& run, const std::vector<StatusHostView>& hosts);
// One pass of the event stream: the hosts that changed and the keys that left.
std::string passEvent(const std::vector<StatusHostView>& changed, const std::vector<std::string>& removed,
    const std::vector<std::string>& outages = {});

// The page as the server sends it: the template's markers filled with the
// counts, the run's age and a plain table of every host (red first), so that
// it reads without JavaScript. Every text is escaped.
std::string statusPage(std::string_view pageTemplate, const StatusRunView& run, const std::vector<StatusHostView>& hosts);

std::string htmlEscaped(std::string_view text);

}  // namespace bv
