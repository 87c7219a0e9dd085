#include "run/path_learner.h"

#include <algorithm>
#include <limits>
#include <tuple>

namespace bv {

PathLearner::PathLearner(Settings settings) : settings_(settings) {}

bool PathLearner::StopKeyLess::operator()(const StopKey& one, const StopKey& other) const
{
    return std::tie(one.first.family, one.first.bytes, one.first.scope, one.second)
        < std::tie(other.first.family, other.first.bytes, other.first.scope, other.second);
}

std::string PathLearner::shareKey(const platform::IpAddress& address, int distance)
{
    const std::size_t prefix = address.isV6() ? 8 : 3;
    std::string key(reinterpret_cast<const char*>(address.bytes.data()), prefix);
    key += address.isV6() ? '6' : '4';
    key += std::to_string(distance);
    return key;
}

void PathLearner::setHosts(const std::vector<std::pair<std::string, platform::IpAddress>>& hosts, std::int64_t now)
{
    std::map<std::string, Host> kept;
    for (const auto& [key, address] : hosts) {
        auto known = hosts_.find(key);
        if (known != hosts_.end() && known->second.address == address) {
            kept.emplace(key, std::move(known->second));
        } else {
            Host host;
            host.address = address;
            host.listedAt = now;
            kept.emplace(key, std::move(host));
        }
    }
    hosts_ = std::move(kept);
    cursor_ = hosts_.end();
    freePathsDue_ = true;
    idleUntil_ = 0;
    std::erase_if(probes_, [this](const auto& probe) { return hosts_.count(probe.second) == 0; });
    std::erase_if(stops_, [this](const auto& stop) { return hosts_.count(stop.second) == 0; });
    std::erase_if(sharing_, [this](const auto& share) { return hosts_.count(share.second) == 0; });
}

void PathLearner::replyTimeToLive(const std::string& key, int timeToLive)
{
    auto found = hosts_.find(key);
    const std::optional<int> distance = hopsAway(timeToLive);
    if (found == hosts_.end() || !distance || found->second.distance == distance)
        return;
    Host& host = found->second;
    host.distance = distance;
    freePathsDue_ = true;
    idleUntil_ = 0;
    // A path of another length than the replies say has changed.
    if (host.phase == Phase::Done && host.learnt
        && (!host.learnt->reachedHost || static_cast<int>(host.learnt->routers.size()) + 1 != *distance))
        host.phase = Phase::Waiting;
}

bool PathLearner::takeFreePath(const std::string& key, Host& host, std::int64_t now)
{
    if (!host.distance)
        return false;
    const int distance = *host.distance;
    if (distance <= 1) {
        host.learnt = HostPath { {}, true, now };
        host.phase = Phase::Done;
        return true;
    }
    const auto learner = sharing_.find(shareKey(host.address, distance));
    if (learner == sharing_.end() || learner->second == key)
        return false;
    const auto other = hosts_.find(learner->second);
    if (other == hosts_.end() || other->second.distance != distance)
        return false;
    const Host& sharer = other->second;
    if (sharer.phase != Phase::Done || !sharer.learnt || now - sharer.learnt->learnedAt >= settings_.refreshAfter)
        return false;
    host.learnt = sharer.learnt;
    host.phase = Phase::Done;
    return true;
}

void PathLearner::takeFreePaths(std::int64_t now)
{
    if (!freePathsDue_)
        return;
    freePathsDue_ = false;
    for (auto& [key, host] : hosts_)
        if (host.phase == Phase::Waiting && !host.outstanding)
            takeFreePath(key, host, now);
}

bool PathLearner::begin(const std::string& key, Host& host, std::int64_t now)
{
    if (takeFreePath(key, host, now))
        return true;
    if (host.distance) {
        const int distance = *host.distance;
        const std::string share = shareKey(host.address, distance);
        const auto learner = sharing_.find(share);
        if (learner != sharing_.end() && learner->second != key) {
            const auto other = hosts_.find(learner->second);
            if (other != hosts_.end() && other->second.distance == distance && other->second.phase == Phase::Backward)
                return false;
        }
        sharing_[share] = key;
        host.phase = Phase::Backward;
        host.building = HostPath {};
        host.building.routers.assign(static_cast<std::size_t>(distance - 1), std::nullopt);
        host.hop = distance - 1;
    } else {
        if (now - host.listedAt < settings_.forwardAfter)
            return false;
        host.phase = Phase::Forward;
        host.building = HostPath {};
        host.hop = 1;
        host.silentRun = 0;
    }
    host.tries = 0;
    host.notBefore = now;
    return true;
}

std::optional<PathLearner::Probe> PathLearner::nextProbe(std::int64_t now, std::uint64_t requestsSent)
{
    expire(now);
    takeFreePaths(now);
    const std::uint64_t allowed = settings_.allowance + static_cast<std::uint64_t>(settings_.share * double(requestsSent));
    if (probesSent_ >= allowed || hosts_.empty() || now < idleUntil_)
        return std::nullopt;
    // When no host is due, the scan notes when the first one will be, and
    // nothing is scanned again before that or before something changes.
    std::int64_t firstDue = std::numeric_limits<std::int64_t>::max();
    const auto due = [&firstDue](std::int64_t at) { firstDue = std::min(firstDue, at); };
    auto each = cursor_ == hosts_.end() ? hosts_.begin() : cursor_;
    for (std::size_t looked = 0; looked < hosts_.size(); ++looked) {
        auto current = each;
        if (++each == hosts_.end())
            each = hosts_.begin();
        const std::string& key = current->first;
        Host& host = current->second;
        if (host.outstanding)
            continue;
        if (host.phase == Phase::Done) {
            if (!host.learnt)
                continue;
            if (now - host.learnt->learnedAt < settings_.refreshAfter) {
                due(host.learnt->learnedAt + settings_.refreshAfter);
                continue;
            }
            host.phase = Phase::Waiting;
        }
        if (host.phase == Phase::Waiting) {
            if (!begin(key, host, now)) {
                if (!host.distance)
                    due(host.listedAt + settings_.forwardAfter);
                continue;
            }
            if (host.phase == Phase::Done) {
                due(host.learnt->learnedAt + settings_.refreshAfter);
                continue;
            }
        }
        if (now < host.notBefore) {
            due(host.notBefore);
            continue;
        }
        std::uint32_t token = nextToken_++;
        if (token == 0)
            token = nextToken_++;
        host.outstanding = token;
        host.sentAt = now;
        probes_[token] = key;
        ++probesSent_;
        cursor_ = each;
        return Probe { token, key, host.address, host.hop };
    }
    idleUntil_ = firstDue;
    return std::nullopt;
}

void PathLearner::answered(std::uint32_t token, const platform::IpAddress& from, bool fromHost, std::int64_t now)
{
    const auto probe = probes_.find(token);
    if (probe == probes_.end())
        return;
    const std::string key = probe->second;
    probes_.erase(probe);
    auto found = hosts_.find(key);
    if (found == hosts_.end() || found->second.outstanding != token)
        return;
    Host& host = found->second;
    host.outstanding.reset();
    idleUntil_ = 0;
    const std::size_t at = static_cast<std::size_t>(host.hop - 1);
    if (host.phase == Phase::Forward) {
        host.building.routers.resize(at);
        if (fromHost) {
            host.building.reachedHost = true;
            finish(key, host, now);
            return;
        }
        host.building.routers.push_back(from);
        host.silentRun = 0;
        if (++host.hop > settings_.maxHops) {
            finish(key, host, now);
            return;
        }
        host.tries = 0;
        host.notBefore = now;
        return;
    }
    if (host.phase != Phase::Backward)
        return;
    if (fromHost) {
        // The host is nearer than its replies said.
        host.building.routers.resize(at);
        host.distance = host.hop;
    } else {
        host.building.routers[at] = from;
        const auto stop = stops_.find(StopKey { from, host.hop });
        if (stop != stops_.end() && stop->second != key) {
            const auto other = hosts_.find(stop->second);
            if (other != hosts_.end() && other->second.learnt && other->second.learnt->routers.size() >= at) {
                std::copy_n(other->second.learnt->routers.begin(), at, host.building.routers.begin());
                host.building.reachedHost = true;
                finish(key, host, now);
                return;
            }
        }
    }
    nextHop(key, host, now);
}

void PathLearner::expire(std::int64_t now)
{
    // Only the probes in flight can expire: a walk of every host each step
    // was most of the learner's cost once all paths were known.
    std::vector<std::string> expired;
    for (auto probe = probes_.begin(); probe != probes_.end();) {
        const auto found = hosts_.find(probe->second);
        if (found == hosts_.end() || found->second.outstanding != probe->first) {
            // A host listed again with another address left its probe here.
            probe = probes_.erase(probe);
            continue;
        }
        if (now - found->second.sentAt >= settings_.answerWait)
            expired.push_back(probe->second);
        ++probe;
    }
    std::sort(expired.begin(), expired.end());
    for (const std::string& key : expired) {
        Host& host = hosts_.find(key)->second;
        probes_.erase(*host.outstanding);
        host.outstanding.reset();
        idleUntil_ = 0;
        if (++host.tries < settings_.triesPerHop) {
            host.notBefore = now + settings_.retryAfter;
            continue;
        }
        if (host.phase == Phase::Backward) {
            nextHop(key, host, now);
            continue;
        }
        host.building.routers.resize(static_cast<std::size_t>(host.hop - 1));
        host.building.routers.push_back(std::nullopt);
        if (++host.silentRun >= settings_.silentRunEnd || host.hop >= settings_.maxHops) {
            while (!host.building.routers.empty() && !host.building.routers.back())
                host.building.routers.pop_back();
            finish(key, host, now);
            continue;
        }
        ++host.hop;
        host.tries = 0;
        host.notBefore = now;
    }
}

void PathLearner::nextHop(const std::string& key, Host& host, std::int64_t now)
{
    host.tries = 0;
    host.notBefore = now;
    if (--host.hop <= 0) {
        host.building.reachedHost = true;
        finish(key, host, now);
    }
}

void PathLearner::finish(const std::string& key, Host& host, std::int64_t now)
{
    host.building.learnedAt = now;
    host.learnt = host.building;
    host.phase = Phase::Done;
    freePathsDue_ = true;
    idleUntil_ = 0;
    for (std::size_t at = 0; at < host.learnt->routers.size(); ++at)
        if (host.learnt->routers[at])
            stops_[StopKey { *host.learnt->routers[at], static_cast<int>(at + 1) }] = key;
}

const HostPath* PathLearner::pathOf(const std::string& key) const
{
    const auto found = hosts_.find(key);
    return found == hosts_.end() || !found->second.learnt ? nullptr : &*found->second.learnt;
}

}  // namespace bv
