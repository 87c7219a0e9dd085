#include "platform/name_lookup.h"

#include "platform/win/socket_layer.h"

#include <memory>
#include <winsock2.h>
#include <ws2tcpip.h>

namespace bv {

namespace platform {

ErrorOr<Ipv4Address> lookUpName(const std::string& name)
{
    const detail::SocketLayerUse layer;
    addrinfo hints {};
    hints.ai_family = AF_INET;
    addrinfo* first = nullptr;
    if (const int failed = ::getaddrinfo(name.c_str(), nullptr, &hints, &first); failed != 0)
        return Error(failed, "getaddrinfo");
    const std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> found(first, &::freeaddrinfo);
    for (const addrinfo* entry = found.get(); entry != nullptr; entry = entry->ai_next) {
        if (entry->ai_family == AF_INET && entry->ai_addr != nullptr && entry->ai_addrlen >= sizeof(sockaddr_in))
            return Ipv4Address { reinterpret_cast<const sockaddr_in*>(entry->ai_addr)->sin_addr.s_addr };
    }
    return Error(0, "no IPv4 address");
}

ErrorOr<std::string> lookUpAddress(Ipv4Address address)
{
    const detail::SocketLayerUse layer;
    sockaddr_in where {};
    where.sin_family = AF_INET;
    where.sin_addr.s_addr = address;
    char text[NI_MAXHOST] = {};
    const int failed = ::getnameinfo(
        reinterpret_cast<const sockaddr*>(&where), sizeof where, text, sizeof text, nullptr, 0, NI_NAMEREQD);
    if (failed != 0)
        return Error(failed, "getnameinfo");
    return std::string(text);
}

}  // namespace platform

}  // namespace bv
