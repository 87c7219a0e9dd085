#include "platform/name_lookup.h"

#include "platform/socket_address.h"
#include "platform/win/socket_layer.h"

#include <memory>
#include <winsock2.h>
#include <ws2tcpip.h>

namespace bv {

namespace platform {

ErrorOr<NameAddresses> lookUpName(const std::string& name)
{
    const detail::SocketLayerUse layer;
    addrinfo hints {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_RAW;
    addrinfo* first = nullptr;
    if (const int failed = ::getaddrinfo(name.c_str(), nullptr, &hints, &first); failed != 0)
        return Error(failed, "getaddrinfo");
    const std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> found(first, &::freeaddrinfo);
    const NameAddresses addresses = detail::firstOfEachFamily(found.get());
    if (!addresses.v4 && !addresses.v6)
        return Error(0, "no IPv4 or IPv6 address");
    return addresses;
}

ErrorOr<std::string> lookUpAddress(const IpAddress& address)
{
    const detail::SocketLayerUse layer;
    const detail::SystemSocketAddress where = detail::systemSocketAddress(address);
    char text[NI_MAXHOST] = {};
    const int failed = ::getnameinfo(where.get(), where.length, text, sizeof text, nullptr, 0, NI_NAMEREQD);
    if (failed != 0)
        return Error(failed, "getnameinfo");
    return std::string(text);
}

}  // namespace platform

}  // namespace bv
