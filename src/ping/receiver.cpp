#include "ping/receiver.h"

#include "core/monitor_events.h"
#include "ping/engine_context.h"
#include "ping/icmp_message.h"
#include "ping/icmp_socket.h"
#include "platform/raw_socket.h"
#include "ping/round_trip_timing.h"
#include "platform/diagnostics.h"
#include "platform/lock_hold.h"

#include <algorithm>
#include <memory>
#include <new>

namespace bv {

namespace {

bool awaits(const Address& host, std::uint16_t sequence)
{
    return host.getPingState() == PingState::AwaitingReply && host.getAwaitedSequence() == sequence;
}

// The host a message about `about` answers: the one listed with that
// address, or a named host whose name the sender resolved to it; among
// several awaiting a reply with its sequence number, the one that has
// waited longest.
Address* answeredHost(const platform::IpAddress& about, std::uint16_t sequence, EngineContext& engine)
{
    Address* listed = engine.hosts.findHost(about);
    if (!engine.hosts.getHasNamedHosts())
        return listed;
    Address* chosen = listed && awaits(*listed, sequence) ? listed : nullptr;
    for (Address* named : engine.namedHosts.at(about)) {
        if (awaits(*named, sequence) && (!chosen || named->getSentAt() < chosen->getSentAt()))
            chosen = named;
    }
    return chosen ? chosen : listed;
}

// A reply counts for its own request in the window, however late it came.
// Its round trip, when it was one of the window's requests.
std::optional<std::int64_t> recordRoundTrip(Address& host, const ReplyInfo& reply)
{
    RoundTripWindow* window = host.roundTripsIfAny();
    const auto sent = window ? window->unanswered(reply.sequence) : std::nullopt;
    if (!sent)
        return std::nullopt;
    const RoundTrip roundTrip = roundTripOf(*sent, reply.kernelArrival, reply.receivedAt);
    if (!window->replyCame(reply.sequence, roundTrip.microseconds))
        return std::nullopt;
    host.roundTripHistogram().record(roundTrip.microseconds);
    if (platform::traceWanted())
        platform::traceLine("rtt " + platform::addressText(reply.address) + " icmp_seq " + std::to_string(reply.sequence)
            + " " + std::to_string(roundTrip.microseconds) + " us " + (roundTrip.byKernel ? "kernel" : "program")
            + " clock, " + host.getName());
    return roundTrip.microseconds;
}

}  // namespace

ReplyMatch applyReply(
    const platform::IpAddress& about, EngineContext& engine, const ReplyInfo& reply, int& countsOwed)
{
    Address* host = answeredHost(about, reply.sequence, engine);
    if (!host)
        return ReplyMatch::NoSuchHost;
    const std::optional<std::int64_t> roundTrip
        = reply.errorText.empty() ? recordRoundTrip(*host, reply) : std::nullopt;
    // A late reply, or an error about an earlier request, leaves the latest
    // request waiting for its own answer.
    if (!awaits(*host, reply.sequence))
        return ReplyMatch::Applied;
    const std::int32_t ok = reply.errorText.empty() ? 1 : 0;
    if (!ok)
        platform::traceLine("R:TTL expired");
    else {
        host->countReplyMatched();
        host->setReplied(reply.address, reply.timeToLive);
    }
    host->setPingState(host->recordResult(PingResult { reply.address, reply.errorText, ok, roundTrip.value_or(-1) }));
    // A late reply finds the count given back already.
    if (takeBackCount(*host))
        ++countsOwed;
    return ReplyMatch::Applied;
}

void releaseOwedCounts(EngineContext& engine, int& countsOwed)
{
    for (; countsOwed > 0; --countsOwed) {
        if (engine.pingSemaphore.release())
            platform::traceLine("freed a semaphore");
        else
            platform::errorLine("semaphore cannot be released");
    }
}

ReplyMatch applyReply(const platform::IpAddress& about, EngineContext& engine, const ReplyInfo& reply)
{
    int countsOwed = 0;
    const ReplyMatch result = applyReply(about, engine, reply, countsOwed);
    releaseOwedCounts(engine, countsOwed);
    return result;
}

namespace {

// The replies waiting on the socket are read in batches and applied under
// one hold of vectorMutex, at most this many batches. The echo sender holds
// the lock for nearly all of its send loop, so taking it once per reply
// meant a sleep and a wake-up of both threads per reply.
constexpr int kBatchesPerHold = 2;

constexpr std::int64_t kLongestReceiveWait = 250;

// Decodes one datagram of a batch; false when there is nothing to apply
// (the error note or trace is written).
bool decodeDatagram(const platform::DatagramBatch& batch, std::size_t index, std::uint16_t identifier,
    std::int64_t receivedAt, ReplyInfo& reply)
{
    platform::traceLine(" r: socket readable");
    platform::traceLine(" r: have sock mut");
    if (batch.cut[index]) {
        platform::errorLine("read failed: buffer too small");
        platform::errorLine("r:isSocketReadable fails");
        return false;
    }
    const platform::ReceivedDatagram& datagram = batch.received[index];
    const MessageSource sender { datagram.sender, datagram.hopLimit, datagram.kernelArrivalMicroseconds };
    platform::traceLine(" rd: have ping");
    reply.errorText.clear();
    if (decodeReply(batch.storage.data() + index * platform::DatagramBatch::kSlotSize,
            static_cast<int>(datagram.size), sender, reply, identifier)
        != DecodeResult::Usable)
        return false;
    reply.kernelArrival = sender.kernelArrival;
    reply.receivedAt = receivedAt;
    platform::traceLine(" r: reply decoded");
    return true;
}

struct BatchRead {
    std::size_t count = 0;
    std::int64_t receivedAt = 0;  // the program's clock just after the read
};

// What waits on the socket, read at once; nothing when the read failed
// (the error note is written).
BatchRead readBatch(EngineContext& engine, const platform::IcmpEndpoint& socket, platform::DatagramBatch& batch)
{
    const auto received = platform::receiveWaitingDatagrams(socket, batch);
    const std::int64_t receivedAt = engine.clock.monotonicMicroseconds();
    if (received.is_error()) {
        platform::errorLine("read failed: error #" + std::to_string(received.error().code()));
        platform::errorLine("r:isSocketReadable fails");
        return {};
    }
    return { received.value(), receivedAt };
}

void applyBatch(EngineContext& engine, const platform::DatagramBatch& batch, const BatchRead& read,
    std::uint16_t identifier, int& countsOwed)
{
    ReplyInfo reply;
    for (std::size_t index = 0; index < read.count; ++index) {
        if (decodeDatagram(batch, index, identifier, read.receivedAt, reply))
            applyReply(reply.about, engine, reply, countsOwed);
    }
}

}  // namespace

int receiverThread(EngineContext& engine, platform::AddressFamily family)
{
    // The IPv6 socket opens with the first IPv6 request; its replies wait on
    // it meanwhile, so a look once a second is soon enough.
    IcmpSocket* opened = nullptr;
    while (!(opened = engine.sockets.opened(family)) && !exitRequested.load())
        exitRequested.wakeup().waitMilliseconds(1000);
    if (!opened)
        return 0;
    const platform::IcmpEndpoint& socket = opened->endpoint();
    std::unique_ptr<platform::DatagramBatch> batch(new (std::nothrow) platform::DatagramBatch);
    if (!batch) {
        platform::errorLine("unable to allocate buffers");
        return 0;
    }
    // The receive wait, which is also how long a request keeps its count.
    const std::int64_t receiveWait = std::max(engine.hosts.getTimeOut(), std::int32_t(1));
    std::int64_t nextExpiry = -1;
    const std::uint16_t identifier = opened->echoIdentifier();

    while (!exitRequested.load()) {
        // Short enough to see the exit and the next count to take back in time.
        std::int64_t wait = std::min(receiveWait, kLongestReceiveWait);
        if (nextExpiry >= 0 && nextExpiry < wait)
            wait = nextExpiry;
        const auto waited = platform::waitForReadable(socket, static_cast<unsigned>(wait));
        if (waited.is_error()) {
            // Without a usable socket the wait fails at once; pausing keeps
            // this loop from spinning a processor.
            engine.clock.pauseMilliseconds(std::max<std::int64_t>(wait, 100), exitRequested.wakeup());
        }
        const bool readable = !waited.is_error() && waited.value();
        // Read before the lock is waited for, so that the program's own
        // clock, where the kernel gives no stamp, times the reply alone.
        BatchRead first = readable ? readBatch(engine, socket, *batch) : BatchRead {};

        // The counts go back after the lock: a sender woken by the first of
        // them would otherwise only wake to wait for the lock.
        int countsOwed = 0;
        {
            platform::MutexHold hosts(engine.vectorMutex, "mutex cannot be released");
            if (!hosts) {
                platform::errorLine("could not acquire vector mutex");
                continue;
            }
            for (int round = 1; first.count > 0; ++round) {
                applyBatch(engine, *batch, first, identifier, countsOwed);
                // What is left waits for the next turn.
                if (first.count < platform::DatagramBatch::kSlots || round == kBatchesPerHold)
                    break;
                first = readBatch(engine, socket, *batch);
            }
            const std::int64_t now = engine.clock.monotonicMilliseconds();
            countsOwed += engine.inFlight.expire(now, receiveWait);
            nextExpiry = engine.inFlight.untilNextExpiry(now, receiveWait);
        }
        releaseOwedCounts(engine, countsOwed);
    }
    return 0;
}

}  // namespace bv
