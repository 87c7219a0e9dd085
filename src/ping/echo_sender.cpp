#include "ping/echo_sender.h"

#include "core/monitor_events.h"
#include "ping/engine_context.h"
#include "ping/icmp_message.h"
#include "ping/packet_buffer.h"
#include "platform/diagnostics.h"
#include "platform/lock_hold.h"

#include <algorithm>
#include <optional>
#include <vector>

namespace bv {

int clampPacketSize(int packetSize)
{
    const unsigned size = static_cast<unsigned>(packetSize);
    if (size > 1024u)
        return 1024;
    if (size < 8u)
        return 8;
    return static_cast<int>(size);
}

SendResult sendPrimingEcho(IcmpSocket& socket)
{
    PacketBuffer buffer;
    if (!allocateBuffer(buffer, 44)) {
        platform::errorLine("could not allocate buffers");
        return SendResult::Failed;
    }
    const auto destination = platform::IpAddress::fromIpv4(platform::parseIpv4("127.0.0.1"));
    fillEchoRequest(buffer.get(), 44, 0, echoIdentifierOf(socket.endpoint()));
    const SendResult sent = sendEcho(socket.endpoint(), destination, buffer.get(), 44);
    if (sent != SendResult::Failed)
        (void)socket.takeSendStamp();
    return sent;
}

std::uint16_t startRequest(EngineContext& engine, Address& host)
{
    host.setLastSendTime(engine.clock.now());
    host.setSentAt(engine.clock.monotonicMilliseconds());
    host.setPingState(PingState::AwaitingReply);
    engine.inFlight.add(host);
    // Each request its own sequence number, so that a late reply is told
    // from the answer to the request after it. One that cannot be sent
    // counts as lost.
    const std::uint16_t sequence = host.takeSequence();
    host.roundTrips(engine.hosts.getWindowSize())
        .requestSent(sequence, RoundTripWindow::SendMoment { engine.clock.monotonicMicroseconds(), std::nullopt });
    return sequence;
}

namespace {

// The sender looks again at least this often, for hosts that were busy
// when they fell due; and at most this often, so a list of thousands is
// not walked for every host that falls due.
constexpr std::int64_t kLongestSenderPause = 250;
constexpr std::int64_t kShortestSenderPause = 20;

}  // namespace

namespace {

enum class SendOutcome { Sent, NoCount, Stop };

// Each family's socket and identifier, asked for once: for a raw socket the
// identifier is a system call, and the IPv6 socket opens with its first use.
class SenderSockets {
public:
    explicit SenderSockets(IcmpSockets& sockets)
        : all_(sockets)
    {
    }
    IcmpSocket* socket(platform::AddressFamily family)
    {
        const std::size_t index = family == platform::AddressFamily::V6 ? 1 : 0;
        if (!asked_[index]) {
            asked_[index] = true;
            chosen_[index] = all_.forSending(family);
            identifiers_[index] = chosen_[index] ? chosen_[index]->echoIdentifier() : 0;
        }
        return chosen_[index];
    }
    std::uint16_t identifier(platform::AddressFamily family) const
    {
        return identifiers_[family == platform::AddressFamily::V6 ? 1 : 0];
    }

private:
    IcmpSockets& all_;
    IcmpSocket* chosen_[2] = {};
    std::uint16_t identifiers_[2] = {};
    bool asked_[2] = {};
};

// One request to one due host. Without `waitForCount` a host gives way when
// no count is free, so that the others are not held up behind it.
SendOutcome sendRequest(
    EngineContext& engine, Address& host, bool waitForCount, std::uint8_t* buffer, int size, SenderSockets& sockets)
{
    platform::Clock& clock = engine.clock;
    // Looked up before any lock is taken: a slow name server holds up this
    // thread alone, never the receiver or the sweep.
    const auto resolved = resolveHost(host.getHostText(), host.getNumericAddress(), host.getFamily());
    IcmpSocket* socket = resolved.is_error() ? nullptr : sockets.socket(resolved.value().family);

    platform::traceLine("w:waiting semMutex");
    std::optional<platform::CountHold> count = waitForCount
        ? std::optional<platform::CountHold>(std::in_place, engine.pingSemaphore, "semaphore cannot be released")
        : platform::CountHold::tryTake(engine.pingSemaphore, "semaphore cannot be released");
    if (!count)
        return SendOutcome::NoCount;
    platform::traceLine("w: waiting for vect mutex");
    platform::MutexHold locked(engine.vectorMutex, "mutex cannot be released");
    platform::traceLine("w: got vect mutex");
    if (locked && engine.hosts.findHost(host.getKey()) != &host)
        return SendOutcome::Sent;  // it left the list since the pass began
    if (!*count || !locked) {
        platform::traceLine("w: unable to acqire semaphore");
        return SendOutcome::Sent;
    }
    platform::traceLine("w:got semMutex");
    if (exitRequested.load())
        return SendOutcome::Stop;  // the count may be one the sweep gave back for the exit

    if (resolved.is_error() || !socket) {
        // Stamped so that the host waits its interval before the next try
        // instead of being looked up again at once, over and over.
        host.setLastSendTime(clock.now());
        host.setSentAt(clock.monotonicMilliseconds());
        const char* why = resolved.is_error() ? "Could not set up for ping" : IcmpSockets::kNoIpv6SocketText;
        host.setPingState(host.recordResult(PingResult { {}, why, 0 }));
        count->release();
        locked.release();
        platform::traceLine("could not setup for ping");
        return SendOutcome::Sent;
    }
    const platform::IpAddress& destination = resolved.value();
    if (!host.getNumericAddress())
        engine.namedHosts.place(host, destination);
    platform::traceLine("w: waiting for socket mutex");
    platform::traceLine("w: got socket mutex");
    const std::uint16_t sequence = startRequest(engine, host);
    fillEchoRequest(buffer, size, sequence, sockets.identifier(destination.family), destination.family);
    if (sendEcho(socket->endpoint(), destination, buffer, size) == SendResult::Failed) {
        platform::errorLine("pinging failed");
        platform::traceLine("w:send failed");
        takeBackCount(host);
        host.setPingState(host.recordResult(PingResult { {}, "unable to send ping: 0 bytes sent", 0 }));
        count->release("w:semaphore cannot be released");
        platform::traceLine("w: released ping sem");
    } else {
        host.countRequestSent();
        if (const auto stamp = socket->takeSendStamp())
            host.roundTrips(engine.hosts.getWindowSize()).stampSend(sequence, *stamp);
        count->keep();  // the request holds it until it is answered or failed
        platform::traceLine("w:send successful");
    }
    locked.release("w:mutex cannot be released");
    platform::traceLine("w: released vector mutex");
    return SendOutcome::Sent;
}

}  // namespace

int echoSenderThread(EngineContext& engine)
{
    Region& hosts = engine.hosts;
    const int size = clampPacketSize(hosts.getPacketSize());
    PacketBuffer buffer;
    if (!allocateBuffer(buffer, static_cast<std::size_t>(size))) {
        platform::errorLine("could not allocate buffers");
        return 1;
    }
    SenderSockets sockets(engine.sockets);
    platform::Clock& clock = engine.clock;

    std::int64_t lastTracedPass = 0;
    bool tracedAPass = false;
    // Due hosts of one pass: those that answered their latest request first,
    // as they give their counts straight back; then the others, yellow before
    // red and the longest due first, each only while a count is free. Many
    // silent hosts then slow down one another more than the hosts that answer.
    std::vector<Address*> answering;
    std::vector<Address*> others;
    while (!exitRequested.load()) {
        const std::int64_t passStart = clock.monotonicMilliseconds();
        std::int64_t shortestWait = hosts.getInterval();
        // The passes come often; the lines for hosts not yet due, once a second.
        const bool traceHosts = platform::traceWanted() && (!tracedAPass || passStart - lastTracedPass >= 1000);
        if (traceHosts) {
            tracedAPass = true;
            lastTracedPass = passStart;
        }

        answering.clear();
        others.clear();
        // Under the lock, as a reload may replace the list meanwhile.
        platform::MutexHold listed(engine.vectorMutex, "mutex cannot be released");
        engine.senderPasses.fetch_add(1);
        for (std::size_t position = 0; listed && position < hosts.hostCount(); ++position) {
            Address& host = *hosts.host(position);
            if (host.getPingState() != PingState::Idle)
                continue;
            const std::int64_t elapsed = passStart - host.getSentAt();
            const std::int64_t interval = host.getInterval();
            if (traceHosts || (elapsed >= interval && platform::traceWanted()))
                platform::traceLine("w: diff=" + std::to_string(elapsed) + " time to wait = " + std::to_string(interval));
            if (elapsed < interval) {
                if (interval - elapsed < shortestWait)
                    shortestWait = interval - elapsed;
                if (traceHosts)
                    platform::traceLine(
                        "w: can't go time diff" + std::to_string(elapsed) + "<" + std::to_string(interval));
                continue;
            }
            shortestWait = 0;
            (host.getStatus() == HostStatus::Green ? answering : others).push_back(&host);
        }
        listed.release("mutex cannot be released");
        // A yellow host decides whether an outage is logged: it goes before
        // the red ones, which are known to be down.
        std::stable_sort(others.begin(), others.end(), [](const Address* one, const Address* other) {
            const bool oneYellow = one->getStatus() == HostStatus::Yellow;
            const bool otherYellow = other->getStatus() == HostStatus::Yellow;
            return oneYellow != otherYellow ? oneYellow : one->getSentAt() < other->getSentAt();
        });

        bool countsRanOut = false;
        bool stop = false;
        for (Address* host : answering) {
            if (sendRequest(engine, *host, true, buffer.get(), size, sockets) == SendOutcome::Stop) {
                stop = true;
                break;
            }
        }
        for (std::size_t next = 0; !stop && next < others.size(); ++next) {
            const SendOutcome outcome = sendRequest(engine, *others[next], false, buffer.get(), size, sockets);
            stop = outcome == SendOutcome::Stop;
            countsRanOut = outcome == SendOutcome::NoCount;
            if (countsRanOut)
                break;
        }
        if (stop)
            break;

        const std::int64_t passTime = clock.monotonicMilliseconds() - passStart;
        if (traceHosts)
            platform::traceLine("w: took " + std::to_string(passTime) + " ms to go through list");
        // Hosts left waiting for a count look again soon.
        const std::int64_t sleep = countsRanOut ? kShortestSenderPause : shortestWait - passTime;
        if (sleep > 0) {
            if (traceHosts)
                platform::traceLine("w sleeping for:" + std::to_string(sleep) + ":" + std::to_string(shortestWait) + "-"
                    + std::to_string(passTime));
            clock.pauseMilliseconds(std::clamp(sleep, kShortestSenderPause, kLongestSenderPause), exitRequested.wakeup());
        }
    }
    return 0;
}

}  // namespace bv
