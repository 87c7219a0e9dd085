#include "platform/name_lookup.h"

#include <gtest/gtest.h>

using namespace bv;

// Only names the hosts file and the resolver answer without the network.
TEST(NameLookup, AnswersAndRefusals)
{
    const auto loopback = platform::lookUpName("127.0.0.1");
    ASSERT_FALSE(loopback.is_error()) << loopback.error().message();
    EXPECT_EQ(loopback.value(), platform::parseIpv4("127.0.0.1"));

#ifndef _WIN32
    // Windows answers an empty name with the machine's own addresses.
    const auto empty = platform::lookUpName("");
    ASSERT_TRUE(empty.is_error());
    EXPECT_FALSE(empty.error().message().empty());
#endif

    const auto named = platform::lookUpAddress(platform::parseIpv4("127.0.0.1"));
    ASSERT_FALSE(named.is_error()) << named.error().message();
    EXPECT_FALSE(named.value().empty());
}
