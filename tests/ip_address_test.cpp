#include "platform/ip_address.h"

#include "support/addresses.h"

#include <gtest/gtest.h>

#include <unordered_set>

using namespace bv;
using bv::test::ip;

TEST(IpAddress, CompactTextOfEveryForm)
{
    struct Case {
        const char* written;
        const char* compact;
    };
    for (const Case& form : {
             Case { "2001:DB8:0:0::1", "2001:db8::1" },
             Case { "2001:0db8:0000:0000:0000:0000:0000:0001", "2001:db8::1" },
             // The longest run of zero groups, the first of two equal ones,
             // and never a single group.
             Case { "2001:2:0:0:1:0:0:0", "2001:2:0:0:1::" },
             Case { "2001:0:0:1:0:0:0:1", "2001:0:0:1::1" },
             Case { "2001:2:0:1:0:0:1:1", "2001:2:0:1::1:1" },
             Case { "2001:2:0:1:1:1:1:1", "2001:2:0:1:1:1:1:1" },
             Case { "::", "::" },
             Case { "0:0:0:0:0:0:0:1", "::1" },
             Case { "1::", "1::" },
             Case { "::ffff:198.18.0.1", "::ffff:198.18.0.1" },
             Case { "::ffff:c612:1", "::ffff:198.18.0.1" },
             Case { "198.18.0.1", "198.18.0.1" },
             Case { "127.1", "127.0.0.1" },
         }) {
        SCOPED_TRACE(form.written);
        EXPECT_EQ(platform::addressText(ip(form.written)), form.compact);
    }
    EXPECT_TRUE(ip("::1").isV6());
    EXPECT_FALSE(ip("127.0.0.1").isV6());
}

TEST(IpAddress, HostFieldsThatAreNoAddress)
{
    // A name is left for the resolver.
    for (const char* name : { "router.lab", "localhost", "", "255.255.255.255" }) {
        SCOPED_TRACE(name);
        const auto parsed = platform::parseHostAddress(name);
        ASSERT_FALSE(parsed.is_error());
        EXPECT_FALSE(parsed.value());
    }
    struct Case {
        const char* written;
        const char* reason;
    };
    for (const Case& bad : {
             Case { "2001:db8:::1", "the host is no IPv6 address" },
             Case { "2001:db8::1::2", "the host is no IPv6 address" },
             Case { "12345::1", "the host is no IPv6 address" },
             Case { "fe80::1%nosuch0", "the host's zone nosuch0 is no network interface of this machine" },
             Case { "fe80::1%", "the host's zone after % is empty" },
             Case { "[::1]", "an IPv6 address is written without brackets" },
             Case { "host:80", "the host is no IPv6 address" },
         }) {
        SCOPED_TRACE(bad.written);
        const auto parsed = platform::parseHostAddress(bad.written);
        ASSERT_TRUE(parsed.is_error());
        EXPECT_EQ(parsed.error().text(), bad.reason);
    }
}

TEST(IpAddress, EqualityAndHashSeeFamilyBytesAndZone)
{
    const platform::IpAddress loopback4 = ip("127.0.0.1");
    const platform::IpAddress mapped = ip("::ffff:127.0.0.1");
    EXPECT_NE(loopback4, mapped);
    EXPECT_EQ(ip("2001:2::1"), ip("2001:2:0:0:0:0:0:1"));
    platform::IpAddress zoned = ip("fe80::1");
    zoned.scope = 1;
    EXPECT_NE(zoned, ip("fe80::1"));
    std::unordered_set<platform::IpAddress, platform::IpAddressHash> seen { loopback4, mapped, zoned, ip("fe80::1") };
    EXPECT_EQ(seen.size(), 4u);
    EXPECT_EQ(seen.count(ip("127.0.0.1")), 1u);
    EXPECT_EQ(loopback4.ipv4(), platform::parseIpv4("127.0.0.1"));
}
