#pragma once

#include "platform/error_or.h"
#include "platform/ipv4.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace bv {

namespace platform {

enum class AddressFamily : std::uint8_t { V4, V6 };

// One address of either family, tagged with its family, so that one table,
// one decoder and one label serve both.
struct IpAddress {
    AddressFamily family = AddressFamily::V4;
    // Network order; an IPv4 address takes the first four bytes, the rest
    // stay zero so that comparing and hashing need not look at the family.
    std::array<std::uint8_t, 16> bytes {};
    // The zone of a scoped IPv6 address (an interface index), 0 for none.
    std::uint32_t scope = 0;

    static IpAddress fromIpv4(Ipv4Address networkOrder);
    static IpAddress fromIpv6(const std::uint8_t* sixteenBytes, std::uint32_t scope = 0);

    bool isV6() const { return family == AddressFamily::V6; }
    // Network order; meaningful for an IPv4 address only.
    Ipv4Address ipv4() const;

    friend bool operator==(const IpAddress&, const IpAddress&) = default;
};

struct IpAddressHash {
    std::size_t operator()(const IpAddress& address) const;
};

// The text the program writes for an address it found: the dotted quad, or
// the compact IPv6 text of RFC 5952 (lower case, the longest run of two or
// more zero groups as "::", IPv4-mapped addresses with a dotted tail),
// followed by "%" and the zone's interface name for a scoped address.
std::string addressText(const IpAddress& address);

// A host field's address: an IPv4 text in any form inet_addr reads (as the
// host list has always taken them), or an IPv6 text in any form of RFC 4291,
// with "%zone" (an interface name or index) for a scoped address. Nothing
// for a text that is neither and may be a name; an error for a text that can
// only have been meant as an IPv6 address (it holds a colon) and is none,
// saying why.
ErrorOr<std::optional<IpAddress>> parseHostAddress(const std::string& text);

// The system's IPv6 text parse alone (no zone): the 16 bytes, or nothing.
std::optional<std::array<std::uint8_t, 16>> parseIpv6Text(const std::string& text);

// The interface index of a zone name, or nothing for no such interface;
// the name of an index, or nothing.
std::optional<std::uint32_t> interfaceIndex(const std::string& name);
std::optional<std::string> interfaceName(std::uint32_t index);

}  // namespace platform

}  // namespace bv
