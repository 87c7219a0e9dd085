#include "platform/ip_address.h"

#include <arpa/inet.h>
#include <net/if.h>

namespace bv {

namespace platform {

std::optional<std::array<std::uint8_t, 16>> parseIpv6Text(const std::string& text)
{
    std::array<std::uint8_t, 16> bytes {};
    if (text.find('\0') != std::string::npos || inet_pton(AF_INET6, text.c_str(), bytes.data()) != 1)
        return std::nullopt;
    return bytes;
}

std::optional<std::uint32_t> interfaceIndex(const std::string& name)
{
    const unsigned index = if_nametoindex(name.c_str());
    if (index == 0)
        return std::nullopt;
    return index;
}

std::optional<std::string> interfaceName(std::uint32_t index)
{
    char name[IF_NAMESIZE] = {};
    if (if_indextoname(index, name) == nullptr)
        return std::nullopt;
    return std::string(name);
}

}  // namespace platform

}  // namespace bv
