#include "platform/name_lookup.h"

#include <gtest/gtest.h>

using namespace bv;

// Only names the hosts file and the resolver answer without the network.
TEST(NameLookup, AnswersAndRefusals)
{
    const auto loopback = platform::lookUpName("127.0.0.1");
    ASSERT_FALSE(loopback.is_error()) << loopback.error().message();
    ASSERT_TRUE(loopback.value().v4);
    EXPECT_EQ(*loopback.value().v4, platform::IpAddress::fromIpv4(platform::parseIpv4("127.0.0.1")));
    EXPECT_FALSE(loopback.value().v6);
    const auto six = platform::lookUpName("::1");
    ASSERT_FALSE(six.is_error()) << six.error().message();
    EXPECT_FALSE(six.value().v4);
    ASSERT_TRUE(six.value().v6);
    EXPECT_EQ(platform::addressText(*six.value().v6), "::1");

#ifndef _WIN32
    // Windows answers an empty name with the machine's own addresses.
    const auto empty = platform::lookUpName("");
    ASSERT_TRUE(empty.is_error());
    EXPECT_FALSE(empty.error().message().empty());
#endif

    const auto named = platform::lookUpAddress(platform::IpAddress::fromIpv4(platform::parseIpv4("127.0.0.1")));
    ASSERT_FALSE(named.is_error()) << named.error().message();
    EXPECT_FALSE(named.value().empty());
}
