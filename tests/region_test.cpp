#include "core/region.h"

#include "support/test_environment.h"

#include "support/addresses.h"

#include <gtest/gtest.h>

#include <vector>

using namespace bv;

namespace {

std::unique_ptr<Address> record(const std::string& name, const std::string& hostText)
{
    return std::make_unique<Address>(name, hostText, "", 30000, 20, 1000);
}

}  // namespace

TEST(Region, RunWideValues)
{
    Region region("hosts.txt", 30000, 20, 1000, 44, 1234);
    EXPECT_EQ(region.getName(), "hosts.txt");
    EXPECT_EQ(region.getComment(), "hosts.txt");
    EXPECT_EQ(region.getHostText(), "");
    EXPECT_EQ(region.getInterval(), 30000);
    EXPECT_EQ(region.getTtl(), 20);
    EXPECT_EQ(region.getPingTtl(), 20);
    EXPECT_EQ(region.getTimeOut(), 1000);
    EXPECT_EQ(region.getPacketSize(), 44);
    EXPECT_EQ(region.getStatusTime(), 1234);
    EXPECT_EQ(region.hostCount(), 0u);
    EXPECT_EQ(region.getText(), "");
    EXPECT_FALSE(region.getHasNamedHosts());
    EXPECT_EQ(region.getRedCount() + region.getYellowCount() + region.getGreenCount(), 0);
}

TEST(Region, UniqueByteWiseIndexInLoadOrder)
{
    useUtcTimeZone();
    Region region("hosts.txt", 30000, 20, 1000, 44, 0);
    auto first = record("first", "10.0.0.1");
    Address* firstRecord = first.get();
    ASSERT_TRUE(region.addAddress(first));
    EXPECT_EQ(first, nullptr);

    auto duplicate = record("second", "10.0.0.1");
    EXPECT_FALSE(region.addAddress(duplicate));
    ASSERT_NE(duplicate, nullptr);  // still the caller's
    EXPECT_EQ(region.findHost("10.0.0.1"), firstRecord);

    // Another text of the same address is the same host, in either family;
    // for a name letter case counts.
    for (const char* same : { "10.0.0.01", "10.1" }) {
        auto other = record(same, same);
        EXPECT_FALSE(region.addAddress(other)) << same;
    }
    for (const char* text : { "10.0.0.2", "Mail", "mail", "2001:2::A" }) {
        auto other = record(text, text);
        EXPECT_TRUE(region.addAddress(other)) << text;
    }
    auto sameSix = record("2001:2:0:0:0:0:0:a", "2001:2:0:0:0:0:0:a");
    EXPECT_FALSE(region.addAddress(sameSix));
    EXPECT_EQ(region.findHost(test::ip("2001:2::a"))->getName(), "2001:2::A");
    // Bytes above 0x7F compare as unsigned and still find themselves.
    auto high = record("high", "h\xe9te");
    EXPECT_TRUE(region.addAddress(high));

    ASSERT_EQ(region.hostCount(), 6u);
    EXPECT_EQ(region.host(0)->getName(), "first");
    EXPECT_EQ(region.host(1)->getName(), "10.0.0.2");
    EXPECT_EQ(region.host(4)->getName(), "2001:2::A");
    EXPECT_EQ(region.findHost("mail")->getName(), "mail");
    EXPECT_EQ(region.findHost("Mail")->getName(), "Mail");
    EXPECT_EQ(region.findHost("MAIL"), nullptr);
    EXPECT_EQ(region.findHost("h\xe9te")->getName(), "high");
    EXPECT_EQ(region.findHost("10.0.0.1 "), nullptr);

    const std::string text = region.getText();
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 6);
    EXPECT_EQ(text.substr(0, text.find("\r\n")), region.host(0)->getText());
}

// Tens of thousands of hosts: every record keeps its place and its key
// while the list grows past its room many times over.
TEST(Region, ManyHostsKeepOrderAndIndex)
{
    Region region("hosts.txt", 30000, 20, 1000, 44, 0);
    constexpr int kCount = 30000;
    std::vector<Address*> added;
    for (int i = 0; i < kCount; ++i) {
        const std::string text = "127." + std::to_string(1 + i / 65536) + "." + std::to_string((i / 256) % 256) + "."
            + std::to_string(i % 256);
        auto next = record("h" + std::to_string(i), text);
        added.push_back(next.get());
        ASSERT_TRUE(region.addAddress(next)) << text;
    }
    ASSERT_EQ(region.hostCount(), static_cast<std::size_t>(kCount));
    for (int i = 0; i < kCount; i += 997) {
        EXPECT_EQ(region.host(static_cast<std::size_t>(i)), added[static_cast<std::size_t>(i)]);
        EXPECT_EQ(region.findHost(added[static_cast<std::size_t>(i)]->getHostText()), added[static_cast<std::size_t>(i)]);
    }
    auto again = record("again", added.back()->getHostText());
    EXPECT_FALSE(region.addAddress(again));
    EXPECT_EQ(region.hostCount(), static_cast<std::size_t>(kCount));
}
