#include "run/path_watch.h"

#include <algorithm>
#include <map>
#include <unordered_set>

namespace bv {

namespace {

constexpr std::int64_t kProbeMemory = 10000;

bool sameGroup(const OutageGroup& one, const OutageGroup& other)
{
    return one.lastAnswering == other.lastAnswering && one.hop == other.hop && one.after == other.after;
}


}  // namespace

PathWatch::PathWatch(ProbeChannel& channel, Settings settings)
    : channel_(channel)
    , settings_(settings)
    , learner_(settings.learner)
{
}

void PathWatch::passDone(const std::vector<WatchedHost>& hosts, std::int64_t now)
{
    const bool listChanged = hosts.size() != hosts_.size()
        || !std::equal(hosts.begin(), hosts.end(), hosts_.begin(), [](const WatchedHost& one, const WatchedHost& other) {
               return one.key == other.key && one.address == other.address;
           });
    if (listChanged) {
        std::vector<std::pair<std::string, platform::IpAddress>> listed;
        listed.reserve(hosts.size());
        for (const WatchedHost& host : hosts)
            listed.emplace_back(host.key, host.address);
        learner_.setHosts(listed, now);
    }
    std::set<std::string> red;
    std::vector<const WatchedHost*> newlyRed;
    for (std::size_t at = 0; at < hosts.size(); ++at) {
        const WatchedHost& host = hosts[at];
        // Only a changed time to live is news; the same list passes every second.
        if (host.timeToLive > 0 && (listChanged || hosts_[at].timeToLive != host.timeToLive))
            learner_.replyTimeToLive(host.key, host.timeToLive);
        if (!host.red)
            continue;
        red.insert(host.key);
        if (red_.count(host.key) == 0)
            newlyRed.push_back(&host);
    }
    hosts_ = hosts;
    red_ = std::move(red);
    leaveGroups();
    // A host without a known path waits for no check.
    for (const WatchedHost* host : newlyRed)
        if (const HostPath* path = learner_.pathOf(host->key); !path || path->routers.empty())
            report_.located.push_back(host->key);
    // Most hosts at once: the monitor's own way out first. When it goes,
    // each host fails at its next request, and the requests of an interval
    // are spread over it, so "at once" is the passes of an interval and a
    // little more.
    std::vector<std::string> keys;
    for (const WatchedHost* host : newlyRed)
        keys.push_back(host->key);
    recentRed_.push_back(std::move(keys));
    while (recentRed_.size() > settings_.passesAtOnce)
        recentRed_.pop_front();
    std::unordered_set<std::string> recent;
    for (const auto& pass : recentRed_)
        recent.insert(pass.begin(), pass.end());
    std::vector<const WatchedHost*> atOnce;
    for (const WatchedHost& host : hosts_)
        if (red_.count(host.key) != 0 && recent.count(host.key) != 0)
            atOnce.push_back(&host);
    if (atOnce.empty())
        ownLinkSuspected_ = false;
    if (atOnce.size() * 2 > hosts.size() && atOnce.size() >= 3 && ownLink_.up && !ownLinkSuspected_) {
        ownLinkSuspected_ = true;
        gateways_.clear();
        ownLinkHosts_.clear();
        for (const WatchedHost* host : atOnce) {
            ownLinkHosts_.push_back(host->address);
            if (const HostPath* path = learner_.pathOf(host->key); path && !path->routers.empty() && path->routers[0]
                && std::none_of(gateways_.begin(), gateways_.end(), [&](const Hop& hop) { return hop.first == *path->routers[0]; }))
                gateways_.emplace_back(*path->routers[0], 1);
        }
        startCheck(gateways_, Purpose::OwnLinkCheck, now);
        return;
    }
    if (newlyRed.empty())
        return;
    lastTurnedRed_ = now;
    if (!ownLink_.up)
        return;
    if (!checking_)
        startCheck(routersOfRedHosts(), Purpose::OutageCheck, now);
    else
        recheckWanted_ = true;
}

// Hosts back to green leave their groups; a group of one ends, reported
// as it was.
void PathWatch::leaveGroups()
{
    for (auto each = groups_.begin(); each != groups_.end();) {
        OutageGroup left = *each;
        for (std::size_t at = left.keys.size(); at-- > 0;) {
            if (red_.count(left.keys[at]) == 0) {
                left.keys.erase(left.keys.begin() + static_cast<std::ptrdiff_t>(at));
                left.names.erase(left.names.begin() + static_cast<std::ptrdiff_t>(at));
            }
        }
        if (left.keys.size() < 2) {
            each = groups_.erase(each);
        } else {
            *each++ = std::move(left);
        }
    }
}

std::vector<PathWatch::Hop> PathWatch::routersOfRedHosts() const
{
    std::vector<Hop> routers;
    for (const WatchedHost& host : hosts_) {
        if (red_.count(host.key) == 0)
            continue;
        const HostPath* path = learner_.pathOf(host.key);
        for (std::size_t at = 0; path && at < path->routers.size(); ++at) {
            const auto& router = path->routers[at];
            if (router && std::none_of(routers.begin(), routers.end(), [&](const Hop& hop) { return hop.first == *router; }))
                routers.emplace_back(*router, static_cast<int>(at + 1));
        }
    }
    return routers;
}

void PathWatch::startCheck(const std::vector<Hop>& routers, Purpose purpose, std::int64_t now)
{
    checking_ = purpose;
    checks_.clear();
    checkProbes_.clear();
    for (const auto& [router, hop] : routers) {
        RouterCheck check;
        check.hopLimit = hop + 1;
        checks_.emplace_back(router, check);
    }
    if (checks_.empty())
        finishCheck(now);
}

bool PathWatch::checkDone(std::int64_t now) const
{
    return std::all_of(checks_.begin(), checks_.end(), [&](const auto& check) {
        return check.second.answered
            || (check.second.sent >= settings_.checksPerHop && now - check.second.lastSent >= settings_.checkWait);
    });
}

std::optional<bool> PathWatch::answered(const platform::IpAddress& router) const
{
    for (const auto& [checked, check] : checks_)
        if (checked == router)
            return check.answered;
    return std::nullopt;
}

void PathWatch::finishCheck(std::int64_t now)
{
    const Purpose purpose = *checking_;
    checking_.reset();
    if (purpose == Purpose::OutageCheck) {
        // Hosts that turned red during the check are placed at once.
        nextRecheck_ = recheckWanted_ ? now : now + settings_.recheckAfter;
        recheckWanted_ = false;
        regroup(now);
        return;
    }
    const bool anyAnswered = std::any_of(checks_.begin(), checks_.end(), [](const auto& check) { return check.second.answered; });
    const bool routeMissing = !ownLinkHosts_.empty()
        && std::none_of(ownLinkHosts_.begin(), ownLinkHosts_.end(),
            [this](const platform::IpAddress& host) { return channel_.hasRoute(host); });
    OwnLink next;
    next.up = !routeMissing && (checks_.empty() || anyAnswered);
    next.routeMissing = routeMissing;
    next.gateway = gateways_.empty() ? std::nullopt : std::optional<platform::IpAddress>(gateways_.front().first);
    if (next.up != ownLink_.up)
        report_.ownLink = next;
    ownLink_ = next;
    if (ownLink_.up) {
        // The way out works: where the hosts' paths broke, at once.
        nextRecheck_ = now;
    } else {
        nextRecheck_ = now + settings_.ownLinkRecheck;
        groups_.clear();
    }
}

void PathWatch::regroup(std::int64_t now)
{
    std::vector<RedHostOnPath> red;
    for (const WatchedHost& host : hosts_)
        if (red_.count(host.key) != 0)
            if (const HostPath* path = learner_.pathOf(host.key))
                red.push_back(RedHostOnPath { host.key, host.name, *path });
    for (const WatchedHost& host : hosts_)
        if (red_.count(host.key) != 0)
            locatedUnsaid_.push_back(host.key);
    std::vector<OutageGroup> next = groupOutages(red, [this](const platform::IpAddress& router) { return answered(router); });
    holdBackHealing(next, now);
    groups_ = std::move(next);
}

// A router that comes back answers before the hosts behind it do: they
// answer at their next request. A red host placed behind a farther router
// than its group's stays in its group until it has been there a while.
void PathWatch::holdBackHealing(std::vector<OutageGroup>& next, std::int64_t now)
{
    std::map<std::string, const OutageGroup*> before;
    std::map<std::string, const OutageGroup*> placedNow;
    for (const OutageGroup& group : groups_)
        for (const std::string& key : group.keys)
            before[key] = &group;
    for (const OutageGroup& group : next)
        for (const std::string& key : group.keys)
            placedNow[key] = &group;
    std::map<std::string, std::int64_t> stillFarther;
    std::vector<OutageGroup> placed;
    // In the host list's order, as groups are made.
    for (const WatchedHost& host : hosts_) {
        const auto found = placedNow.find(host.key);
        if (found == placedNow.end())
            continue;
        const OutageGroup* place = found->second;
        if (const auto old = before.find(host.key); old != before.end() && place->hop > old->second->hop) {
            const std::int64_t since = deeperSince_.try_emplace(host.key, now).first->second;
            stillFarther[host.key] = since;
            if (now - since < settings_.healingWait)
                place = old->second;
        }
        auto group = std::find_if(placed.begin(), placed.end(), [&](const OutageGroup& each) { return sameGroup(each, *place); });
        if (group == placed.end()) {
            group = placed.insert(placed.end(), *place);
            group->keys.clear();
            group->names.clear();
        }
        group->keys.push_back(host.key);
        group->names.push_back(host.name);
    }
    deeperSince_ = std::move(stillFarther);
    std::erase_if(placed, [](const OutageGroup& group) { return group.keys.size() < 2; });
    next = std::move(placed);
}

// The hosts of one outage turn red over an interval and a time-out: what
// the groups became is said once no host has turned red for a moment, or
// after a few seconds all the same, so that one outage is one notice. A
// group is news when it appears and again when more hosts joined it.
void PathWatch::sayGroups(std::int64_t now)
{
    const bool changed = !locatedUnsaid_.empty() || groups_.size() != said_.size()
        || !std::equal(groups_.begin(), groups_.end(), said_.begin(), said_.end(),
            [](const OutageGroup& one, const OutageGroup& other) { return sameGroup(one, other) && one.keys == other.keys; });
    if (!changed) {
        unsaidSince_.reset();
        return;
    }
    if (!unsaidSince_)
        unsaidSince_ = now;
    if (now - lastTurnedRed_ < settings_.settleAfter && now - *unsaidSince_ < settings_.sayAfterAtMost)
        return;
    for (const OutageGroup& group : groups_) {
        const auto known = std::find_if(said_.begin(), said_.end(), [&](const OutageGroup& each) { return sameGroup(each, group); });
        if (known == said_.end() || group.keys.size() > known->keys.size())
            report_.found.push_back(group);
    }
    for (const OutageGroup& group : said_)
        if (std::none_of(groups_.begin(), groups_.end(), [&](const OutageGroup& each) { return sameGroup(each, group); }))
            report_.ended.push_back(group);
    said_ = groups_;
    report_.located.insert(report_.located.end(), locatedUnsaid_.begin(), locatedUnsaid_.end());
    locatedUnsaid_.clear();
    unsaidSince_.reset();
}

void PathWatch::step(std::int64_t now, std::uint64_t requestsSent, unsigned waitMilliseconds)
{
    if (checking_) {
        for (std::size_t at = 0; at < checks_.size(); ++at) {
            RouterCheck& check = checks_[at].second;
            if (check.answered || check.sent >= settings_.checksPerHop
                || (check.sent > 0 && now - check.lastSent < settings_.checkSpacing))
                continue;
            if (!channel_.takeCount())
                break;
            const std::uint16_t sequence = nextSequence_++;
            channel_.send(checks_[at].first, checks_[at].second.hopLimit, sequence);
            checkProbes_[sequence] = at;
            ++check.sent;
            ++checksSent_;
            check.lastSent = now;
        }
    } else if (!ownLink_.up && now >= nextRecheck_) {
        startCheck(gateways_, Purpose::OwnLinkCheck, now);
    } else if (ownLink_.up && !red_.empty() && now >= nextRecheck_) {
        const std::vector<Hop> routers = routersOfRedHosts();
        if (!routers.empty())
            startCheck(routers, Purpose::OutageCheck, now);
        else
            nextRecheck_ = now + settings_.recheckAfter;
    }
    // No paths are learnt while the way out is down: nothing would answer.
    if (ownLink_.up) {
        while (channel_.takeCount()) {
            const auto probe = learner_.nextProbe(now, requestsSent);
            if (!probe) {
                channel_.giveBackCount();
                break;
            }
            const std::uint16_t sequence = nextSequence_++;
            channel_.send(probe->destination, probe->hopLimit, sequence);
            learnerProbes_[sequence] = LearnerProbe { probe->token, now };
        }
    }
    for (const PathProber::Answer& answer : channel_.receive(waitMilliseconds)) {
        if (auto probe = learnerProbes_.find(answer.sequence); probe != learnerProbes_.end()) {
            const bool fromHost = !answer.timeExceeded && answer.from == answer.about;
            learner_.answered(probe->second.token, answer.from, fromHost, now);
            learnerProbes_.erase(probe);
        } else if (auto check = checkProbes_.find(answer.sequence); check != checkProbes_.end()) {
            if (!answer.timeExceeded && check->second < checks_.size() && answer.from == checks_[check->second].first)
                checks_[check->second].second.answered = true;
        }
    }
    std::erase_if(learnerProbes_, [now](const auto& probe) { return now - probe.second.sentAt > kProbeMemory; });
    if (checking_ && checkDone(now))
        finishCheck(now);
    sayGroups(now);
}

PathWatch::Report PathWatch::takeReport()
{
    Report taken = std::move(report_);
    report_ = Report {};
    return taken;
}

}  // namespace bv
