#include "platform/name_lookup.h"

#include <memory>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace bv {

namespace platform {
namespace {

// The resolver's codes are not errno values; only EAI_SYSTEM leaves one.
Error resolverError(const char* call, int failed)
{
    if (failed == EAI_SYSTEM)
        return Error::fromLastSystemError(call);
    return Error(0, std::string(call) + ": " + gai_strerror(failed));
}

}  // namespace

ErrorOr<Ipv4Address> lookUpName(const std::string& name)
{
    addrinfo hints {};
    hints.ai_family = AF_INET;
    addrinfo* first = nullptr;
    if (const int failed = getaddrinfo(name.c_str(), nullptr, &hints, &first); failed != 0)
        return resolverError("getaddrinfo", failed);
    const std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> found(first, &freeaddrinfo);
    for (const addrinfo* entry = found.get(); entry != nullptr; entry = entry->ai_next) {
        if (entry->ai_family == AF_INET && entry->ai_addr != nullptr && entry->ai_addrlen >= sizeof(sockaddr_in))
            return Ipv4Address { reinterpret_cast<const sockaddr_in*>(entry->ai_addr)->sin_addr.s_addr };
    }
    return Error(0, "no IPv4 address");
}

ErrorOr<std::string> lookUpAddress(Ipv4Address address)
{
    sockaddr_in where {};
    where.sin_family = AF_INET;
    where.sin_addr.s_addr = address;
    char text[NI_MAXHOST] = {};
    const int failed = getnameinfo(
        reinterpret_cast<const sockaddr*>(&where), sizeof where, text, sizeof text, nullptr, 0, NI_NAMEREQD);
    if (failed != 0)
        return resolverError("getnameinfo", failed);
    return std::string(text);
}

}  // namespace platform

}  // namespace bv
