#include "run/path_watch_thread.h"

#include "core/address.h"
#include "ping/path_prober.h"
#include "platform/lock_hold.h"
#include "platform/route_check.h"
#include "run/network.h"

#include <algorithm>
#include <deque>

namespace bv {

namespace {

constexpr unsigned kStepMilliseconds = 100;
// A probe holds its count at most this long, answered or not.
constexpr std::int64_t kCountHeld = 1000;

// A pass a second: an interval's passes, and two for the requests whose
// time-outs fall on either side of a pass's end.
PathWatch::Settings watchSettings(const Network& network)
{
    PathWatch::Settings settings;
    settings.passesAtOnce = static_cast<std::size_t>(std::max(network.getInterval(), 0) + 999) / 1000 + 2;
    return settings;
}

}  // namespace

// The prober, with the run's counts of requests in flight.
class PathWatchThread::Channel final : public ProbeChannel {
public:
    Channel(platform::Semaphore& counts, platform::Clock& clock) : counts_(counts), clock_(clock) {}
    ~Channel() override
    {
        for (std::size_t each = 0; each < held_.size() + (taken_ ? 1 : 0); ++each)
            counts_.release();
    }

    bool takeCount() override
    {
        if (taken_)
            return true;
        const auto got = counts_.tryWait();
        taken_ = got && *got == platform::WaitResult::Signalled;
        return taken_;
    }
    void giveBackCount() override
    {
        if (taken_)
            counts_.release();
        taken_ = false;
    }
    void send(const platform::IpAddress& destination, int hopLimit, std::uint16_t sequence) override
    {
        prober_.send(destination, hopLimit, sequence);
        if (taken_)
            held_.push_back(Held { sequence, clock_.monotonicMilliseconds() });
        taken_ = false;
    }
    std::vector<PathProber::Answer> receive(unsigned waitMilliseconds) override
    {
        std::vector<PathProber::Answer> answers = prober_.receive(waitMilliseconds);
        for (const PathProber::Answer& answer : answers) {
            for (auto each = held_.begin(); each != held_.end(); ++each) {
                if (each->sequence == answer.sequence) {
                    held_.erase(each);
                    counts_.release();
                    break;
                }
            }
        }
        const std::int64_t now = clock_.monotonicMilliseconds();
        while (!held_.empty() && now - held_.front().since >= kCountHeld) {
            held_.pop_front();
            counts_.release();
        }
        return answers;
    }
    bool hasRoute(const platform::IpAddress& destination) override { return platform::hasRouteTo(destination); }

private:
    struct Held {
        std::uint16_t sequence;
        std::int64_t since;
    };
    platform::Semaphore& counts_;
    platform::Clock& clock_;
    PathProber prober_;
    std::deque<Held> held_;
    bool taken_ = false;
};

PathWatchThread::PathWatchThread(Network& network)
    : network_(network)
    , channel_(std::make_unique<Channel>(network.pingSemaphore(), network.clock()))
    , watch_(std::make_unique<PathWatch>(*channel_, watchSettings(network)))
{
    registration_ = std::make_unique<ListenerRegistration>(*this);
    thread_ = std::thread([this] { run(); });
}

PathWatchThread::~PathWatchThread()
{
    registration_.reset();
    stop_.store(true);
    if (thread_.joinable())
        thread_.join();
}

void PathWatchThread::sweepPassDone()
{
    passDone_.store(true);
}

void PathWatchThread::run()
{
    while (!stop_.load() && !exitRequested.load()) {
        const std::int64_t now = network_.clock().monotonicMilliseconds();
        std::uint64_t requestsSent = 0;
        if (passDone_.exchange(false)) {
            std::vector<WatchedHost> hosts;
            {
                platform::MutexHold hold(network_.vectorMutex(), "vector mutex cannot be released");
                if (hold) {
                    hosts.reserve(network_.hostCount());
                    for (std::size_t position = 0; position < network_.hostCount(); ++position) {
                        const Address& host = *network_.host(position);
                        requestsSent += host.getRequestsSent();
                        const auto& address = host.getNumericAddress() ? host.getNumericAddress() : host.getRepliedFrom();
                        if (!address)
                            continue;
                        hosts.push_back(WatchedHost { host.getKey(), host.getName(), *address, host.getReplyTimeToLive(),
                            host.getStatus() == HostStatus::Red });
                    }
                }
            }
            std::lock_guard<std::mutex> hold(lock_);
            watch_->passDone(hosts, now);
            requestsSent_ = requestsSent;
        }
        PathWatch::Report report;
        {
            std::lock_guard<std::mutex> hold(lock_);
            watch_->step(now, requestsSent_, 0);
            report = watch_->takeReport();
        }
        announce(std::move(report));
        // Answers wait in the sockets meanwhile; nothing about them is timed.
        network_.clock().pauseMilliseconds(kStepMilliseconds, exitRequested.wakeup());
    }
}

void PathWatchThread::announce(PathWatch::Report report)
{
    if (report.ownLink)
        notifyOwnLinkChanged(*report.ownLink);
    for (const OutageGroup& group : report.ended)
        notifyOutageGroupEnded(group);
    for (const OutageGroup& group : report.found)
        notifyOutageGroupFound(group);
    if (!report.located.empty())
        notifyOutagesLocated(report.located);
}

std::vector<OutageGroup> PathWatchThread::groups() const
{
    std::lock_guard<std::mutex> hold(lock_);
    return watch_->groups();
}

OwnLink PathWatchThread::ownLink() const
{
    std::lock_guard<std::mutex> hold(lock_);
    return watch_->ownLink();
}

std::optional<HostPath> PathWatchThread::pathOf(const std::string& key) const
{
    std::lock_guard<std::mutex> hold(lock_);
    const HostPath* path = watch_->pathOf(key);
    return path ? std::optional<HostPath>(*path) : std::nullopt;
}

std::unique_ptr<PathWatchThread> startPathWatch(bool wanted, Network& network)
{
    return wanted ? std::make_unique<PathWatchThread>(network) : nullptr;
}

}  // namespace bv
