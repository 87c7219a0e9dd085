#include "platform/ipv4.h"

#include <arpa/inet.h>
#include <netinet/in.h>

namespace bv {

namespace platform {

Ipv4Address parseIpv4(const std::string& text)
{
    // A text with a NUL inside is not the text the parse would see.
    if (text.find('\0') != std::string::npos)
        return kNoAddress;
    return static_cast<Ipv4Address>(inet_addr(text.c_str()));
}

std::string dottedQuad(Ipv4Address address)
{
    in_addr value {};
    value.s_addr = address;
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &value, text, sizeof text);
    return text;
}

}  // namespace platform

}  // namespace bv
