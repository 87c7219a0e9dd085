#include "platform/raw_socket.h"

#include "platform/icmp_numbers.h"
#include "platform/socket_address.h"
#include "platform/socket_error.h"
#include "platform/win/icmp_helper.h"

// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <mswsock.h>
// clang-format on

#include <atomic>
#include <cstring>

namespace bv {

namespace platform {

namespace {

Error socketError(const char* step)
{
    return Error(::WSAGetLastError(), step);
}

bool isRawIpv6(const IcmpEndpoint& endpoint)
{
    return !endpoint.helper && endpoint.family == AddressFamily::V6;
}

// The hop limit comes only as control data, which WSARecvMsg alone reads;
// its address is the provider's, the same for every raw ICMPv6 socket.
LPFN_WSARECVMSG messageReader(SOCKET socket)
{
    static std::atomic<LPFN_WSARECVMSG> cached { nullptr };
    LPFN_WSARECVMSG reader = cached.load();
    if (reader)
        return reader;
    GUID id = WSAID_WSARECVMSG;
    DWORD bytes = 0;
    if (::WSAIoctl(socket, SIO_GET_EXTENSION_FUNCTION_POINTER, &id, sizeof id, &reader, sizeof reader, &bytes, nullptr,
            nullptr)
        != 0)
        return nullptr;
    cached.store(reader);
    return reader;
}

ErrorOr<ReceivedDatagram> receiveWithHopLimit(
    LPFN_WSARECVMSG reader, SOCKET socket, std::uint8_t* buffer, std::size_t capacity)
{
    sockaddr_storage from {};
    WSABUF data { static_cast<ULONG>(capacity > 0x7FFFFFFF ? 0x7FFFFFFF : capacity), reinterpret_cast<char*>(buffer) };
    alignas(WSACMSGHDR) char control[WSA_CMSG_SPACE(sizeof(INT))] = {};
    WSAMSG message {};
    message.name = reinterpret_cast<LPSOCKADDR>(&from);
    message.namelen = sizeof from;
    message.lpBuffers = &data;
    message.dwBufferCount = 1;
    message.Control = { sizeof control, control };
    DWORD received = 0;
    if (reader(socket, &message, &received, nullptr, nullptr) == SOCKET_ERROR) {
        const int code = ::WSAGetLastError();
        return code == WSAEMSGSIZE ? messageTooLongError() : Error(code, "WSARecvMsg");
    }
    if (message.dwFlags & MSG_TRUNC)
        return messageTooLongError();
    ReceivedDatagram datagram;
    datagram.size = received;
    datagram.sender = detail::ipAddressOf(&from, message.namelen > 0 ? static_cast<std::size_t>(message.namelen) : 0)
                          .value_or(IpAddress {});
    for (WSACMSGHDR* part = WSA_CMSG_FIRSTHDR(&message); part; part = WSA_CMSG_NXTHDR(&message, part)) {
        if (part->cmsg_level == IPPROTO_IPV6 && part->cmsg_type == IPV6_HOPLIMIT) {
            INT hopLimit = -1;
            std::memcpy(&hopLimit, WSA_CMSG_DATA(part), sizeof hopLimit);
            datagram.hopLimit = hopLimit;
        }
    }
    return datagram;
}

bool isWantedIcmpv6Type(std::uint8_t type)
{
    return type == kIcmpv6EchoReply || type == kIcmpv6DestinationUnreachable || type == kIcmpv6PacketTooBig
        || type == kIcmpv6TimeExceeded;
}

// Windows has no ICMPv6 type filter for raw sockets: neighbour discovery,
// router adverts and our own requests on loopback reach the socket too.
// True when the first waiting message is one the decoder reads; false when
// it was another, now dropped.
bool firstIsWantedIcmpv6(SOCKET socket)
{
    char type = 0;
    // A peek of one byte reports the rest as cut off, and keeps it.
    const int peeked = ::recv(socket, &type, 1, MSG_PEEK);
    if (peeked == SOCKET_ERROR && ::WSAGetLastError() != WSAEMSGSIZE)
        return true;  // the read reports it
    if (isWantedIcmpv6Type(static_cast<std::uint8_t>(type)))
        return true;
    (void)::recv(socket, &type, 1, 0);  // the rest of it is discarded
    return false;
}

}  // namespace

ErrorOr<void> startSocketLayer()
{
    WSADATA data {};
    // Version word 0x0102: major 2 in the low byte, minor 1 in the high byte.
    const int failed = ::WSAStartup(MAKEWORD(2, 1), &data);
    if (failed != 0)
        return Error(failed, "WSAStartup");
    if (LOBYTE(data.wVersion) < 2) {
        ::WSACleanup();
        return Error(WSAVERNOTSUPPORTED, "WSAStartup");
    }
    return {};
}

void stopSocketLayer()
{
    ::WSACleanup();
}

bool refusedForWantOfRights(const Error& refusal)
{
    return refusal.code() == WSAEACCES;
}

std::string rawSocketRefusalAdvice(const Error& refusal)
{
    if (!refusedForWantOfRights(refusal))
        return std::string();
    return "BeaconVigilor must be run as Administrator to send pings.";
}

std::string pingRightsRemedies(const std::string&)
{
    return rawSocketRefusalAdvice(Error(WSAEACCES, "socket"));
}

std::string icmpRefusalRemedies(const IcmpRefusal& refusal)
{
    return rawSocketRefusalAdvice(refusal.raw);
}

std::string describeIcmpKind(IcmpSocketKind kind, AddressFamily family)
{
    if (family == AddressFamily::V6)
        return kind == IcmpSocketKind::Helper ? "ICMPv6 helper API" : "raw ICMPv6 socket";
    return kind == IcmpSocketKind::Helper ? "ICMP helper API" : "raw ICMP socket";
}

ErrorOr<IcmpEndpoint> openIcmpEndpointOfKind(IcmpSocketKind kind, AddressFamily family)
{
    if (kind == IcmpSocketKind::Raw)
        return IcmpEndpoint(TRY(openRawIcmpSocket(family)), family);
    if (kind != IcmpSocketKind::Helper)
        return Error(WSAESOCKTNOSUPPORT, "socket");
    IcmpEndpoint endpoint;
    endpoint.helper = TRY(detail::openIcmpHelper(family));
    endpoint.kind = IcmpSocketKind::Helper;
    endpoint.family = family;
    // The helper puts its own identifier on the wire and matches the
    // replies itself; the receiver sees the one the engine wrote.
    endpoint.identifier = static_cast<std::uint16_t>(::GetCurrentProcessId() & 0xFFFFu);
    return endpoint;
}

ErrorOr<SocketHandle> openRawIcmpSocket(AddressFamily family)
{
    const bool six = family == AddressFamily::V6;
    const SOCKET socket = ::WSASocketA(
        six ? AF_INET6 : AF_INET, SOCK_RAW, six ? IPPROTO_ICMPV6 : IPPROTO_ICMP, nullptr, 0, WSA_FLAG_OVERLAPPED);
    if (socket == INVALID_SOCKET)
        return socketError("WSASocketA");
    if (six) {
        // Bound at once, so that it receives before its first send too.
        // Best effort, both: without the hop limit only the trace's hop
        // estimate is off.
        sockaddr_in6 any {};
        any.sin6_family = AF_INET6;
        (void)::bind(socket, reinterpret_cast<const sockaddr*>(&any), sizeof any);
        const DWORD on = 1;
        (void)::setsockopt(socket, IPPROTO_IPV6, IPV6_HOPLIMIT, reinterpret_cast<const char*>(&on), sizeof on);
    }
    return static_cast<SocketHandle>(socket);
}

ErrorOr<void> setTimeToLive(const IcmpEndpoint& endpoint, int timeToLive)
{
    if (endpoint.helper) {
        detail::setHelperTimeToLive(*endpoint.helper, timeToLive);
        return {};
    }
    const DWORD value = static_cast<DWORD>(timeToLive);
    const bool six = endpoint.family == AddressFamily::V6;
    if (::setsockopt(static_cast<SOCKET>(endpoint.socket), six ? IPPROTO_IPV6 : IPPROTO_IP,
            six ? IPV6_UNICAST_HOPS : IP_TTL, reinterpret_cast<const char*>(&value), sizeof value)
        != 0)
        return socketError(six ? "setsockopt IPV6_UNICAST_HOPS" : "setsockopt IP_TTL");
    return {};
}

ErrorOr<std::size_t> sendDatagram(
    const IcmpEndpoint& endpoint, const std::uint8_t* data, std::size_t size, const IpAddress& destination)
{
    if (destination.family != endpoint.family)
        return Error(WSAEAFNOSUPPORT, "sendto");
    if (endpoint.helper)
        return detail::sendThroughHelper(*endpoint.helper, data, size, destination);
    if (size > 0x7FFFFFFF)
        return Error(WSAEMSGSIZE, "sendto");
    const detail::SystemSocketAddress to = detail::systemSocketAddress(destination);
    const int sent = ::sendto(static_cast<SOCKET>(endpoint.socket), reinterpret_cast<const char*>(data),
        static_cast<int>(size), 0, to.get(), to.length);
    if (sent == SOCKET_ERROR)
        return socketError("sendto");
    return static_cast<std::size_t>(sent);
}

ErrorOr<ReceivedDatagram> receiveDatagram(const IcmpEndpoint& endpoint, std::uint8_t* buffer, std::size_t capacity)
{
    if (endpoint.helper)
        return detail::receiveFromHelper(*endpoint.helper, buffer, capacity);
    if (isRawIpv6(endpoint)) {
        if (const LPFN_WSARECVMSG reader = messageReader(static_cast<SOCKET>(endpoint.socket)))
            return receiveWithHopLimit(reader, static_cast<SOCKET>(endpoint.socket), buffer, capacity);
    }
    sockaddr_storage from {};
    int fromLength = sizeof from;
    const int length = capacity > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(capacity);
    // A raw IPv4 socket hands every datagram over with its IP header in
    // front, a raw IPv6 one without.
    const int received = ::recvfrom(static_cast<SOCKET>(endpoint.socket), reinterpret_cast<char*>(buffer), length, 0,
        reinterpret_cast<sockaddr*>(&from), &fromLength);
    if (received == SOCKET_ERROR) {
        const int code = ::WSAGetLastError();
        return code == WSAEMSGSIZE ? messageTooLongError() : Error(code, "recvfrom");
    }
    ReceivedDatagram datagram;
    datagram.size = static_cast<std::size_t>(received);
    datagram.sender = detail::ipAddressOf(&from, fromLength > 0 ? static_cast<std::size_t>(fromLength) : 0)
                          .value_or(IpAddress {});
    return datagram;
}

ErrorOr<bool> waitForReadable(const IcmpEndpoint& endpoint, unsigned timeoutMilliseconds)
{
    if (endpoint.helper)
        return detail::waitForHelper(*endpoint.helper, timeoutMilliseconds);
    const SocketHandle socket = endpoint.socket;
    if (socket == kInvalidSocket)
        return Error(WSAENOTSOCK, "select");
    const ULONGLONG deadline = ::GetTickCount64() + timeoutMilliseconds;
    // A round for each unwanted message dropped, within the time-out.
    for (int round = 0; round < 64; ++round) {
        const ULONGLONG now = ::GetTickCount64();
        const ULONGLONG left = now < deadline ? deadline - now : 0;
        fd_set readSet;
        FD_ZERO(&readSet);
        FD_SET(static_cast<SOCKET>(socket), &readSet);
        timeval timeout {};
        timeout.tv_sec = static_cast<long>(left / 1000);
        timeout.tv_usec = static_cast<long>((left % 1000) * 1000);
        const int ready = ::select(0, &readSet, nullptr, nullptr, &timeout);
        if (ready == SOCKET_ERROR)
            return socketError("select");
        if (ready == 0)
            return false;
        if (!isRawIpv6(endpoint) || firstIsWantedIcmpv6(static_cast<SOCKET>(socket)))
            return true;
    }
    return false;
}

// No kernel stamps here yet; the caller times the calls itself.
ErrorOr<void> enableKernelStamps(IcmpEndpoint&)
{
    return Error(WSAEOPNOTSUPP, "setsockopt SO_TIMESTAMPING");
}

ErrorOr<std::size_t> receiveWaitingDatagrams(const IcmpEndpoint& socket, DatagramBatch& batch)
{
    return detail::receiveOneWaitingDatagram(socket, batch);
}

ErrorOr<std::optional<SendStamp>> readSendStamp(const IcmpEndpoint&)
{
    return std::optional<SendStamp>();
}

void closeSocket(const IcmpEndpoint& endpoint)
{
    detail::closeIcmpHelper(endpoint.helper);
    if (endpoint.socket != kInvalidSocket)
        ::closesocket(static_cast<SOCKET>(endpoint.socket));
}

}  // namespace platform

}  // namespace bv
