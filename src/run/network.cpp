#include "run/network.h"

#include "core/input_file.h"
#include "core/startup_failure.h"
#include "core/summary.h"
#include "run/current_network.h"

namespace bv {

namespace {

template<typename T>
std::unique_ptr<T> orNull(platform::ErrorOr<std::unique_ptr<T>> made)
{
    return made.is_error() ? nullptr : made.release_value();
}

}  // namespace

Network::Network(const RunSettings& settings, const NetworkOptions& options)
    : Region(settings.inputFile, settings.pingInterval, settings.ttl, settings.timeOut, settings.packetSize,
        options.clock->now())
    , clock_(*options.clock)
{
    setCurrentNetwork(this);
    try {
        inputFile_ = settings.inputFile;
        logFile_ = settings.logFile;
        downFile_ = settings.downFile;
        serialPort_ = settings.serialPort;
        archiveSize_ = settings.archiveSize;

        loadInputFile(*this, inputFile_, clock_.now());

        const std::string& suffix = options.lockNameSuffix;
        pingSemaphore_ = orNull(platform::Semaphore::openNamed("addresMutexName" + suffix, 6, 6));
        if (!pingSemaphore_)
            throw StartupFailure("could not create semaphore");
        fileMutex_ = orNull(platform::Mutex::openNamed("fileMutexName" + suffix));
        if (!fileMutex_)
            throw StartupFailure("could not create mutex");
        socketMutex_ = orNull(platform::Mutex::openNamed("socketMutexName" + suffix));
        if (!socketMutex_)
            throw StartupFailure("could not create socket mutex");
        vectorMutex_ = orNull(platform::Mutex::createPrivate());
        if (!vectorMutex_)
            throw StartupFailure("could not create vector mutex");

        socket_ = std::make_unique<IcmpSocket>(getPingTtl());
        serialParameters_ = settings.serialParameters;
    } catch (...) {
        setCurrentNetwork(nullptr);
        throw;
    }
}

Network::~Network()
{
    setCurrentNetwork(nullptr);
    destroyHosts();
    socket_.reset();
    serial_.close();
    printList_.clear();
}

std::string Network::getSummary() const
{
    SummaryFacts facts;
    facts.addressCount = hostCount();
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
    return formatSummary(facts);
}

}  // namespace bv
