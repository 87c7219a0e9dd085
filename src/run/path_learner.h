#pragma once

#include "core/host_path.h"
#include "platform/ip_address.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace bv {

// Learns the path to every host in the background, hop by hop, with echo
// requests whose hop limit is 1, 2, ... and keeps each fresh. Driven by the
// caller's clock and its count of the run's own requests, so that probes
// stay a small share of them. It decides what to probe; the engine sends.
//
// A host whose distance is known from its replies is learnt backwards, from
// the hop before it towards the monitor, and stops at the first router that
// a learnt path already has at that hop: hosts behind one router cost a
// probe or two each. Hosts of one network (a /24, a /64) at one distance
// share one learnt path. A host that never answered is learnt forwards until
// a few hops in a row stay silent.
class PathLearner {
public:
    struct Settings {
        double share = 0.04;           // probes per request of the run
        std::uint64_t allowance = 4;   // probes allowed before the share counts
        int maxHops = 30;
        int triesPerHop = 3;           // a router sends about one time exceeded a second
        std::int64_t retryAfter = 1100;      // milliseconds between tries of one host
        std::int64_t answerWait = 3000;      // milliseconds before a probe counts as lost
        std::int64_t forwardAfter = 30000;   // a host silent this long is learnt forwards
        std::int64_t refreshAfter = 3600000;  // a path this old is learnt again
        int silentRunEnd = 3;
    };

    struct Probe {
        std::uint32_t token = 0;  // names the probe in `answered`
        std::string key;
        platform::IpAddress destination;
        int hopLimit = 0;
    };

    explicit PathLearner(Settings settings);
    PathLearner() : PathLearner(Settings {}) {}

    // The hosts to learn by key, at the start and after each reload; the
    // paths of hosts that stay are kept. `now` starts their wait.
    void setHosts(const std::vector<std::pair<std::string, platform::IpAddress>>& hosts, std::int64_t now);
    // A reply of the host came with this time to live (hop limit).
    void replyTimeToLive(const std::string& key, int timeToLive);

    // The probe due now within the share; nothing when none is.
    std::optional<Probe> nextProbe(std::int64_t now, std::uint64_t requestsSent);
    // A router's time exceeded for the probe, or the host's own reply.
    void answered(std::uint32_t token, const platform::IpAddress& from, bool fromHost, std::int64_t now);
    // Probes older than the answer wait count as unanswered.
    void expire(std::int64_t now);

    // The latest learnt path of a host, none before the first.
    const HostPath* pathOf(const std::string& key) const;
    std::uint64_t probesSent() const { return probesSent_; }

private:
    enum class Phase { Waiting, Backward, Forward, Done };
    struct Host {
        platform::IpAddress address;
        std::int64_t listedAt = 0;
        std::optional<int> distance;
        Phase phase = Phase::Waiting;
        HostPath building;
        std::optional<HostPath> learnt;
        int hop = 0;
        int tries = 0;
        int silentRun = 0;
        std::int64_t notBefore = 0;
        std::optional<std::uint32_t> outstanding;
        std::int64_t sentAt = 0;
    };
    using StopKey = std::pair<platform::IpAddress, int>;
    struct StopKeyLess {
        bool operator()(const StopKey& one, const StopKey& other) const;
    };

    // Starts a host's learning when it may; false when it must wait.
    bool begin(const std::string& key, Host& host, std::int64_t now);
    // A path that costs no probe: none for a neighbour, or the one its
    // network's learner found. True when the host took one.
    bool takeFreePath(const std::string& key, Host& host, std::int64_t now);
    // Every waiting host that can take a free path, whatever the share.
    void takeFreePaths(std::int64_t now);
    void finish(const std::string& key, Host& host, std::int64_t now);
    void nextHop(const std::string& key, Host& host, std::int64_t now);
    // The network a host belongs to for sharing, with its distance.
    static std::string shareKey(const platform::IpAddress& address, int distance);

    Settings settings_;
    std::map<std::string, Host> hosts_;
    std::map<std::string, Host>::iterator cursor_ = hosts_.end();
    std::unordered_map<std::uint32_t, std::string> probes_;  // outstanding, by token
    std::map<StopKey, std::string, StopKeyLess> stops_;      // (router, hop) of learnt paths
    std::unordered_map<std::string, std::string> sharing_;   // share key -> the host learning it
    std::uint32_t nextToken_ = 1;
    std::uint64_t probesSent_ = 0;
    bool freePathsDue_ = false;  // a path was learnt, or a distance found, since the last look
    std::int64_t idleUntil_ = 0;  // no host is due before this, unless something changes
};

}  // namespace bv
