#pragma once

#include "run/status_page_text.h"

#include <optional>
#include <string>
#include <vector>

namespace bv {

class Address;
class Network;

// The values the status page shows of one host, taken with the run's
// vector mutex held.
StatusHostView statusHostView(const Address& host, std::int64_t nowMicroseconds);

// Every host's, in list order, under the lock.
std::vector<StatusHostView> statusHostViews(Network& network);
StatusRunView statusRunView(Network& network);

// `GET /api/v1/hosts/<key>/history`: the host's chart and uptime; nothing
// for a key no host has.
std::optional<std::string> historyJson(Network& network, const std::string& key);

}  // namespace bv
