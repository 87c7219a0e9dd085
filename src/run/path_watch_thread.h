#pragma once

#include "core/monitor_events.h"
#include "run/path_watch.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace bv {

class Network;

// The path watch of a run on a thread of its own: it takes the hosts after
// each sweep pass, learns their paths, checks them when hosts turn red and
// announces what it finds. Ends (and joins) before the run does.
class PathWatchThread final : public MonitorListener {
public:
    explicit PathWatchThread(Network& network);
    ~PathWatchThread() override;
    PathWatchThread(const PathWatchThread&) = delete;
    PathWatchThread& operator=(const PathWatchThread&) = delete;

    void sweepPassDone() override;

    // For the faces, from any thread.
    std::vector<OutageGroup> groups() const;
    OwnLink ownLink() const;
    std::optional<HostPath> pathOf(const std::string& key) const;

    class Channel;

private:
    void run();
    void announce(PathWatch::Report report);

    Network& network_;
    std::unique_ptr<Channel> channel_;
    mutable std::mutex lock_;  // the watch: its thread and the faces
    std::unique_ptr<PathWatch> watch_;
    std::uint64_t requestsSent_ = 0;  // the thread's own
    std::atomic<bool> passDone_ { false };
    std::atomic<bool> stop_ { false };
    std::unique_ptr<ListenerRegistration> registration_;
    std::thread thread_;
};

// The watch the settings ask for: none under -paths off.
std::unique_ptr<PathWatchThread> startPathWatch(bool wanted, Network& network);

}  // namespace bv
