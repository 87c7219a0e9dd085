#include "platform/route_check.h"

#include "platform/socket_address.h"

#include <cerrno>
#include <unistd.h>

namespace bv {

namespace platform {

namespace {

struct ClosedOnExit {
    int socket;
    ~ClosedOnExit() { ::close(socket); }
};

}  // namespace

bool hasRouteTo(const IpAddress& address)
{
    const int socket = ::socket(address.isV6() ? AF_INET6 : AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (socket < 0)
        return true;
    const ClosedOnExit closed { socket };
    const detail::SystemSocketAddress to = detail::systemSocketAddress(address);
    // Any port: nothing is sent; the system only looks the route up.
    sockaddr_storage withPort = to.storage;
    if (address.isV6())
        reinterpret_cast<sockaddr_in6*>(&withPort)->sin6_port = htons(9);
    else
        reinterpret_cast<sockaddr_in*>(&withPort)->sin_port = htons(9);
    return ::connect(socket, reinterpret_cast<const sockaddr*>(&withPort), to.length) == 0
        || (errno != ENETUNREACH && errno != EHOSTUNREACH);
}

}  // namespace platform

}  // namespace bv
