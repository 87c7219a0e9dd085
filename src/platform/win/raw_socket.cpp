#include "platform/raw_socket.h"

#include "platform/socket_error.h"
#include "platform/win/icmp_helper.h"

#include <winsock2.h>
#include <ws2tcpip.h>

namespace bv {

namespace platform {

bool startSocketLayer()
{
    WSADATA data {};
    // Version word 0x0102: major 2 in the low byte, minor 1 in the high byte.
    if (::WSAStartup(MAKEWORD(2, 1), &data) != 0)
        return false;
    if (LOBYTE(data.wVersion) < 2) {
        ::WSACleanup();
        return false;
    }
    return true;
}

void stopSocketLayer()
{
    ::WSACleanup();
}

std::string rawSocketRefusalAdvice(int errorCode)
{
    if (errorCode != WSAEACCES)
        return std::string();
    return "BeaconVigilor must be run as Administrator to send pings.";
}

std::string pingRightsRemedies(const std::string&)
{
    return rawSocketRefusalAdvice(WSAEACCES);
}

std::string icmpRefusalRemedies(int rawError, int)
{
    return rawSocketRefusalAdvice(rawError);
}

std::string describeIcmpKind(IcmpSocketKind kind)
{
    return kind == IcmpSocketKind::Helper ? "ICMP helper API" : "raw ICMP socket";
}

IcmpEndpoint openIcmpEndpointOfKind(IcmpSocketKind kind, int& errorCode)
{
    if (kind == IcmpSocketKind::Raw)
        return IcmpEndpoint(openRawIcmpSocket(errorCode));
    IcmpEndpoint endpoint;
    if (kind != IcmpSocketKind::Helper) {
        errorCode = WSAESOCKTNOSUPPORT;
        return endpoint;
    }
    endpoint.helper = detail::openIcmpHelper(errorCode);
    if (endpoint.helper) {
        endpoint.kind = IcmpSocketKind::Helper;
        // The helper puts its own identifier on the wire and matches the
        // replies itself; the receiver sees the one the engine wrote.
        endpoint.identifier = static_cast<std::uint16_t>(::GetCurrentProcessId() & 0xFFFFu);
    }
    return endpoint;
}

IcmpEndpoint openIcmpEndpoint(int& rawError, int& fallbackError)
{
    fallbackError = 0;
    const IcmpEndpoint raw = openIcmpEndpointOfKind(IcmpSocketKind::Raw, rawError);
    if (raw.valid() || rawError != WSAEACCES)
        return raw;
    const IcmpEndpoint helper = openIcmpEndpointOfKind(IcmpSocketKind::Helper, fallbackError);
    return helper.valid() ? helper : raw;
}

SocketHandle openRawIcmpSocket(int& errorCode)
{
    const SOCKET socket = ::WSASocketA(AF_INET, SOCK_RAW, IPPROTO_ICMP, nullptr, 0, WSA_FLAG_OVERLAPPED);
    if (socket == INVALID_SOCKET) {
        errorCode = ::WSAGetLastError();
        return kInvalidSocket;
    }
    return static_cast<SocketHandle>(socket);
}

bool setTimeToLive(const IcmpEndpoint& endpoint, int timeToLive, int& errorCode)
{
    if (endpoint.helper) {
        detail::setHelperTimeToLive(*endpoint.helper, timeToLive);
        return true;
    }
    const SocketHandle socket = endpoint.socket;
    const DWORD value = static_cast<DWORD>(timeToLive);
    if (::setsockopt(static_cast<SOCKET>(socket), IPPROTO_IP, IP_TTL, reinterpret_cast<const char*>(&value),
            sizeof value)
        != 0) {
        errorCode = ::WSAGetLastError();
        return false;
    }
    return true;
}

long sendDatagram(const IcmpEndpoint& endpoint, const std::uint8_t* data, std::size_t size, Ipv4Address destination,
    int& errorCode)
{
    if (endpoint.helper)
        return detail::sendThroughHelper(*endpoint.helper, data, size, destination, errorCode);
    const SocketHandle socket = endpoint.socket;
    if (size > 0x7FFFFFFF) {
        errorCode = WSAEMSGSIZE;
        return -1;
    }
    sockaddr_in to {};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = destination;
    const int sent = ::sendto(static_cast<SOCKET>(socket), reinterpret_cast<const char*>(data),
        static_cast<int>(size), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    if (sent == SOCKET_ERROR) {
        errorCode = ::WSAGetLastError();
        return -1;
    }
    return sent;
}

long receiveDatagram(const IcmpEndpoint& endpoint, std::uint8_t* buffer, std::size_t capacity, Ipv4Address& sender,
    int& errorCode)
{
    if (endpoint.helper)
        return detail::receiveFromHelper(*endpoint.helper, buffer, capacity, sender, errorCode);
    const SocketHandle socket = endpoint.socket;
    sockaddr_in from {};
    int fromLength = sizeof from;
    const int length = capacity > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(capacity);
    // A raw IPv4 socket hands every datagram over with its IP header in front.
    const int received = ::recvfrom(static_cast<SOCKET>(socket), reinterpret_cast<char*>(buffer), length, 0,
        reinterpret_cast<sockaddr*>(&from), &fromLength);
    if (received == SOCKET_ERROR) {
        const int code = ::WSAGetLastError();
        errorCode = code == WSAEMSGSIZE ? kErrorMessageTooLong : code;
        return -1;
    }
    sender = (fromLength >= static_cast<int>(sizeof from) && from.sin_family == AF_INET) ? from.sin_addr.s_addr : 0;
    return received;
}

bool waitForReadable(const IcmpEndpoint& endpoint, unsigned timeoutMilliseconds, bool& readable)
{
    if (endpoint.helper)
        return detail::waitForHelper(*endpoint.helper, timeoutMilliseconds, readable);
    const SocketHandle socket = endpoint.socket;
    if (socket == kInvalidSocket)
        return false;
    fd_set readSet;
    FD_ZERO(&readSet);
    FD_SET(static_cast<SOCKET>(socket), &readSet);
    timeval timeout {};
    timeout.tv_sec = static_cast<long>(timeoutMilliseconds / 1000);
    timeout.tv_usec = static_cast<long>((timeoutMilliseconds % 1000) * 1000);
    const int ready = ::select(0, &readSet, nullptr, nullptr, &timeout);
    if (ready == SOCKET_ERROR)
        return false;
    readable = ready > 0;
    return true;
}

void closeSocket(const IcmpEndpoint& endpoint)
{
    detail::closeIcmpHelper(endpoint.helper);
    if (endpoint.socket != kInvalidSocket)
        ::closesocket(static_cast<SOCKET>(endpoint.socket));
}

}  // namespace platform

}  // namespace bv
