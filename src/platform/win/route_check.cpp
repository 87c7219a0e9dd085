#include "platform/route_check.h"

#include "platform/socket_address.h"

namespace bv {

namespace platform {

bool hasRouteTo(const IpAddress& address)
{
    const SOCKET socket = ::socket(address.isV6() ? AF_INET6 : AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (socket == INVALID_SOCKET)
        return true;
    const detail::SystemSocketAddress to = detail::systemSocketAddress(address);
    sockaddr_storage withPort = to.storage;
    if (address.isV6())
        reinterpret_cast<sockaddr_in6*>(&withPort)->sin6_port = htons(9);
    else
        reinterpret_cast<sockaddr_in*>(&withPort)->sin_port = htons(9);
    const bool routed = ::connect(socket, reinterpret_cast<const sockaddr*>(&withPort), static_cast<int>(to.length)) == 0
        || (::WSAGetLastError() != WSAENETUNREACH && ::WSAGetLastError() != WSAEHOSTUNREACH);
    ::closesocket(socket);
    return routed;
}

}  // namespace platform

}  // namespace bv
