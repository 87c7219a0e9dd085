#include "platform/ipv4.h"

#include <winsock2.h>
#include <ws2tcpip.h>

namespace bv {

namespace platform {

Ipv4Address parseIpv4(const std::string& text)
{
    // A text with a NUL inside is not the text the parse would see.
    if (text.find('\0') != std::string::npos)
        return kNoAddress;
    return static_cast<Ipv4Address>(::inet_addr(text.c_str()));
}

std::string dottedQuad(Ipv4Address address)
{
    // Formatted here rather than with inet_ntoa, whose buffer is shared.
    const auto* bytes = reinterpret_cast<const unsigned char*>(&address);
    return std::to_string(bytes[0]) + "." + std::to_string(bytes[1]) + "." + std::to_string(bytes[2]) + "."
        + std::to_string(bytes[3]);
}

}  // namespace platform

}  // namespace bv
