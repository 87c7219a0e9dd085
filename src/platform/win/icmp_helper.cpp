#include "platform/win/icmp_helper.h"

#include "platform/icmp_image.h"
#include "platform/icmp_numbers.h"
#include "platform/socket_address.h"
#include "platform/socket_error.h"

// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <winternl.h>
#include <iphlpapi.h>
#include <icmpapi.h>
// clang-format on

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <deque>
#include <future>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

// The headers declare an APC routine parameter either as what it is or, in
// older form, as a FARPROC.
#ifdef PIO_APC_ROUTINE_DEFINED
using EchoRoutine = PIO_APC_ROUTINE;
#else
using EchoRoutine = FARPROC;
#endif

// The helper API's IPv6 half, which MinGW's headers lack (its import library
// has it). Windows packs the address structure; the reply is laid out as
// Windows has it.
#pragma pack(push, 1)
struct Ipv6AddressEx {
    USHORT port;
    ULONG flowInfo;
    USHORT address[8];
    ULONG scopeId;
};
#pragma pack(pop)

struct Icmpv6EchoReply {
    Ipv6AddressEx address;
    ULONG status;
    unsigned int roundTripTime;
};

static_assert(sizeof(Ipv6AddressEx) == 26 && offsetof(Ipv6AddressEx, address) == 6);
static_assert(offsetof(Icmpv6EchoReply, status) == 28 && sizeof(Icmpv6EchoReply) == 36);

extern "C" {
HANDLE WINAPI Icmp6CreateFile(void);
DWORD WINAPI Icmp6SendEcho2(HANDLE icmp, HANDLE event, EchoRoutine routine, PVOID context, sockaddr_in6* source,
    sockaddr_in6* destination, LPVOID data, WORD size, PIP_OPTION_INFORMATION options, LPVOID replies,
    DWORD replySize, DWORD timeout);
DWORD WINAPI Icmp6ParseReplies(LPVOID replies, DWORD replySize);
}

namespace bv {

namespace platform {

namespace {

constexpr std::size_t kEchoHeaderSize = 8;

// The sweep fails an unanswered request after 10 s; an answer after that
// would find its host no longer waiting.
constexpr DWORD kRequestTimeout = 10000;
// Room for the reply structure, the echoed data and an ICMP error, with the
// 8 bytes and the status block (two words) the helper asks for besides.
constexpr std::size_t kReplyRoom
    = std::max(sizeof(ICMP_ECHO_REPLY), sizeof(Icmpv6EchoReply)) + 8 + 64 + 2 * sizeof(void*);

struct Image {
    std::vector<std::uint8_t> bytes;
    IpAddress sender;
};

struct PendingEcho {
    IcmpHelper* owner = nullptr;
    std::vector<std::uint8_t> request;  // the whole echo request, header included
    IpAddress destination;
    UCHAR timeToLive = 128;
    std::vector<std::uint8_t> replies;
    std::promise<DWORD> issued;  // 0 once out, or why it was refused
};

}  // namespace

// The requests go out from a thread of the helper's own, which waits
// alertably: the helper reports each completion as an APC to the thread
// that sent the request. (Thread-pool waits on per-request events trip an
// assertion in Wine's thread pool when they are taken down.)
struct IcmpHelper {
    AddressFamily family = AddressFamily::V4;
    HANDLE icmp = INVALID_HANDLE_VALUE;
    HANDLE ready = nullptr;  // manual reset: set while an image waits
    HANDLE wake = nullptr;   // auto reset: requests to send, or the stop
    std::atomic<int> timeToLive { 128 };
    std::mutex mutex;  // guards the two queues and `stopping`
    std::deque<std::unique_ptr<PendingEcho>> toSend;
    std::deque<Image> images;
    bool stopping = false;
    int outstanding = 0;  // the echo thread's alone
    std::thread echoThread;

    ~IcmpHelper()
    {
        if (wake)
            ::CloseHandle(wake);
        if (ready)
            ::CloseHandle(ready);
        if (icmp != INVALID_HANDLE_VALUE)
            ::IcmpCloseHandle(icmp);
    }
};

namespace {

void queueImage(IcmpHelper& helper, Image image)
{
    std::lock_guard<std::mutex> lock(helper.mutex);
    helper.images.push_back(std::move(image));
    ::SetEvent(helper.ready);
}

// An error status comes either in the reply or, with no reply counted, as
// the last error; no reply is never a success.
unsigned long statusOf(DWORD count, ULONG replyStatus, DWORD lastError)
{
    if (count > 0 || replyStatus != IP_SUCCESS)
        return replyStatus;
    return lastError != IP_SUCCESS ? lastError : IP_GENERAL_FAILURE;
}

void readIpv4Reply(const PendingEcho& echo, DWORD count, DWORD lastError, detail::HelperOutcome& outcome)
{
    ICMP_ECHO_REPLY reply;
    std::memcpy(&reply, echo.replies.data(), sizeof reply);
    outcome.status = statusOf(count, reply.Status, lastError);
    outcome.replier = IpAddress::fromIpv4(reply.Address);
    outcome.timeToLive = reply.Options.Ttl;
    const auto* base = echo.replies.data();
    const auto* data = static_cast<const std::uint8_t*>(reply.Data);
    // The data pointer lies inside the buffer for a good reply; anything else is not read.
    if (data >= base && data + reply.DataSize <= base + echo.replies.size()) {
        outcome.data = data;
        outcome.dataSize = reply.DataSize;
    }
}

void readIpv6Reply(const PendingEcho& echo, DWORD count, DWORD lastError, detail::HelperOutcome& outcome)
{
    Icmpv6EchoReply reply;
    std::memcpy(&reply, echo.replies.data(), sizeof reply);
    outcome.status = statusOf(count, reply.status, lastError);
    std::uint8_t address[16];
    std::memcpy(address, echo.replies.data() + offsetof(Icmpv6EchoReply, address) + offsetof(Ipv6AddressEx, address),
        sizeof address);
    outcome.replier = IpAddress::fromIpv6(address, reply.address.scopeId);
    // The reply points at no echoed data, as IPv4's does; the helper matched
    // it to this request, whose payload it echoes.
    outcome.data = echo.request.data() + kEchoHeaderSize;
    outcome.dataSize = echo.request.size() - kEchoHeaderSize;
}

// Turns the reply buffer of a completed request into an image for the receiver.
void completeEcho(PendingEcho& echo)
{
    const bool six = echo.destination.isV6();
    const auto replySize = static_cast<DWORD>(echo.replies.size());
    const DWORD count = six ? ::Icmp6ParseReplies(echo.replies.data(), replySize)
                            : ::IcmpParseReplies(echo.replies.data(), replySize);
    const DWORD lastError = ::GetLastError();
    detail::HelperOutcome outcome;
    if (six)
        readIpv6Reply(echo, count, lastError, outcome);
    else
        readIpv4Reply(echo, count, lastError, outcome);
    outcome.destination = echo.destination;
    outcome.request = echo.request.data();
    outcome.requestSize = echo.request.size();
    Image image;
    image.bytes.resize(detail::imageOfHelperOutcome(outcome, nullptr, 0));
    if (image.bytes.empty())
        return;
    (void)detail::imageOfHelperOutcome(outcome, image.bytes.data(), image.bytes.size());
    image.sender = outcome.replier;
    queueImage(*echo.owner, std::move(image));
}

VOID NTAPI echoCompleted(PVOID context, PIO_STATUS_BLOCK, ULONG)
{
    std::unique_ptr<PendingEcho> echo(static_cast<PendingEcho*>(context));
    completeEcho(*echo);
    --echo->owner->outstanding;
}

// The detour through void (*)() is the cast the compiler accepts between
// function types.
#ifdef PIO_APC_ROUTINE_DEFINED
const EchoRoutine kEchoCompleted = echoCompleted;
#else
const EchoRoutine kEchoCompleted = reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(echoCompleted));
#endif

// Out with the completion to come as an APC; 0 and ERROR_IO_PENDING then.
DWORD issueEcho(IcmpHelper& helper, PendingEcho& echo)
{
    IP_OPTION_INFORMATION options {};
    options.Ttl = echo.timeToLive;  // the hop limit for IPv6
    // The helper writes the header itself; it takes the payload alone.
    void* payload = echo.request.data() + kEchoHeaderSize;
    const auto payloadSize = static_cast<WORD>(echo.request.size() - kEchoHeaderSize);
    const auto replySize = static_cast<DWORD>(echo.replies.size());
    if (!echo.destination.isV6())
        return ::IcmpSendEcho2(helper.icmp, nullptr, kEchoCompleted, &echo, echo.destination.ipv4(), payload,
            payloadSize, &options, echo.replies.data(), replySize, kRequestTimeout);
    // From the unspecified address: the system picks the source.
    sockaddr_in6 source {};
    source.sin6_family = AF_INET6;
    sockaddr_in6 destination {};
    const detail::SystemSocketAddress to = detail::systemSocketAddress(echo.destination);
    std::memcpy(&destination, &to.storage, sizeof destination);
    return ::Icmp6SendEcho2(helper.icmp, nullptr, kEchoCompleted, &echo, &source, &destination, payload, payloadSize,
        &options, echo.replies.data(), replySize, kRequestTimeout);
}

void sendOne(IcmpHelper& helper, std::unique_ptr<PendingEcho> echo)
{
    const DWORD answered = issueEcho(helper, *echo);
    const DWORD error = answered == 0 ? ::GetLastError() : ERROR_SUCCESS;
    if (answered == 0 && error == ERROR_IO_PENDING) {
        echo->issued.set_value(0);
        // The completion routine owns it now; it runs in this thread's next
        // alertable wait, not before.
        (void)echo.release();
        ++helper.outstanding;
        return;
    }
    // Done at once (its answer is queued now), or refused, which the sender
    // reports as a failed send.
    echo->issued.set_value(error == ERROR_SUCCESS ? 0 : (error != 0 ? error : ERROR_GEN_FAILURE));
    if (answered != 0)
        completeEcho(*echo);
}

void runEchoThread(IcmpHelper& helper)
{
    for (;;) {
        // Alertable: the completions of the requests run here.
        (void)::WaitForSingleObjectEx(helper.wake, INFINITE, TRUE);
        std::deque<std::unique_ptr<PendingEcho>> batch;
        bool stopping = false;
        {
            std::lock_guard<std::mutex> lock(helper.mutex);
            batch.swap(helper.toSend);
            stopping = helper.stopping;
        }
        if (stopping) {
            for (auto& echo : batch)
                echo->issued.set_value(ERROR_OPERATION_ABORTED);
            break;
        }
        for (auto& echo : batch)
            sendOne(helper, std::move(echo));
    }
    // Closing the handle ends the requests still out; each still reports.
    // Those that do not within two seconds are left allocated: the system
    // could still write into their buffers.
    ::IcmpCloseHandle(helper.icmp);
    helper.icmp = INVALID_HANDLE_VALUE;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    for (int round = 0; round < 1000 && helper.outstanding > 0; ++round) {
        const auto left
            = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0)
            break;
        (void)::SleepEx(static_cast<DWORD>(left), TRUE);
    }
}

bool writeEchoReply(const detail::HelperOutcome& outcome, std::uint8_t type, std::vector<std::uint8_t>& icmp)
{
    if (outcome.requestSize < kEchoHeaderSize)
        return false;
    icmp.assign(kEchoHeaderSize + outcome.dataSize, 0);
    icmp[0] = type;
    // Identifier and sequence as the request carried them.
    std::memcpy(icmp.data() + 4, outcome.request + 4, 4);
    if (outcome.dataSize > 0)
        std::memcpy(icmp.data() + kEchoHeaderSize, outcome.data, outcome.dataSize);
    return true;
}

std::size_t imageOfIpv4Outcome(const detail::HelperOutcome& outcome, std::uint8_t* buffer, std::size_t capacity)
{
    std::uint8_t type = kIcmpDestinationUnreachable;
    std::uint8_t code = 0;
    switch (outcome.status) {
    case IP_SUCCESS: {
        std::vector<std::uint8_t> icmp;
        if (!writeEchoReply(outcome, kIcmpEchoReply, icmp))
            return 0;
        std::vector<std::uint8_t> image(kImageIpHeaderSize + icmp.size());
        imageOfIcmpMessage(
            image.data(), image.size(), outcome.replier.ipv4(), outcome.timeToLive, icmp.data(), icmp.size());
        if (capacity > 0)
            std::memcpy(buffer, image.data(), std::min(capacity, image.size()));
        return image.size();
    }
    case IP_DEST_NET_UNREACHABLE:
        code = 0;
        break;
    case IP_DEST_HOST_UNREACHABLE:
    case IP_DEST_UNREACHABLE:
        code = 1;
        break;
    case IP_DEST_PROT_UNREACHABLE:
        code = 2;
        break;
    case IP_DEST_PORT_UNREACHABLE:
        code = 3;
        break;
    case IP_PACKET_TOO_BIG:
        code = 4;
        break;
    case IP_TTL_EXPIRED_TRANSIT:
    case IP_TIME_EXCEEDED:
        type = kIcmpTimeExceeded;
        break;
    case IP_TTL_EXPIRED_REASSEM:
        type = kIcmpTimeExceeded;
        code = 1;
        break;
    default:
        // Timed out, or failed here: no message came back.
        return 0;
    }
    if (outcome.requestSize == 0)
        return 0;
    std::uint8_t image[kImageIpHeaderSize * 2 + kEchoHeaderSize + kImageQuotedRequestSize];
    const std::size_t size = imageOfIcmpError(image, sizeof image, outcome.replier.ipv4(), type, code,
        outcome.destination.ipv4(), outcome.request, outcome.requestSize);
    if (capacity > 0)
        std::memcpy(buffer, image, std::min({ capacity, size, sizeof image }));
    return size;
}

// The statuses are those of the IPv6 names; several share their values with
// IPv4's, which map to other codes there.
std::size_t imageOfIpv6Outcome(const detail::HelperOutcome& outcome, std::uint8_t* buffer, std::size_t capacity)
{
    std::uint8_t type = kIcmpv6DestinationUnreachable;
    std::uint8_t code = 0;
    switch (outcome.status) {
    case IP_SUCCESS: {
        std::vector<std::uint8_t> icmp;
        if (!writeEchoReply(outcome, kIcmpv6EchoReply, icmp))
            return 0;
        if (capacity > 0)
            std::memcpy(buffer, icmp.data(), std::min(capacity, icmp.size()));
        return icmp.size();
    }
    case IP_DEST_NO_ROUTE:
        code = 0;
        break;
    case IP_DEST_PROHIBITED:
        code = 1;
        break;
    case IP_DEST_SCOPE_MISMATCH:
        code = 2;
        break;
    case IP_DEST_ADDR_UNREACHABLE:
    case IP_DEST_UNREACHABLE:
        code = 3;
        break;
    case IP_DEST_PORT_UNREACHABLE:
        code = 4;
        break;
    case IP_PACKET_TOO_BIG:
        type = kIcmpv6PacketTooBig;
        break;
    case IP_HOP_LIMIT_EXCEEDED:
    case IP_TIME_EXCEEDED:
        type = kIcmpv6TimeExceeded;
        break;
    case IP_REASSEMBLY_TIME_EXCEEDED:
        type = kIcmpv6TimeExceeded;
        code = 1;
        break;
    default:
        // Timed out, or failed here: no message came back.
        return 0;
    }
    if (outcome.requestSize < kEchoHeaderSize)
        return 0;
    return imageOfIcmpv6Error(
        buffer, capacity, type, code, outcome.destination, outcome.request, outcome.requestSize);
}

// The queues and the echo thread of an open helper.
ErrorOr<IcmpHelper*> startHelper(std::unique_ptr<IcmpHelper> helper)
{
    helper->ready = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    helper->wake = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (!helper->ready || !helper->wake)
        return Error::fromLastSystemError("CreateEventW");
    try {
        helper->echoThread = std::thread(runEchoThread, std::ref(*helper));
    } catch (const std::system_error& failure) {
        return Error(failure.code().value(), "thread");
    }
    return helper.release();
}

}  // namespace

namespace detail {

std::size_t imageOfHelperOutcome(const HelperOutcome& outcome, std::uint8_t* buffer, std::size_t capacity)
{
    return outcome.destination.isV6() ? imageOfIpv6Outcome(outcome, buffer, capacity)
                                      : imageOfIpv4Outcome(outcome, buffer, capacity);
}

ErrorOr<IcmpHelper*> openIcmpHelper(AddressFamily family)
{
    auto helper = std::make_unique<IcmpHelper>();
    helper->family = family;
    if (family == AddressFamily::V6) {
        helper->icmp = ::Icmp6CreateFile();
        if (helper->icmp == INVALID_HANDLE_VALUE)
            return Error::fromLastSystemError("Icmp6CreateFile");
        return startHelper(std::move(helper));
    }
    helper->icmp = ::IcmpCreateFile();
    if (helper->icmp == INVALID_HANDLE_VALUE)
        return Error::fromLastSystemError("IcmpCreateFile");
    // One echo to loopback, waited for: a helper that exists but may not
    // send (under Wine, without the right to any ICMP socket) is no way out.
    std::uint8_t probe[8] = { 'p', 'r', 'o', 'b', 'e' };
    std::vector<std::uint8_t> answer(kReplyRoom + sizeof probe);
    if (::IcmpSendEcho(helper->icmp, htonl(INADDR_LOOPBACK), probe, sizeof probe, nullptr, answer.data(),
            static_cast<DWORD>(answer.size()), 1000)
        == 0) {
        const DWORD error = ::GetLastError();
        // An IP status means the echo went out: the helper may send.
        if (error < IP_STATUS_BASE)
            return Error(static_cast<int>(error != 0 ? error : ERROR_GEN_FAILURE), "IcmpSendEcho");
    }
    return startHelper(std::move(helper));
}

void closeIcmpHelper(IcmpHelper* helper)
{
    if (!helper)
        return;
    {
        std::lock_guard<std::mutex> lock(helper->mutex);
        helper->stopping = true;
    }
    ::SetEvent(helper->wake);
    helper->echoThread.join();
    delete helper;
}

void setHelperTimeToLive(IcmpHelper& helper, int timeToLive)
{
    helper.timeToLive.store(timeToLive);
}

ErrorOr<std::size_t> sendThroughHelper(
    IcmpHelper& helper, const std::uint8_t* request, std::size_t size, const IpAddress& destination)
{
    const char* call = helper.family == AddressFamily::V6 ? "Icmp6SendEcho2" : "IcmpSendEcho2";
    if (destination.family != helper.family)
        return Error(WSAEAFNOSUPPORT, call);
    if (size < kEchoHeaderSize || size - kEchoHeaderSize > 0xFFFF)
        return Error(WSAEMSGSIZE, call);
    auto echo = std::make_unique<PendingEcho>();
    echo->owner = &helper;
    echo->request.assign(request, request + size);
    echo->destination = destination;
    echo->timeToLive = static_cast<UCHAR>(std::clamp(helper.timeToLive.load(), 1, 255));
    echo->replies.resize(kReplyRoom + size);
    // The send waits for the request to be out, so that a refusal is
    // reported as a raw socket's would be.
    std::future<DWORD> issued = echo->issued.get_future();
    {
        std::lock_guard<std::mutex> lock(helper.mutex);
        helper.toSend.push_back(std::move(echo));
    }
    ::SetEvent(helper.wake);
    const DWORD error = issued.get();
    if (error != 0)
        return Error(static_cast<int>(error), call);
    return size;
}

ErrorOr<ReceivedDatagram> receiveFromHelper(IcmpHelper& helper, std::uint8_t* buffer, std::size_t capacity)
{
    Image image;
    {
        std::lock_guard<std::mutex> lock(helper.mutex);
        if (helper.images.empty()) {
            ::ResetEvent(helper.ready);
            return Error(WSAEWOULDBLOCK, "receive");
        }
        image = std::move(helper.images.front());
        helper.images.pop_front();
        if (helper.images.empty())
            ::ResetEvent(helper.ready);
    }
    std::memcpy(buffer, image.bytes.data(), std::min(capacity, image.bytes.size()));
    if (image.bytes.size() > capacity)
        return messageTooLongError();
    ReceivedDatagram datagram;
    datagram.size = image.bytes.size();
    datagram.sender = image.sender;
    return datagram;
}

ErrorOr<bool> waitForHelper(IcmpHelper& helper, unsigned timeoutMilliseconds)
{
    const DWORD result = ::WaitForSingleObject(helper.ready, timeoutMilliseconds);
    if (result == WAIT_FAILED)
        return Error::fromLastSystemError("WaitForSingleObject");
    return result == WAIT_OBJECT_0;
}

}  // namespace detail

}  // namespace platform

}  // namespace bv
