#include "core/summary.h"

#include "support/test_environment.h"

#include <gtest/gtest.h>

using namespace bv;

TEST(Summary, ExactLinesWithAndWithoutArchiving)
{
    useUtcTimeZone();
    SummaryFacts facts;
    facts.addressCount = 12;
    facts.ttl = 20;
    facts.timeOut = 1000;
    facts.interval = 30000;
    facts.inputFile = "hosts.txt";
    facts.logFile = "out.txt";
    facts.downFile = "down.txt";
    facts.archiveSize = 1024;
    facts.statusTime = 1108980907;
    facts.redCount = 1;
    facts.greenCount = 11;
    facts.overdueCount = 3;
    EXPECT_EQ(formatSummary(facts),
        "Total number of addresses: 12\r\nTTL: 20\r\nTime out: 1000 ms\r\nTime between pings: 30000 ms\r\n\r\n"
        "Input file: hosts.txt\r\nLog file: out.txt\r\nDown file: down.txt\r\nArchiving log after 1024 KB\r\n\r\n"
        "Status as of: Mon Feb 21 10:15:07 2005\r\nRed: 1\r\nYellow: 0\r\nGreen: 11\r\nHosts overdue: 3\r\n");

    facts.archiveSize = 0;
    facts.timeOut = -5;
    facts.addressCount = 0;
    facts.redCount = facts.greenCount = facts.overdueCount = 0;
    EXPECT_EQ(formatSummary(facts),
        "Total number of addresses: 0\r\nTTL: 20\r\nTime out: -5 ms\r\nTime between pings: 30000 ms\r\n\r\n"
        "Input file: hosts.txt\r\nLog file: out.txt\r\nDown file: down.txt\r\n\r\n"
        "Status as of: Mon Feb 21 10:15:07 2005\r\nRed: 0\r\nYellow: 0\r\nGreen: 0\r\nHosts overdue: 0\r\n");
}

TEST(Summary, RoundTripLinesAfterTheOthersOnlyWithReplies)
{
    useUtcTimeZone();
    SummaryFacts facts;
    facts.addressCount = 3;
    facts.statusTime = 1108980907;
    const std::string without = formatSummary(facts);
    EXPECT_EQ(without.find("round trip"), std::string::npos);

    facts.medianRoundTrip = 412;
    facts.slowestName = "db1";
    facts.slowestHostText = "10.0.0.1";
    facts.slowestMedian = 250000;
    EXPECT_EQ(formatSummary(facts), without + "Median round trip: 0.412 ms\r\nSlowest host: db1 10.0.0.1, median 250 ms\r\n");

    std::vector<std::int64_t> none;
    EXPECT_FALSE(medianOf(none));
    std::vector<std::int64_t> odd { 9, 1, 5 };
    EXPECT_EQ(medianOf(odd), 5);
    std::vector<std::int64_t> even { 7, 1, 100, 3 };
    EXPECT_EQ(medianOf(even), 5);
}
