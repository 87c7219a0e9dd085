#include "ping/receiver.h"

#include "core/monitor_events.h"
#include "ping/engine_context.h"
#include "ping/icmp_message.h"
#include "ping/icmp_socket.h"
#include "platform/raw_socket.h"
#include "ping/packet_buffer.h"
#include "ping/round_trip_timing.h"
#include "platform/diagnostics.h"
#include "platform/lock_hold.h"

#include <algorithm>

namespace bv {

namespace {

constexpr int kReceiveBufferSize = 65536;

}  // namespace

namespace {

// The host a message about `about` answers: the one listed with that
// address, or a named host whose name the sender resolved to it; among
// several awaiting a reply, the one that has waited longest.
Address* answeredHost(const platform::IpAddress& about, EngineContext& engine)
{
    Address* listed = engine.hosts.findHost(about);
    if (!engine.hosts.getHasNamedHosts())
        return listed;
    Address* chosen = listed && listed->getPingState() == PingState::AwaitingReply ? listed : nullptr;
    for (Address* named : engine.namedHosts.at(about)) {
        if (named->getPingState() == PingState::AwaitingReply && (!chosen || named->getSentAt() < chosen->getSentAt()))
            chosen = named;
    }
    return chosen ? chosen : listed;
}

// A reply counts for its own request in the window, however late it came.
void recordRoundTrip(Address& host, const ReplyInfo& reply)
{
    RoundTripWindow* window = host.roundTripsIfAny();
    const auto sent = window ? window->unanswered(reply.sequence) : std::nullopt;
    if (!sent)
        return;
    const RoundTrip roundTrip = roundTripOf(*sent, reply.kernelArrival, reply.receivedAt);
    window->replyCame(reply.sequence, roundTrip.microseconds);
    if (platform::traceWanted())
        platform::traceLine("rtt " + platform::addressText(reply.address) + " icmp_seq " + std::to_string(reply.sequence)
            + " " + std::to_string(roundTrip.microseconds) + " us " + (roundTrip.byKernel ? "kernel" : "program")
            + " clock, " + host.getName());
}

}  // namespace

ReplyMatch applyReply(
    const platform::IpAddress& about, EngineContext& engine, const ReplyInfo& reply, int& countsOwed)
{
    Address* host = answeredHost(about, engine);
    if (!host)
        return ReplyMatch::NoSuchHost;
    if (reply.errorText.empty())
        recordRoundTrip(*host, reply);
    // A late reply, or an error about an earlier request, leaves the latest
    // request waiting for its own answer.
    if (host->getPingState() != PingState::AwaitingReply || reply.sequence != host->getAwaitedSequence())
        return ReplyMatch::Applied;
    const std::int32_t ok = reply.errorText.empty() ? 1 : 0;
    if (!ok)
        platform::traceLine("R:TTL expired");
    else
        host->countReplyMatched();
    host->setPingState(host->recordResult(PingResult { reply.address, reply.errorText, ok }));
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

// Replies that are already waiting on the socket when one is applied are
// applied under the same hold of vectorMutex, at most this many more. The
// echo sender holds the lock for nearly all of its send loop, so taking it
// once per reply meant a sleep and a wake-up of both threads per reply.
constexpr int kRepliesPerHold = 32;

constexpr std::int64_t kLongestReceiveWait = 250;

// Reads one datagram and decodes it; false when there is nothing to apply
// (the error note or trace is written).
bool readReply(const platform::IcmpEndpoint& socket, std::uint8_t* buffer, std::uint16_t identifier, ReplyInfo& reply,
    platform::Clock& clock)
{
    platform::traceLine(" r: socket readable");
    platform::traceLine(" r: have sock mut");
    MessageSource sender;
    const int count = receiveMessage(socket, sender, buffer, kReceiveBufferSize);
    const std::int64_t receivedAt = clock.monotonicMicroseconds();
    if (count < 0) {
        platform::errorLine("r:isSocketReadable fails");
        return false;
    }
    platform::traceLine(" rd: have ping");
    if (decodeReply(buffer, count, sender, reply, identifier) != DecodeResult::Usable)
        return false;
    reply.kernelArrival = sender.kernelArrival;
    reply.receivedAt = receivedAt;
    platform::traceLine(" r: reply decoded");
    return true;
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
    PacketBuffer buffer;
    if (!allocateBuffer(buffer, kReceiveBufferSize)) {
        platform::errorLine("unable to allocate buffers");
        return 0;
    }
    // The receive wait, which is also how long a request keeps its count.
    const std::int64_t receiveWait = std::max(engine.hosts.getTimeOut(), std::int32_t(1));
    std::int64_t nextExpiry = -1;
    const std::uint16_t identifier = opened->echoIdentifier();
    ReplyInfo reply;

    while (!exitRequested.load()) {
        reply.errorText.clear();
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
        const bool haveReply = readable && readReply(socket, buffer.get(), identifier, reply, engine.clock);

        // The counts go back after the lock: a sender woken by the first of
        // them would otherwise only wake to wait for the lock.
        int countsOwed = 0;
        {
            platform::MutexHold hosts(engine.vectorMutex, "mutex cannot be released");
            if (!hosts) {
                platform::errorLine("could not acquire vector mutex");
                continue;
            }
            if (haveReply) {
                applyReply(reply.about, engine, reply, countsOwed);
                for (int extra = 0; extra < kRepliesPerHold; ++extra) {
                    reply.errorText.clear();
                    const auto more = platform::waitForReadable(socket, 0);
                    if (more.is_error() || !more.value())
                        break;
                    if (readReply(socket, buffer.get(), identifier, reply, engine.clock))
                        applyReply(reply.about, engine, reply, countsOwed);
                }
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
