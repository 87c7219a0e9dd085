#include "ping/path_prober.h"

#include "ping/icmp_message.h"

namespace bv {

namespace {

constexpr int kProbeSize = 44;

}  // namespace

PathProber::~PathProber()
{
    for (Family& family : families_)
        if (family.endpoint.valid())
            platform::closeSocket(family.endpoint);
}

PathProber::Family* PathProber::open(platform::AddressFamily wanted)
{
    Family& family = families_[wanted == platform::AddressFamily::V6 ? 1 : 0];
    if (!family.tried) {
        family.tried = true;
        auto opened = platform::openIcmpEndpoint(wanted);
        if (opened.is_error())
            return nullptr;
        family.endpoint = opened.release_value();
        // A raw socket sends the identifier it is given: the complement of
        // the hosts' requests' one. The other kinds have the system's own.
        family.identifier = family.endpoint.kind == platform::IcmpSocketKind::Raw
            ? static_cast<std::uint16_t>(~ownEchoIdentifier())
            : family.endpoint.identifier;
    }
    return family.endpoint.valid() ? &family : nullptr;
}

bool PathProber::send(const platform::IpAddress& destination, int hopLimit, std::uint16_t sequence)
{
    Family* family = open(destination.family);
    if (!family)
        return false;
    if (family->hopLimit != hopLimit) {
        if (platform::setTimeToLive(family->endpoint, hopLimit).is_error())
            return false;
        family->hopLimit = hopLimit;
    }
    std::uint8_t request[kProbeSize] {};
    fillEchoRequest(request, kProbeSize, sequence, family->identifier, destination.family);
    return !platform::sendDatagram(family->endpoint, request, kProbeSize, destination).is_error();
}

void PathProber::read(Family& family, std::vector<Answer>& answers)
{
    platform::DatagramBatch batch;
    // A raw socket sees every ICMP message of the system: a bounded read.
    for (int rounds = 0; rounds < 8; ++rounds) {
        const auto count = platform::receiveWaitingDatagrams(family.endpoint, batch);
        if (count.is_error() || count.value() == 0)
            return;
        for (std::size_t at = 0; at < count.value(); ++at) {
            if (batch.cut[at])
                continue;
            const platform::ReceivedDatagram& datagram = batch.received[at];
            const MessageSource source { datagram.sender, datagram.hopLimit, std::nullopt };
            ReplyInfo reply;
            const DecodeResult decoded = decodeReply(batch.slot(at), static_cast<int>(datagram.size), source, reply,
                family.identifier, true);
            if (decoded != DecodeResult::Usable || (!reply.timeExceeded && !reply.errorText.empty()))
                continue;
            answers.push_back(Answer { reply.sequence, reply.address, reply.about, reply.timeExceeded });
        }
        if (count.value() < platform::DatagramBatch::kSlots)
            return;
    }
}

bool PathProber::anyOpen() const
{
    return families_[0].endpoint.valid() || families_[1].endpoint.valid();
}

std::vector<PathProber::Answer> PathProber::receive(unsigned waitMilliseconds)
{
    std::vector<Answer> answers;
    std::vector<Family*> opened;
    for (Family& family : families_)
        if (family.endpoint.valid())
            opened.push_back(&family);
    if (opened.empty())
        return answers;
    // Each family gets its share of the wait; what came to either is read.
    const unsigned share = waitMilliseconds / static_cast<unsigned>(opened.size());
    for (Family* family : opened) {
        const auto readable = platform::waitForReadable(family->endpoint, share);
        if (!readable.is_error() && readable.value())
            read(*family, answers);
    }
    return answers;
}

}  // namespace bv
