#include "platform/raw_socket.h"

#include "platform/socket_address.h"
#include "platform/socket_error.h"
#include "platform/win/icmp_helper.h"

#include <winsock2.h>
#include <ws2tcpip.h>

namespace bv {

namespace platform {

namespace {

Error socketError(const char* step)
{
    return Error(::WSAGetLastError(), step);
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
    if (kind == IcmpSocketKind::Raw) {
        IcmpEndpoint endpoint(TRY(openRawIcmpSocket(family)));
        endpoint.family = family;
        return endpoint;
    }
    if (kind != IcmpSocketKind::Helper)
        return Error(WSAESOCKTNOSUPPORT, "socket");
    if (family == AddressFamily::V6)
        return Error(ERROR_NOT_SUPPORTED, "Icmp6CreateFile");
    IcmpEndpoint endpoint;
    endpoint.helper = TRY(detail::openIcmpHelper());
    endpoint.kind = IcmpSocketKind::Helper;
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
        return detail::sendThroughHelper(*endpoint.helper, data, size, destination.ipv4());
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
    fd_set readSet;
    FD_ZERO(&readSet);
    FD_SET(static_cast<SOCKET>(socket), &readSet);
    timeval timeout {};
    timeout.tv_sec = static_cast<long>(timeoutMilliseconds / 1000);
    timeout.tv_usec = static_cast<long>((timeoutMilliseconds % 1000) * 1000);
    const int ready = ::select(0, &readSet, nullptr, nullptr, &timeout);
    if (ready == SOCKET_ERROR)
        return socketError("select");
    return ready > 0;
}

// No kernel stamps here yet; the caller times the calls itself.
ErrorOr<void> enableKernelStamps(IcmpEndpoint&)
{
    return Error(WSAEOPNOTSUPP, "setsockopt SO_TIMESTAMPING");
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
