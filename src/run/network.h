#pragma once

#include "core/input_file.h"
#include "core/monitor_events.h"
#include "core/region.h"
#include "core/round_trip_alarm.h"
#include "output/log_writer.h"
#include "ping/engine_context.h"
#include "ping/icmp_socket.h"
#include "platform/clock.h"
#include "platform/lock_objects.h"
#include "run/command_line.h"
#include "run/engine_counts.h"

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace bv {

class PathWatchThread;

// What a run is built with besides its settings.
struct NetworkOptions {
    platform::Clock* clock = &platform::systemClock();
    // Appended to the names of the shared lock objects, so that runs that
    // must not share them (tests side by side) keep apart.
    std::string lockNameSuffix;
    // That kind of ICMP socket alone (tests of each kind); unset, the raw
    // socket or, refused, the kind an ordinary user may open.
    std::optional<platform::IcmpSocketKind> socketKind;
};

// The names of the run's shared lock objects: the pool of request counts
// (one per -max value; the default keeps the name every copy has always
// shared), the file mutex and the socket mutex.
std::string pingSemaphoreName(std::int32_t maxInFlight);

// How a host record takes -family (both: Either, and the twins then).
HostFamily hostFamilyOf(NameFamilies families);
inline constexpr const char* kFileMutexName = "fileMutexName";
inline constexpr const char* kSocketMutexName = "socketMutexName";

// The whole run: the host registry, the run's files and ports, the lock set
// that its threads share, the queue of changes for the log and the socket.
class Network : public Region {
public:
    // Loads the input file, creates the lock set and opens the socket;
    // throws StartupFailure when the run cannot be built.
    explicit Network(const RunSettings& settings, const NetworkOptions& options = {});
    ~Network() override;

    const std::string& getInputFile() const { return inputFile_; }
    const std::string& getLogFile() const { return logFile_; }
    const std::string& getDownFile() const { return downFile_; }
    const std::string& getSerialPort() const { return serialPort_; }
    const std::string& getSerialParameters() const { return serialParameters_; }
    std::int32_t getArchiveSize() const { return archiveSize_; }

    platform::Semaphore& pingSemaphore() { return *pingSemaphore_; }
    platform::Mutex& fileMutex() { return *fileMutex_; }
    platform::Mutex& socketMutex() { return *socketMutex_; }
    platform::Mutex& vectorMutex() { return *vectorMutex_; }
    // The IPv4 socket, opened with the run.
    IcmpSocket& socket() { return sockets_->ipv4(); }
    IcmpSockets& sockets() { return *sockets_; }
    platform::Clock& clock() { return clock_; }
    // The run's path watch while it runs; none under -paths off. Set by the
    // run driver before the sweep and cleared after it.
    const PathWatchThread* pathWatch() const { return pathWatch_.load(); }
    void setPathWatch(const PathWatchThread* watch) { pathWatch_.store(watch); }
    // When the run began, on the calendar clock.
    CalendarTime getStartedAt() const { return startedAt_; }
    // What the echo sender and the receiver work on.
    EngineContext& engine() { return *engine_; }
    LogWriter& logWriter() { return *logWriter_; }

    // Guarded by fileMutex.
    std::vector<Address>& printList() { return printList_; }

    std::string getSummary() const;
    // Takes vectorMutex for the walk.
    EngineCounts countEngine() const;

    // The log writer's two steps, and the last batch at the end of a run,
    // which first queues the changes no sweep pass queued any more. The
    // last batch gives the name of a file it could not open, or nothing.
    TextWrite writeLogBatch() { return logWriter_->writeLogBatch(); }
    TextWrite writeDownFile() { return logWriter_->writeDownFile(); }
    std::string writeFinalBatch();

    // The monitor's main loop; returns once exit has been requested.
    void statusSweep();
    // One pass of it; returns the pause that follows the pass in milliseconds
    // (0 when there is none).
    std::int64_t sweepPass();
    // At exit: the counts that requests still hold, which no sweep and no
    // receiver will give back any more.
    void returnOutstandingCounts();

    // Another thread asks; the sweep reads the host list anew before its
    // next pass.
    void requestReload() { reloadRequested_.store(true); }
    // Reads the input file anew and makes it the list (see
    // Region::adoptHosts); a file that cannot be read leaves the list as it
    // is. Announces what it did. On the sweep's thread.
    void reloadHostList();

    // Idle hosts whose next request is more than a second late, as of the
    // latest sweep pass.
    std::int32_t getOverdueCount() const { return overdueCount_.load(std::memory_order_relaxed); }
    // Sweep passes finished since the run was built.
    std::uint64_t getSweepPasses() const { return sweepPasses_.load(std::memory_order_relaxed); }
    // The -slow and -loss alarms the sweep judges each host by.
    const RoundTripAlarm& roundTripAlarm() const { return alarm_; }

private:
    // Reads the input file into `into` with the run's settings, the twins of
    // dual-stack names included under -family both.
    void loadHostList(Region& into, const LineReport& report);
    // Moves a pending change into printList; called with vectorMutex held.
    void queueChange(Address& record);
    // Frees the records that left the list once no sender pass can hold them.
    void freeRetiredHosts();
    // The error note for hosts overdue by more than an interval, at most
    // once a minute.
    void noteOverdue(std::int32_t badlyOverdue, std::int64_t now);
    // Judges the host's alarms; a change joins `changes`. With the lock held.
    void judgeAlarms(Address& record, std::vector<RoundTripAlarmChange>& changes);

    platform::Clock& clock_;
    CalendarTime startedAt_ = 0;
    bool historyKept_ = false;  // only the status page reads the hosts' histories
    RoundTripAlarm alarm_;
    std::string inputFile_;
    std::string logFile_;
    std::string downFile_;
    std::string serialPort_;
    std::string serialParameters_;
    std::int32_t archiveSize_ = 0;
    NameFamilies nameFamilies_ = NameFamilies::Default;
    std::unique_ptr<platform::Semaphore> pingSemaphore_;
    std::atomic<const PathWatchThread*> pathWatch_ { nullptr };
    std::unique_ptr<platform::Mutex> fileMutex_;
    std::unique_ptr<platform::Mutex> socketMutex_;
    std::unique_ptr<platform::Mutex> vectorMutex_;
    std::vector<Address> printList_;
    std::int32_t maxInFlight_ = 6;
    std::atomic<std::int32_t> overdueCount_ { 0 };
    std::atomic<std::uint64_t> sweepPasses_ { 0 };
    std::atomic<bool> reloadRequested_ { false };
    struct RetiredHost {
        std::uint64_t senderPass;  // the sender's pass when it left the list
        std::unique_ptr<Address> record;
    };
    std::vector<RetiredHost> retired_;
    // Monotonic times of the sweep's latest host dump and overdue note.
    std::int64_t lastDump_ = 0;
    // When the previous sweep pass began: the time a red host was down since.
    std::optional<std::int64_t> lastPassStart_;
    std::int64_t lastOverdueNote_ = 0;
    bool dumped_ = false;
    bool overdueNoted_ = false;
    std::unique_ptr<IcmpSockets> sockets_;
    InFlightRequests inFlight_;
    NamedHosts namedHosts_;
    std::unique_ptr<EngineContext> engine_;
    std::unique_ptr<LogWriter> logWriter_;
};

}  // namespace bv
