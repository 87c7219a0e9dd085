#include "core/host_history.h"

#include <gtest/gtest.h>

using namespace bv;

namespace {

constexpr std::int64_t kStart = 1'800'000'000;  // a multiple of 600

}  // namespace

TEST(HostHistory, TheStripKeepsTheLatestSixtyOldestFirst)
{
    HostHistory history(kStart);
    std::array<HostHistory::Outcome, HostHistory::kStripLength> strip;
    EXPECT_EQ(history.strip(strip), 0u);
    for (int request = 0; request < 65; ++request) {
        if (request % 5 == 4)
            history.unanswered(kStart + request * 5);
        else
            history.answered(kStart + request * 5, 1000 + request);
    }
    ASSERT_EQ(history.strip(strip), 60u);
    EXPECT_EQ(strip[0].at, kStart + 5 * 5) << "the first five left";
    EXPECT_EQ(strip[0].roundTrip, 1005);
    EXPECT_FALSE(strip[59].answered()) << "request 64";
    EXPECT_EQ(strip[58].roundTrip, 1063);
}

TEST(HostHistory, TheChartHasTheLastHourByTheMinute)
{
    HostHistory history(kStart);
    history.answered(kStart + 10, 2000);
    history.answered(kStart + 20, 4000);
    history.answered(kStart + 130, 100);  // two minutes on; the minute between has none
    std::array<HostHistory::Minute, HostHistory::kChartMinutes> chart;
    ASSERT_EQ(history.chart(kStart + 140, chart), 2u);
    EXPECT_EQ(chart[0].start, kStart);
    EXPECT_EQ(chart[0].replies, 2u);
    EXPECT_EQ(chart[0].mean, 3000);
    EXPECT_EQ(chart[0].maximum, 4000);
    EXPECT_EQ(chart[1].start, kStart + 120);

    // An hour on, the first minute has left the chart; the cell it used is
    // written anew and shows only the new minute's reply.
    history.answered(kStart + 3600 + 5, 700);
    ASSERT_EQ(history.chart(kStart + 3600 + 6, chart), 2u);
    EXPECT_EQ(chart[0].start, kStart + 120);
    EXPECT_EQ(chart[1].start, kStart + 3600);
    EXPECT_EQ(chart[1].mean, 700);
    // Hours of silence: nothing is left. A clock set back writes nothing into
    // the past and breaks nothing.
    EXPECT_EQ(history.chart(kStart + 5 * 3600, chart), 0u);
    history.answered(kStart - 86400, 50);
    EXPECT_LE(history.chart(kStart, chart), HostHistory::kChartMinutes);
}

TEST(HostHistory, UptimeOfTheSpanTheRunHasSeen)
{
    HostHistory history(kStart);
    std::int64_t seen = -1;
    EXPECT_FALSE(history.uptime(kStart, 3600, seen));
    EXPECT_EQ(seen, 0);

    // Half an hour seen, 3 minutes of it down: the hour's uptime is of the
    // half hour the run has seen, and says so.
    for (int second = 0; second < 180; ++second)
        history.down(kStart + 600 + second, 1000);
    const auto hour = history.uptime(kStart + 1800, 3600, seen);
    ASSERT_TRUE(hour);
    EXPECT_EQ(seen, 1800);
    EXPECT_DOUBLE_EQ(*hour, 1.0 - 180.0 / 1800);

    // A day and a half on, the down time has left the day's window.
    const std::int64_t later = kStart + 36 * 3600;
    const auto day = history.uptime(later, 86400, seen);
    ASSERT_TRUE(day);
    EXPECT_EQ(seen, 86400 - 600) << "whole ten minutes, the current one just begun";
    EXPECT_DOUBLE_EQ(*day, 1.0);
    // A slot never holds more down time than it lasts.
    for (int pass = 0; pass < 2000; ++pass)
        history.down(later + 1, 1000);
    EXPECT_GE(*history.uptime(later + 1, 600, seen), 0.0);
}
