#include "ping/receiver.h"

#include "ping/icmp_message.h"
#include "ping/icmp_socket.h"
#include "ping/packet_buffer.h"
#include "platform/diagnostics.h"
#include "platform/name_lookup.h"
#include "run/network.h"
#include "shell/desktop.h"

namespace bv {

namespace {

constexpr int kReceiveBufferSize = 65536;

}  // namespace

int applyReply(const std::string& key, Network& network, const ReplyInfo& reply, int& countsOwed)
{
    Address* host = network.findHost(key);
    if (!host)
        return -1;
    if (host->getPingState() != PingState::AwaitingReply)
        return 0;
    const std::int32_t ok = reply.errorText.empty() ? 1 : 0;
    if (!ok)
        platform::traceLine("R:TTL expired");
    else
        host->countReplyMatched();
    host->setPingState(host->recordResult(PingResult { reply.address, reply.errorText, ok }));
    ++countsOwed;
    return 0;
}

void releaseOwedCounts(Network& network, int& countsOwed)
{
    for (; countsOwed > 0; --countsOwed) {
        if (network.pingSemaphore().release())
            platform::traceLine("freed a semaphore");
        else
            platform::errorLine("semaphore cannot be released");
    }
}

int applyReply(const std::string& key, Network& network, const ReplyInfo& reply)
{
    int countsOwed = 0;
    const int result = applyReply(key, network, reply, countsOwed);
    releaseOwedCounts(network, countsOwed);
    return result;
}

namespace {

// Replies that are already waiting on the socket when one is applied are
// applied under the same hold of vectorMutex, at most this many more. The
// echo sender holds the lock for nearly all of its send loop, so taking it
// once per reply meant a sleep and a wake-up of both threads per reply.
constexpr int kRepliesPerHold = 32;

// Reads one datagram and forms its key; false when there is nothing to
// apply (the error note or trace is written).
bool readReply(platform::SocketHandle socket, std::uint8_t* buffer, std::uint16_t identifier, ReplyInfo& reply,
    std::string& key)
{
    platform::traceLine(" r: socket readable");
    platform::traceLine(" r: have sock mut");
    SocketAddress sender;
    const int count = receiveMessage(socket, sender, buffer, kReceiveBufferSize);
    if (count < 0) {
        platform::errorLine("r:isSocketReadable fails");
        return false;
    }
    platform::traceLine(" rd: have ping");
    std::uint16_t sequence = 0;
    if (!readSequence(buffer, count, sequence)) {
        decodeReply(buffer, count, sender, reply, identifier);  // writes the note on the short datagram
        return false;
    }
    if (sequence != 0) {
        platform::errorLine("bad sequence number!");
        return false;
    }
    if (decodeReply(buffer, count, sender, reply, identifier) != 0)
        return false;
    platform::traceLine(" r: reply decoded");

    key = platform::dottedQuad(sender.address);
    if (!reply.errorText.empty()) {
        platform::Ipv4Address quoted = 0;
        if (!readQuotedDestination(buffer, count, quoted)) {
            platform::errorLine("too few bytes from " + key);
            return false;
        }
        key = platform::dottedQuad(quoted);
    }
    return true;
}

// Called with vectorMutex held.
void applyWithLookUp(const std::string& key, Network& network, const ReplyInfo& reply, int& countsOwed)
{
    if (applyReply(key, network, reply, countsOwed) == -1 && network.getHasNamedHosts()) {
        if (const auto officialName = platform::lookUpAddress(platform::parseIpv4(key)); !officialName.is_error())
            applyReply(officialName.value(), network, reply, countsOwed);
    }
}

}  // namespace

int receiverThread(Network& network)
{
    const platform::SocketHandle socket = network.socket().handle();
    PacketBuffer buffer;
    if (allocateBuffer(buffer, kReceiveBufferSize) != 0) {
        platform::errorLine("unable to allocate buffers");
        return 0;
    }
    // A negative setting would be an endless wait, and exit never noticed.
    const unsigned waitMilliseconds = network.getTimeOut() > 0 ? static_cast<unsigned>(network.getTimeOut()) : 0u;
    const std::uint16_t identifier = ownEchoIdentifier();
    ReplyInfo reply;
    std::string key;

    while (!exitRequested.load()) {
        reply.errorText.clear();
        int readable = 0;
        if (waitReadable(socket, waitMilliseconds, readable) != 1) {
            // Without a usable socket the wait fails at once; pausing keeps
            // this loop from spinning a processor.
            network.clock().sleepMilliseconds(waitMilliseconds > 0 ? waitMilliseconds : 100);
            continue;
        }
        if (!readable)
            continue;
        if (!readReply(socket, buffer.get(), identifier, reply, key))
            continue;

        if (network.vectorMutex().wait() != platform::WaitResult::Signalled) {
            platform::errorLine("could not acquire vector mutex");
            continue;
        }
        // The counts go back after the lock: a sender woken by the first of
        // them would otherwise only wake to wait for the lock.
        int countsOwed = 0;
        applyWithLookUp(key, network, reply, countsOwed);
        for (int more = 0; more < kRepliesPerHold; ++more) {
            reply.errorText.clear();
            if (waitReadable(socket, 0, readable) != 1 || !readable)
                break;
            if (readReply(socket, buffer.get(), identifier, reply, key))
                applyWithLookUp(key, network, reply, countsOwed);
        }
        if (!network.vectorMutex().release())
            platform::errorLine("mutex cannot be released");
        releaseOwedCounts(network, countsOwed);
    }
    return 0;
}

}  // namespace bv
