#include "shell/common/all_hosts_rows.h"

#include "platform/lock_hold.h"
#include "support/fake_clock.h"
#include "support/test_environment.h"
#include "support/test_network.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

using namespace bv;

namespace {

using Cells = std::array<std::string, kAllHostsColumnCount>;

// Replies with these round trips (microseconds), then one request that
// timed out, all well before `now`.
void answer(Address& host, const std::vector<std::int64_t>& roundTrips, bool oneLost)
{
    std::uint16_t sequence = 0;
    for (const std::int64_t roundTrip : roundTrips) {
        host.roundTrips(20).requestSent(sequence, { 1000000, std::nullopt });
        ASSERT_TRUE(host.roundTrips(20).replyCame(sequence++, roundTrip));
    }
    if (oneLost)
        host.roundTrips(20).requestSent(sequence, { 1000000, std::nullopt });
}

constexpr std::int64_t kNow = 100000000;

}  // namespace

TEST(AllHostsRows, CellsAndSortKeysOfEachKindOfHost)
{
    useUtcTimeZone();
    Address fresh("alpha", "127.0.0.2", "", 1000, 64, 1000);
    AllHostsRow row = allHostsRow(fresh, 4, kNow);
    EXPECT_EQ(row.key, "127.0.0.2");
    EXPECT_EQ(row.position, 4u);
    EXPECT_EQ(row.cells, (Cells { "alpha", "127.0.0.2", "Green", "", "", "", "", "", "" }));
    EXPECT_EQ(row.sortKeys[kHostsStatusColumn], 0);
    for (int column : { kHostsLatestColumn, kHostsMedianColumn, kHostsMaximumColumn, kHostsLossColumn,
             kHostsDownSinceColumn })
        EXPECT_EQ(row.sortKeys[column], kNoSortKey) << column;

    // Replies and a loss; the latest is the last reply, not the largest.
    Address answering("beta", "127.0.0.3", "", 1000, 64, 1000);
    answer(answering, { 1234, 20000, 123 }, true);
    answering.setStatus(HostStatus::Yellow);
    answering.alarms().slow = true;
    row = allHostsRow(answering, 0, kNow);
    EXPECT_EQ(row.cells,
        (Cells { "beta", "127.0.0.3", "Yellow", "0.123 ms", "1.234 ms", "20.000 ms", "25 %", "", "slow" }));
    EXPECT_EQ(row.sortKeys[kHostsStatusColumn], 1);
    EXPECT_EQ(row.sortKeys[kHostsLatestColumn], 123);
    EXPECT_EQ(row.sortKeys[kHostsMedianColumn], 1234);
    EXPECT_EQ(row.sortKeys[kHostsMaximumColumn], 20000);
    EXPECT_EQ(row.sortKeys[kHostsLossColumn], 250000);

    // Red, every request lost: a loss but no round trips; a status the
    // files do not know reads as red.
    Address down("gamma", "127.0.0.4", "", 1000, 64, 1000);
    answer(down, {}, true);
    down.setStatus(static_cast<HostStatus>(7));
    down.setDownSince(60);
    down.alarms().slow = true;
    down.alarms().loss = true;
    row = allHostsRow(down, 1, kNow);
    EXPECT_EQ(row.cells,
        (Cells { "gamma", "127.0.0.4", "Red", "", "", "", "100 %", "Thu Jan  1 00:01:00 1970", "slow, loss" }));
    EXPECT_EQ(row.status, HostStatus::Red);
    EXPECT_EQ(row.sortKeys[kHostsDownSinceColumn], 60);
    down.alarms().slow = false;
    EXPECT_EQ(allHostsRow(down, 1, kNow).cells[kHostsAlarmColumn], "loss");

    // A request younger than the time-out is neither answered nor lost.
    Address waiting("delta", "127.0.0.5", "", 1000, 64, 1000);
    waiting.roundTrips(20).requestSent(0, { kNow - 1000, std::nullopt });
    EXPECT_EQ(allHostsRow(waiting, 2, kNow).cells[kHostsLossColumn], "");

    EXPECT_EQ(formatMilliseconds(0), "0.000 ms");
    EXPECT_EQ(formatMilliseconds(1234567), "1234.567 ms");
    EXPECT_EQ(formatMilliseconds(1050), "1.050 ms");
}

TEST(AllHostsRows, NumericColumnsSortByNumbersAndCopyTextHasTheTitles)
{
    std::vector<AllHostsRow> rows;
    const std::vector<std::int64_t> maxima = { 10000, 9000, 100000 };
    for (std::size_t position = 0; position < maxima.size(); ++position) {
        Address host("h" + std::to_string(position), "127.0.0." + std::to_string(2 + position), "", 1000, 64, 1000);
        answer(host, { maxima[position] }, false);
        rows.push_back(allHostsRow(host, position, kNow));
    }
    rows.push_back(allHostsRow(Address("quiet", "127.0.0.9", "", 1000, 64, 1000), 3, kNow));
    const auto order = [&](int column) {
        std::vector<AllHostsRow> sorted = rows;
        std::sort(sorted.begin(), sorted.end(),
            [column](const AllHostsRow& a, const AllHostsRow& b) { return allHostsRowBefore(a, b, column); });
        std::vector<std::string> names;
        for (const AllHostsRow& row : sorted)
            names.push_back(row.cells[kHostsNameColumn]);
        return names;
    };
    // As text "10.000 ms" would come before "9.000 ms"; an empty cell first.
    EXPECT_EQ(order(kHostsMaximumColumn), (std::vector<std::string> { "quiet", "h1", "h0", "h2" }));
    EXPECT_EQ(order(kHostsNameColumn), (std::vector<std::string> { "h0", "h1", "h2", "quiet" }));
    // Ties, and no column, keep list order.
    EXPECT_EQ(order(kHostsStatusColumn), (std::vector<std::string> { "h0", "h1", "h2", "quiet" }));
    EXPECT_EQ(order(-1), (std::vector<std::string> { "h0", "h1", "h2", "quiet" }));
    EXPECT_TRUE(allHostsColumnIsNumeric(kHostsLossColumn));
    EXPECT_FALSE(allHostsColumnIsNumeric(kHostsAlarmColumn));

    EXPECT_EQ(allHostsCopyText({}, "\n"), "");
    EXPECT_EQ(allHostsCopyText({ rows[1].cells, rows[3].cells }, "\r\n"),
        "Name\tHost\tStatus\tLatest\tMedian\tMaximum\tLoss\tDown Since\tAlarm\r\n"
        "h1\t127.0.0.3\tGreen\t9.000 ms\t9.000 ms\t9.000 ms\t0 %\t\t\r\n"
        "quiet\t127.0.0.9\tGreen\t\t\t\t\t\t\r\n");
    EXPECT_EQ(allHostsColumnWidthSetting(8), "AllHostsColumnWidth8");
}

TEST(AllHostsRows, TheLiveRunsHostsInListOrder)
{
    EXPECT_FALSE(currentAllHostsRows().has_value()) << "no run";
    ExitFlagReset exitFlag;
    FakeClock clock;
    TestNetwork test("first 127.0.0.2\nsecond 127.0.0.3\n", clock);
    Network& network = *test.network;
    network.host(1)->roundTrips(20).requestSent(0, { clock.monotonicMicroseconds(), std::nullopt });
    ASSERT_TRUE(network.host(1)->roundTrips(20).replyCame(0, 2500));
    std::optional<std::vector<AllHostsRow>> rows = currentAllHostsRows();
    ASSERT_TRUE(rows.has_value());
    ASSERT_EQ(rows->size(), 2u);
    EXPECT_EQ((*rows)[0].cells[kHostsNameColumn], "first");
    EXPECT_EQ((*rows)[1].cells[kHostsHostColumn], "127.0.0.3");
    EXPECT_EQ((*rows)[1].cells[kHostsLatestColumn], "2.500 ms");
    EXPECT_EQ((*rows)[1].position, 1u);

    // Held by another thread: nothing, at once.
    std::optional<std::vector<AllHostsRow>> busy;
    {
        platform::MutexHold hosts(network.vectorMutex(), "vector mutex cannot be released");
        std::thread([&] { busy = currentAllHostsRows(3); }).join();
    }
    EXPECT_FALSE(busy.has_value());
}
