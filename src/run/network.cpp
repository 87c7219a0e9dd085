#include "run/network.h"

#include "core/input_file.h"
#include "core/startup_failure.h"
#include "core/summary.h"
#include "platform/lock_hold.h"

namespace bv {

namespace {

template<typename T>
std::unique_ptr<T> orNull(platform::ErrorOr<std::unique_ptr<T>> made)
{
    return made.is_error() ? nullptr : made.release_value();
}

}  // namespace

std::string pingSemaphoreName(std::int32_t maxInFlight)
{
    return maxInFlight == 6 ? std::string("addresMutexName") : "addresMutexName." + std::to_string(maxInFlight);
}

Network::Network(const RunSettings& settings, const NetworkOptions& options)
    : Region(settings.inputFile, settings.pingInterval, settings.ttl, settings.timeOut, settings.packetSize,
        options.clock->now())
    , clock_(*options.clock)
{
    inputFile_ = settings.inputFile;
    logFile_ = settings.logFile;
    downFile_ = settings.downFile;
    serialPort_ = settings.serialPort;
    archiveSize_ = settings.archiveSize;

    loadInputFile(*this, inputFile_, clock_.now());
    // Every host's first request falls due one interval after the load.
    const std::int64_t loaded = clock_.monotonicMilliseconds();
    for (std::size_t position = 0; position < hostCount(); ++position)
        host(position)->setSentAt(loaded);

    const std::string& suffix = options.lockNameSuffix;
    maxInFlight_ = settings.maxInFlight;
    pingSemaphore_
        = orNull(platform::Semaphore::openNamed(pingSemaphoreName(maxInFlight_) + suffix, maxInFlight_, maxInFlight_));
    if (!pingSemaphore_)
        throw StartupFailure("could not create semaphore");
    fileMutex_ = orNull(platform::Mutex::openNamed(kFileMutexName + suffix));
    if (!fileMutex_)
        throw StartupFailure("could not create mutex");
    socketMutex_ = orNull(platform::Mutex::openNamed(kSocketMutexName + suffix));
    if (!socketMutex_)
        throw StartupFailure("could not create socket mutex");
    vectorMutex_ = orNull(platform::Mutex::createPrivate());
    if (!vectorMutex_)
        throw StartupFailure("could not create vector mutex");

    socket_ = options.socketKind ? std::make_unique<IcmpSocket>(getPingTtl(), *options.socketKind)
                                 : std::make_unique<IcmpSocket>(getPingTtl());
    serialParameters_ = settings.serialParameters;

    engine_.reset(new EngineContext { *this, *vectorMutex_, *pingSemaphore_, inFlight_, namedHosts_, *socket_, clock_ });
    logWriter_ = std::make_unique<LogWriter>(LogWriterContext { logFile_, downFile_, serialPort_, serialParameters_,
        archiveSize_, *this, *vectorMutex_, *fileMutex_, printList_, clock_ });
}

Network::~Network()
{
    logWriter_.reset();
    engine_.reset();
    destroyHosts();
    socket_.reset();
    printList_.clear();
}

std::string Network::getSummary() const
{
    SummaryFacts facts;
    {
        // A reload may be replacing the list.
        platform::MutexHold hosts(*vectorMutex_, "vector mutex cannot be released");
        facts.addressCount = hostCount();
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
    return formatSummary(facts);
}

}  // namespace bv
