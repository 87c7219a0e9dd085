#include "platform/name_lookup.h"

#include <memory>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace bv {

namespace platform {

bool lookUpName(const std::string& name, Ipv4Address& address)
{
    addrinfo hints {};
    hints.ai_family = AF_INET;
    addrinfo* first = nullptr;
    if (getaddrinfo(name.c_str(), nullptr, &hints, &first) != 0)
        return false;
    const std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> found(first, &freeaddrinfo);
    for (const addrinfo* entry = found.get(); entry != nullptr; entry = entry->ai_next) {
        if (entry->ai_family == AF_INET && entry->ai_addr != nullptr && entry->ai_addrlen >= sizeof(sockaddr_in)) {
            address = reinterpret_cast<const sockaddr_in*>(entry->ai_addr)->sin_addr.s_addr;
            return true;
        }
    }
    return false;
}

bool lookUpAddress(Ipv4Address address, std::string& name)
{
    sockaddr_in where {};
    where.sin_family = AF_INET;
    where.sin_addr.s_addr = address;
    char text[NI_MAXHOST] = {};
    if (getnameinfo(reinterpret_cast<const sockaddr*>(&where), sizeof where, text, sizeof text, nullptr, 0,
            NI_NAMEREQD)
        != 0)
        return false;
    name = text;
    return true;
}

}  // namespace platform

}  // namespace bv
