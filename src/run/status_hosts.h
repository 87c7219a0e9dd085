#pragma once

#include "run/status_page_text.h"

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
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
// Where the network broke, as lines: the own link while down, each group.
std::vector<std::string> outageLines(Network& network);

// What the event streams were last sent of each host: a fingerprint of
// what its view shows, so that a pass finds the changed hosts without
// making the view of every host.
using PublishedHosts = std::unordered_map<std::string, std::uint64_t>;

struct HostChanges {
    std::vector<StatusHostView> changed;
    std::vector<std::string> removed;  // keys
    bool added = false;  // a host that was not published before
};

// The hosts whose view differs from `published`, which is brought up to date.
HostChanges changedHostViews(Network& network, PublishedHosts& published);

// `GET /api/v1/hosts/<key>/history`: the host's chart and uptime; nothing
// for a key no host has.
std::optional<std::string> historyJson(Network& network, const std::string& key);

}  // namespace bv
