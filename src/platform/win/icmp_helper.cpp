#include "platform/win/icmp_helper.h"

#include "platform/icmp_image.h"
#include "platform/icmp_numbers.h"
#include "platform/socket_error.h"

// clang-format off
#include <winsock2.h>
#include <windows.h>
#include <winternl.h>
#include <iphlpapi.h>
#include <icmpapi.h>
// clang-format on

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <deque>
#include <future>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace bv {

namespace platform {

namespace {

constexpr std::size_t kEchoHeaderSize = 8;

// The sweep fails an unanswered request after 10 s; an answer after that
// would find its host no longer waiting.
constexpr DWORD kRequestTimeout = 10000;
// Room for the reply structure, the echoed data and an ICMP error, with the
// 8 bytes and the status block (two words) the helper asks for besides.
constexpr std::size_t kReplyRoom = sizeof(ICMP_ECHO_REPLY) + 8 + 64 + 2 * sizeof(void*);

struct Image {
    std::vector<std::uint8_t> bytes;
    Ipv4Address sender = 0;
};

struct PendingEcho {
    IcmpHelper* owner = nullptr;
    std::vector<std::uint8_t> request;  // the whole echo request, header included
    Ipv4Address destination = 0;
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

// Turns the reply buffer of a completed request into an image for the receiver.
void completeEcho(PendingEcho& echo)
{
    const DWORD count = ::IcmpParseReplies(echo.replies.data(), static_cast<DWORD>(echo.replies.size()));
    const DWORD lastError = ::GetLastError();
    ICMP_ECHO_REPLY reply;
    std::memcpy(&reply, echo.replies.data(), sizeof reply);
    detail::HelperOutcome outcome;
    // An error status comes either in the reply or, with no reply counted,
    // as the last error; no reply is never a success.
    if (count > 0 || reply.Status != IP_SUCCESS)
        outcome.status = reply.Status;
    else
        outcome.status = lastError != IP_SUCCESS ? lastError : IP_GENERAL_FAILURE;
    outcome.replier = reply.Address;
    outcome.timeToLive = reply.Options.Ttl;
    const auto* base = echo.replies.data();
    const auto* data = static_cast<const std::uint8_t*>(reply.Data);
    // The data pointer lies inside the buffer for a good reply; anything else is not read.
    if (data >= base && data + reply.DataSize <= base + echo.replies.size()) {
        outcome.data = data;
        outcome.dataSize = reply.DataSize;
    }
    outcome.destination = echo.destination;
    outcome.request = echo.request.data();
    outcome.requestSize = echo.request.size();
    Image image;
    image.bytes.resize(kImageIpHeaderSize * 2 + kEchoHeaderSize + outcome.dataSize + kImageQuotedRequestSize);
    const std::size_t size = detail::imageOfHelperOutcome(outcome, image.bytes.data(), image.bytes.size());
    if (size == 0 || size > image.bytes.size())
        return;
    image.bytes.resize(size);
    image.sender = outcome.replier;
    queueImage(*echo.owner, std::move(image));
}

VOID NTAPI echoCompleted(PVOID context, PIO_STATUS_BLOCK, ULONG)
{
    std::unique_ptr<PendingEcho> echo(static_cast<PendingEcho*>(context));
    completeEcho(*echo);
    --echo->owner->outstanding;
}

// The headers declare the routine's parameter either as what it is or, in
// older form, as a FARPROC; the detour through void (*)() is the cast the
// compiler accepts between function types.
#ifdef PIO_APC_ROUTINE_DEFINED
const PIO_APC_ROUTINE kEchoCompleted = echoCompleted;
#else
const FARPROC kEchoCompleted = reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(echoCompleted));
#endif

void sendOne(IcmpHelper& helper, std::unique_ptr<PendingEcho> echo)
{
    IP_OPTION_INFORMATION options {};
    options.Ttl = echo->timeToLive;
    // The helper writes the header itself; it takes the payload alone.
    const DWORD answered = ::IcmpSendEcho2(helper.icmp, nullptr, kEchoCompleted, echo.get(), echo->destination,
        echo->request.data() + kEchoHeaderSize, static_cast<WORD>(echo->request.size() - kEchoHeaderSize), &options,
        echo->replies.data(), static_cast<DWORD>(echo->replies.size()), kRequestTimeout);
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

bool writeEchoReply(const detail::HelperOutcome& outcome, std::vector<std::uint8_t>& icmp)
{
    if (outcome.requestSize < kEchoHeaderSize)
        return false;
    icmp.assign(kEchoHeaderSize + outcome.dataSize, 0);
    icmp[0] = kIcmpEchoReply;
    // Identifier and sequence as the request carried them.
    std::memcpy(icmp.data() + 4, outcome.request + 4, 4);
    if (outcome.dataSize > 0)
        std::memcpy(icmp.data() + kEchoHeaderSize, outcome.data, outcome.dataSize);
    return true;
}

}  // namespace

namespace detail {

std::size_t imageOfHelperOutcome(const HelperOutcome& outcome, std::uint8_t* buffer, std::size_t capacity)
{
    std::uint8_t type = kIcmpDestinationUnreachable;
    std::uint8_t code = 0;
    switch (outcome.status) {
    case IP_SUCCESS: {
        std::vector<std::uint8_t> icmp;
        if (!writeEchoReply(outcome, icmp))
            return 0;
        std::vector<std::uint8_t> image(kImageIpHeaderSize + icmp.size());
        imageOfIcmpMessage(image.data(), image.size(), outcome.replier, outcome.timeToLive, icmp.data(), icmp.size());
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
    const std::size_t size = imageOfIcmpError(image, sizeof image, outcome.replier, type, code, outcome.destination,
        outcome.request, outcome.requestSize);
    if (capacity > 0)
        std::memcpy(buffer, image, std::min({ capacity, size, sizeof image }));
    return size;
}

ErrorOr<IcmpHelper*> openIcmpHelper()
{
    auto helper = std::make_unique<IcmpHelper>();
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
    IcmpHelper& helper, const std::uint8_t* request, std::size_t size, Ipv4Address destination)
{
    if (size < kEchoHeaderSize || size - kEchoHeaderSize > 0xFFFF)
        return Error(WSAEMSGSIZE, "IcmpSendEcho2");
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
        return Error(static_cast<int>(error), "IcmpSendEcho2");
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
    return ReceivedDatagram { image.bytes.size(), image.sender };
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
