#include "output/log_outages.h"
#include "support/test_environment.h"

#include <gtest/gtest.h>

namespace bv {

namespace {

const char* const kLog
    = "Mon Feb 21 10:00:00 2005\tGREEN\tweb-1\t10.0.0.7\tfront end\t30.000000\r\n"  // its RED lies before
      "\r\n"
      "Mon Feb 21 10:15:07 2005\tRED\trouter-2\t10.0.0.2\tcore switch\t\tTimed out\r\n"
      "Mon Feb 21 10:15:07 2005\tRED\tweb-1\t10.0.0.7\tfront end\t\tDestination unreachable\r\n"
      "\r\n"
      "broken line without fields\r\n"
      "Mon Feb 21 10:15:12 2005\tGREEN\tweb-1\t10.0.0.7\tfront end\t5.000000\r\n"
      "Mon Feb 21 10:15:12 2005\tGREEN\tweb-1\t10.0.0.8\tanother host of that name\t5.000000\r\n"
      "\r\n"
      "Mon Feb 21 11:00:00 2005\tRED\tweb-1\t10.0.0.7\tfront end\t\tTimed out\r\n"
      "Mon Feb 21 11:00:05 2005\tGREEN\tweb-1\t10.0.0.7\tfront";  // not yet finished

}  // namespace

TEST(LogOutages, PairsAHostsRedAndGreenLinesNewestFirst)
{
    const std::vector<LogOutage> outages = outagesInLog(kLog, "web-1", "10.0.0.7", 10);
    ASSERT_EQ(outages.size(), 3u);
    // The last RED has no GREEN yet: the unfinished line is not read.
    EXPECT_EQ(outages[0].down, "Mon Feb 21 11:00:00 2005");
    EXPECT_FALSE(outages[0].up);
    EXPECT_EQ(outages[0].error, "Timed out");
    EXPECT_EQ(outages[1].down, "Mon Feb 21 10:15:07 2005");
    EXPECT_EQ(outages[1].up, "Mon Feb 21 10:15:12 2005");
    EXPECT_EQ(outages[1].seconds, "5.000000");
    EXPECT_EQ(outages[1].error, "Destination unreachable");
    EXPECT_FALSE(outages[2].down);
    EXPECT_EQ(outages[2].up, "Mon Feb 21 10:00:00 2005");

    EXPECT_EQ(outagesInLog(kLog, "web-1", "10.0.0.7", 1).size(), 1u);
    EXPECT_EQ(outagesInLog(kLog, "router-2", "10.0.0.2", 10).size(), 1u);
    EXPECT_TRUE(outagesInLog(kLog, "router", "10.0.0.2", 10).empty());
    EXPECT_TRUE(outagesInLog("", "web-1", "10.0.0.7", 10).empty());
}

TEST(LogOutages, TheTailStartsAtAWholeLine)
{
    TemporaryDirectory directory;
    const std::string log = directory.file("out.txt");
    EXPECT_EQ(logTail(log, 100), "");
    writeFile(log, "first line\r\nsecond line\r\nthird\r\n");
    EXPECT_EQ(logTail(log, 1000), "first line\r\nsecond line\r\nthird\r\n");
    // 15 bytes back from the end is inside "second line".
    EXPECT_EQ(logTail(log, 15), "third\r\n");
    EXPECT_EQ(logTail(log, 3), "");
    EXPECT_EQ(logTail(directory.path(), 100), "");
}

}  // namespace bv
