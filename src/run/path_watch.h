#pragma once

#include "ping/path_prober.h"
#include "core/outage_groups.h"
#include "run/path_learner.h"

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <set>
#include <utility>
#include <string>
#include <vector>

namespace bv {

// What the watch sends through: the prober, or a test's network.
class ProbeChannel {
public:
    virtual ~ProbeChannel() = default;
    // One of the counts of requests in flight (-max), taken now for the next
    // send; false when none is free.
    virtual bool takeCount() = 0;
    virtual void giveBackCount() = 0;
    // Sends with the count taken, which goes back when the answer comes or
    // its wait is over. A send that failed is a probe lost.
    virtual void send(const platform::IpAddress& destination, int hopLimit, std::uint16_t sequence) = 0;
    virtual std::vector<PathProber::Answer> receive(unsigned waitMilliseconds) = 0;
    // Whether the system has a route to the address at all.
    virtual bool hasRoute(const platform::IpAddress& destination) = 0;
};

// A host as the sweep left it after a pass.
struct WatchedHost {
    std::string key;
    std::string name;
    platform::IpAddress address;
    int timeToLive = -1;  // of its latest reply; -1 before one
    bool red = false;
};

// Learns the hosts' paths and, when hosts turn red, checks the routers on
// their paths to say where the network broke. Driven by the caller's
// clock (monotonic milliseconds): `passDone` after each sweep pass with the
// hosts, `step` about ten times a second to send and read.
class PathWatch {
public:
    struct Settings {
        PathLearner::Settings learner;
        int checksPerHop = 3;
        std::int64_t checkSpacing = 300;   // between the echo requests to one router
        std::int64_t checkWait = 1500;     // after the last before a router counts as silent
        std::int64_t recheckAfter = 10000;  // while hosts are red behind a hop
        std::int64_t ownLinkRecheck = 2000;
        std::int64_t settleAfter = 3000;     // no host turned red this long: the groups are said
        std::int64_t sayAfterAtMost = 8000;  // said by then even while hosts go on turning red
        std::int64_t healingWait = 15000;    // red behind a farther router this long before moved there
        std::size_t passesAtOnce = 3;        // hosts red within this many passes fell at once
    };

    // What changed since the last report.
    struct Report {
        std::vector<OutageGroup> found;
        std::vector<OutageGroup> ended;
        std::optional<OwnLink> ownLink;
        // Red hosts the watch has placed (in a group or in none).
        std::vector<std::string> located;
        bool empty() const { return found.empty() && ended.empty() && !ownLink && located.empty(); }
    };

    PathWatch(ProbeChannel& channel, Settings settings);

    void passDone(const std::vector<WatchedHost>& hosts, std::int64_t now);
    void step(std::int64_t now, std::uint64_t requestsSent, unsigned waitMilliseconds);
    Report takeReport();

    const std::vector<OutageGroup>& groups() const { return groups_; }
    const OwnLink& ownLink() const { return ownLink_; }
    const HostPath* pathOf(const std::string& key) const { return learner_.pathOf(key); }
    std::uint64_t probesSent() const { return learner_.probesSent() + checksSent_; }

private:
    struct RouterCheck {
        int hopLimit = 64;  // enough to reach it, and no more: the checks count as probes
        int sent = 0;
        bool answered = false;
        std::int64_t lastSent = 0;
    };
    enum class Purpose { OutageCheck, OwnLinkCheck };

    using Hop = std::pair<platform::IpAddress, int>;  // a router and its place on the paths
    void startCheck(const std::vector<Hop>& routers, Purpose purpose, std::int64_t now);
    bool checkDone(std::int64_t now) const;
    void finishCheck(std::int64_t now);
    std::optional<bool> answered(const platform::IpAddress& router) const;
    void regroup(std::int64_t now);
    void holdBackHealing(std::vector<OutageGroup>& next, std::int64_t now);
    void sayGroups(std::int64_t now);
    void leaveGroups();
    std::vector<Hop> routersOfRedHosts() const;

    ProbeChannel& channel_;
    Settings settings_;
    PathLearner learner_;
    std::vector<WatchedHost> hosts_;
    std::set<std::string> red_;
    std::vector<OutageGroup> groups_;  // as they are now
    std::vector<OutageGroup> said_;    // as they were last reported
    std::vector<std::string> locatedUnsaid_;
    std::optional<std::int64_t> unsaidSince_;
    std::int64_t lastTurnedRed_ = 0;
    bool recheckWanted_ = false;
    std::map<std::string, std::int64_t> deeperSince_;  // red hosts placed farther than their group, since
    OwnLink ownLink_;
    Report report_;

    std::optional<Purpose> checking_;
    std::vector<std::pair<platform::IpAddress, RouterCheck>> checks_;
    std::vector<platform::IpAddress> ownLinkHosts_;  // the hosts whose route was looked at
    std::vector<Hop> gateways_;                      // their first hops
    std::deque<std::vector<std::string>> recentRed_;  // keys turned red, by pass, newest last
    bool ownLinkSuspected_ = false;  // checked for the hosts that fell at once
    std::int64_t nextRecheck_ = 0;
    struct LearnerProbe {
        std::uint32_t token = 0;
        std::int64_t sentAt = 0;
    };
    std::map<std::uint16_t, LearnerProbe> learnerProbes_;  // by sequence
    std::map<std::uint16_t, std::size_t> checkProbes_;      // sequence -> index in checks_
    std::uint16_t nextSequence_ = 0;
    std::uint64_t checksSent_ = 0;
};

}  // namespace bv
