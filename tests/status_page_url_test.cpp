#include "run/served_page.h"
#include "shell/common/status_page_url.h"

#include <gtest/gtest.h>

using namespace bv;

TEST(StatusPageUrl, TheBoundAddressOrLoopbackForEveryInterface)
{
    EXPECT_EQ(statusPageUrl("127.0.0.1", 9100), "http://127.0.0.1:9100/");
    EXPECT_EQ(statusPageUrl("192.0.2.10", 65535), "http://192.0.2.10:65535/");
    EXPECT_EQ(statusPageUrl("0.0.0.0", 80), "http://127.0.0.1:80/");
    EXPECT_EQ(statusPageUrl("::", 9100), "http://[::1]:9100/");
    EXPECT_EQ(statusPageUrl("::1", 9100), "http://[::1]:9100/");

    EXPECT_EQ(currentStatusPageUrl(), "") << "no run, no page";
    {
        const ServedPlacePublication served({ "0.0.0.0", 9101 });
        EXPECT_EQ(currentStatusPageUrl(), "http://127.0.0.1:9101/");
    }
    EXPECT_EQ(currentStatusPageUrl(), "") << "the server ended";
}
