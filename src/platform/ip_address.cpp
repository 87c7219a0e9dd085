#include "platform/ip_address.h"

#include <cstring>

namespace bv {

namespace platform {

IpAddress IpAddress::fromIpv4(Ipv4Address networkOrder)
{
    IpAddress address;
    std::memcpy(address.bytes.data(), &networkOrder, sizeof networkOrder);
    return address;
}

IpAddress IpAddress::fromIpv6(const std::uint8_t* sixteenBytes, std::uint32_t scope)
{
    IpAddress address;
    address.family = AddressFamily::V6;
    std::memcpy(address.bytes.data(), sixteenBytes, 16);
    address.scope = scope;
    return address;
}

Ipv4Address IpAddress::ipv4() const
{
    Ipv4Address value = 0;
    std::memcpy(&value, bytes.data(), sizeof value);
    return value;
}

std::size_t IpAddressHash::operator()(const IpAddress& address) const
{
    // FNV-1a over what equality compares.
    std::uint64_t hash = 14695981039346656037ull ^ static_cast<std::uint8_t>(address.family);
    for (std::uint8_t byte : address.bytes)
        hash = (hash ^ byte) * 1099511628211ull;
    hash = (hash ^ address.scope) * 1099511628211ull;
    return static_cast<std::size_t>(hash);
}

namespace {

std::string compactIpv6(const std::array<std::uint8_t, 16>& bytes)
{
    std::uint16_t groups[8];
    for (int group = 0; group < 8; ++group)
        groups[group] = static_cast<std::uint16_t>(bytes[2 * group] << 8 | bytes[2 * group + 1]);
    // The first longest run of zero groups, if it is two groups or more.
    int bestStart = -1;
    int bestLength = 1;
    for (int start = 0; start < 8;) {
        if (groups[start] != 0) {
            ++start;
            continue;
        }
        int end = start;
        while (end < 8 && groups[end] == 0)
            ++end;
        if (end - start > bestLength) {
            bestStart = start;
            bestLength = end - start;
        }
        start = end;
    }
    const bool mapped = groups[0] == 0 && groups[1] == 0 && groups[2] == 0 && groups[3] == 0 && groups[4] == 0
        && groups[5] == 0xFFFF;
    const int hexGroups = mapped ? 6 : 8;
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (int group = 0; group < hexGroups; ++group) {
        if (group == bestStart) {
            text += "::";
            group += bestLength - 1;
            continue;
        }
        if (!text.empty() && text.back() != ':')
            text += ':';
        bool started = false;
        for (int shift = 12; shift >= 0; shift -= 4) {
            const int digit = groups[group] >> shift & 15;
            if (digit != 0 || started || shift == 0) {
                text += digits[digit];
                started = true;
            }
        }
    }
    if (mapped) {
        if (text.back() != ':')
            text += ':';
        text += std::to_string(bytes[12]) + "." + std::to_string(bytes[13]) + "." + std::to_string(bytes[14]) + "."
            + std::to_string(bytes[15]);
    }
    return text;
}

}  // namespace

std::string addressText(const IpAddress& address)
{
    if (!address.isV6())
        return dottedQuad(address.ipv4());
    std::string text = compactIpv6(address.bytes);
    if (address.scope != 0) {
        const std::optional<std::string> name = interfaceName(address.scope);
        text += '%';
        text += name ? *name : std::to_string(address.scope);
    }
    return text;
}

ErrorOr<std::optional<IpAddress>> parseHostAddress(const std::string& text)
{
    if (text.find(':') == std::string::npos) {
        const Ipv4Address v4 = parseIpv4(text);
        if (v4 == kNoAddress)
            return std::optional<IpAddress>();
        return std::optional<IpAddress>(IpAddress::fromIpv4(v4));
    }
    if (text.find('\0') != std::string::npos)
        return Error(0, "the host holds a NUL character");
    if (text.front() == '[')
        return Error(0, "an IPv6 address is written without brackets");
    const std::size_t percent = text.find('%');
    const auto bytes = parseIpv6Text(text.substr(0, percent));
    if (!bytes)
        return Error(0, "the host is no IPv6 address");
    std::uint32_t scope = 0;
    if (percent != std::string::npos) {
        const std::string zone = text.substr(percent + 1);
        if (zone.empty())
            return Error(0, "the host's zone after % is empty");
        const bool numeric = zone.find_first_not_of("0123456789") == std::string::npos && zone.size() <= 9;
        const std::optional<std::uint32_t> index
            = numeric ? std::optional<std::uint32_t>(static_cast<std::uint32_t>(std::stoul(zone))) : interfaceIndex(zone);
        if (!index || *index == 0 || !interfaceName(*index))
            return Error(0, "the host's zone " + zone + " is no network interface of this machine");
        scope = *index;
    }
    return std::optional<IpAddress>(IpAddress::fromIpv6(bytes->data(), scope));
}

}  // namespace platform

}  // namespace bv
