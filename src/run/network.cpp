#include "run/network.h"

#include "core/input_file.h"
#include "core/startup_failure.h"
#include "core/summary.h"
#include "platform/lock_hold.h"
#include "run/dual_stack_names.h"
#include "run/path_watch_thread.h"

namespace bv {

namespace {

// A lock the run cannot do without; the failure names it and the system's reason.
template<typename T>
std::unique_ptr<T> orStartupFailure(platform::ErrorOr<std::unique_ptr<T>> made, const std::string& what)
{
    if (made.is_error())
        throw StartupFailure(what + ": " + made.error().message());
    return made.release_value();
}

}  // namespace

HostFamily hostFamilyOf(NameFamilies families)
{
    switch (families) {
    case NameFamilies::V4:
        return HostFamily::V4;
    case NameFamilies::V6:
        return HostFamily::V6;
    default:
        return HostFamily::Either;
    }
}

void Network::loadHostList(Region& into, const LineReport& report)
{
    into.setNameFamily(getNameFamily());
    loadInputFile(into, inputFile_, clock_.now(), report);
    if (nameFamilies_ == NameFamilies::Both)
        twinDualStackNames(into);
}

std::string pingSemaphoreName(std::int32_t maxInFlight)
{
    return maxInFlight == 6 ? std::string("addresMutexName") : "addresMutexName." + std::to_string(maxInFlight);
}

Network::Network(const RunSettings& settings, const NetworkOptions& options)
    : Region(settings.inputFile, settings.pingInterval, settings.ttl, settings.timeOut, settings.packetSize,
        options.clock->now())
    , clock_(*options.clock)
    , startedAt_(clock_.now())
    , alarm_(settings.slowMilliseconds, settings.lossPercent, settings.windowSize)
{
    inputFile_ = settings.inputFile;
    logFile_ = settings.logFile;
    downFile_ = settings.downFile;
    serialPort_ = settings.serialPort;
    archiveSize_ = settings.archiveSize;
    historyKept_ = settings.metricsPort != 0;
    nameFamilies_ = settings.family;
    setNameFamily(hostFamilyOf(nameFamilies_));
    setWindowSize(settings.windowSize);

    loadHostList(*this, {});
    // Every host's first request falls due one interval after the load.
    const std::int64_t loaded = clock_.monotonicMilliseconds();
    for (std::size_t position = 0; position < hostCount(); ++position) {
        host(position)->setSentAt(loaded);
        if (historyKept_)
            host(position)->keepHistory();
    }

    const std::string& suffix = options.lockNameSuffix;
    maxInFlight_ = settings.maxInFlight;
    pingSemaphore_ = orStartupFailure(
        platform::Semaphore::openNamed(pingSemaphoreName(maxInFlight_) + suffix, maxInFlight_, maxInFlight_),
        "could not create semaphore");
    fileMutex_ = orStartupFailure(platform::Mutex::openNamed(kFileMutexName + suffix), "could not create mutex");
    socketMutex_
        = orStartupFailure(platform::Mutex::openNamed(kSocketMutexName + suffix), "could not create socket mutex");
    vectorMutex_ = orStartupFailure(platform::Mutex::createPrivate(), "could not create vector mutex");

    sockets_ = std::make_unique<IcmpSockets>(getPingTtl(), options.socketKind);
    serialParameters_ = settings.serialParameters;

    engine_.reset(new EngineContext { *this, *vectorMutex_, *pingSemaphore_, inFlight_, namedHosts_, *sockets_, clock_ });
    logWriter_ = std::make_unique<LogWriter>(LogWriterContext { logFile_, downFile_, serialPort_, serialParameters_,
        archiveSize_, *this, *vectorMutex_, *fileMutex_, printList_, clock_ });
}

Network::~Network()
{
    logWriter_.reset();
    engine_.reset();
    destroyHosts();
    sockets_.reset();
    printList_.clear();
}

std::string Network::getSummary() const
{
    SummaryFacts facts;
    {
        // A reload may be replacing the list.
        platform::MutexHold hosts(*vectorMutex_, "vector mutex cannot be released");
        facts.addressCount = hostCount();
        const std::int64_t now = clock_.monotonicMicroseconds();
        std::vector<std::int64_t> medians;
        for (std::size_t position = 0; hosts && position < hostCount(); ++position) {
            const Address& record = *host(position);
            const RoundTripFigures figures = record.getRoundTripFigures(now);
            if (!figures.hasReplies())
                continue;
            medians.push_back(figures.median);
            if (medians.size() == 1 || figures.median > facts.slowestMedian) {
                facts.slowestName = record.getName();
                facts.slowestHostText = record.getHostText();
                facts.slowestMedian = figures.median;
            }
        }
        facts.medianRoundTrip = medianOf(medians);
    }
    facts.ttl = getPingTtl();
    facts.timeOut = getTimeOut();
    facts.interval = getInterval();
    facts.inputFile = inputFile_;
    facts.logFile = logFile_;
    facts.downFile = downFile_;
    facts.archiveSize = archiveSize_;
    facts.statusTime = getStatusTime();
    facts.redCount = getRedCount();
    facts.yellowCount = getYellowCount();
    facts.greenCount = getGreenCount();
    facts.overdueCount = getOverdueCount();
    if (const PathWatchThread* paths = pathWatch()) {
        const OwnLink link = paths->ownLink();
        if (!link.up)
            facts.outageLines.push_back(ownLinkText(link));
        for (const OutageGroup& group : paths->groups())
            facts.outageLines.push_back(outageGroupText(group));
    }
    return formatSummary(facts);
}

}  // namespace bv
