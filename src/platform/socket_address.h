#pragma once

#include "platform/ip_address.h"
#include "platform/name_lookup.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

#include <algorithm>
#include <cstring>
#include <optional>

namespace bv {

// The system's socket addresses and the program's own, for the backends of
// both systems (their structures agree in what is read here).
namespace platform::detail {

struct SystemSocketAddress {
    sockaddr_storage storage {};
    socklen_t length = 0;

    const sockaddr* get() const { return reinterpret_cast<const sockaddr*>(&storage); }
};

inline SystemSocketAddress systemSocketAddress(const IpAddress& address)
{
    SystemSocketAddress to;
    if (address.isV6()) {
        sockaddr_in6 six {};
        six.sin6_family = AF_INET6;
        std::memcpy(&six.sin6_addr, address.bytes.data(), 16);
        six.sin6_scope_id = address.scope;
        std::memcpy(&to.storage, &six, sizeof six);
        to.length = sizeof six;
    } else {
        sockaddr_in four {};
        four.sin_family = AF_INET;
        four.sin_addr.s_addr = address.ipv4();
        std::memcpy(&to.storage, &four, sizeof four);
        to.length = sizeof four;
    }
    return to;
}

// Nothing for a family that is neither or a length too short for it.
inline std::optional<IpAddress> ipAddressOf(const void* socketAddress, std::size_t length)
{
    if (length < sizeof(sockaddr::sa_family))
        return std::nullopt;
    sockaddr_storage storage {};
    std::memcpy(&storage, socketAddress, std::min(length, sizeof storage));
    if (storage.ss_family == AF_INET && length >= sizeof(sockaddr_in)) {
        sockaddr_in four;
        std::memcpy(&four, &storage, sizeof four);
        return IpAddress::fromIpv4(four.sin_addr.s_addr);
    }
    if (storage.ss_family == AF_INET6 && length >= sizeof(sockaddr_in6)) {
        sockaddr_in6 six;
        std::memcpy(&six, &storage, sizeof six);
        return IpAddress::fromIpv6(reinterpret_cast<const std::uint8_t*>(&six.sin6_addr), six.sin6_scope_id);
    }
    return std::nullopt;
}

// The first address of each family in a resolver's answer.
inline NameAddresses firstOfEachFamily(const addrinfo* list)
{
    NameAddresses addresses;
    for (const addrinfo* entry = list; entry != nullptr; entry = entry->ai_next) {
        const auto address = entry->ai_addr ? ipAddressOf(entry->ai_addr, entry->ai_addrlen) : std::nullopt;
        if (address && !address->isV6() && !addresses.v4)
            addresses.v4 = address;
        if (address && address->isV6() && !addresses.v6)
            addresses.v6 = address;
    }
    return addresses;
}

}  // namespace platform::detail

}  // namespace bv
