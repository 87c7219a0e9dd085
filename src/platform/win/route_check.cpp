#include "platform/route_check.h"

#include "platform/socket_address.h"

namespace bv {

namespace platform {

namespace {

struct ClosedOnExit {
    SOCKET socket;
    ~ClosedOnExit() { ::closesocket(socket); }
};

}  // namespace

bool hasRouteTo(const IpAddress& address)
{
    const SOCKET socket = ::socket(address.isV6() ? AF_INET6 : AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (socket == INVALID_SOCKET)
        return true;
    const ClosedOnExit closed { socket };
    const detail::SystemSocketAddress to = detail::systemSocketAddress(address);
    sockaddr_storage withPort = to.storage;
    if (address.isV6())
        reinterpret_cast<sockaddr_in6*>(&withPort)->sin6_port = htons(9);
    else
        reinterpret_cast<sockaddr_in*>(&withPort)->sin_port = htons(9);
    if (::connect(socket, reinterpret_cast<const sockaddr*>(&withPort), static_cast<int>(to.length)) == 0)
        return true;
    const int failure = ::WSAGetLastError();
    return failure != WSAENETUNREACH && failure != WSAEHOSTUNREACH;
}

}  // namespace platform

}  // namespace bv
