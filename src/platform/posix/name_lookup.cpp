#include "platform/name_lookup.h"

#include "platform/socket_address.h"

#include <memory>
#include <netdb.h>

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

ErrorOr<NameAddresses> lookUpName(const std::string& name)
{
    addrinfo hints {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_RAW;  // one entry per address, not one per socket type
    addrinfo* first = nullptr;
    if (const int failed = getaddrinfo(name.c_str(), nullptr, &hints, &first); failed != 0)
        return resolverError("getaddrinfo", failed);
    const std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> found(first, &freeaddrinfo);
    const NameAddresses addresses = detail::firstOfEachFamily(found.get());
    if (!addresses.v4 && !addresses.v6)
        return Error(0, "no IPv4 or IPv6 address");
    return addresses;
}

ErrorOr<std::string> lookUpAddress(const IpAddress& address)
{
    const detail::SystemSocketAddress where = detail::systemSocketAddress(address);
    char text[NI_MAXHOST] = {};
    const int failed = getnameinfo(where.get(), where.length, text, sizeof text, nullptr, 0, NI_NAMEREQD);
    if (failed != 0)
        return resolverError("getnameinfo", failed);
    return std::string(text);
}

}  // namespace platform

}  // namespace bv
