#include "shell/common/all_hosts_rows.h"
#include "shell/common/red_list_rows.h"
#include "shell/qt/all_hosts_window.h"
#include "shell/qt/qt_desktop.h"
#include "shell/qt/red_list_window.h"
#include "platform/lock_hold.h"
#include "support/fake_clock.h"
#include "support/test_environment.h"
#include "support/test_network.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QFontMetrics>
#include <QHeaderView>
#include <QMenu>
#include <QSettings>
#include <QTest>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

using namespace bv;
using namespace std::chrono_literals;

namespace {

bool processUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit = 5000ms)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

QStringList column(QTreeWidget* list, int index)
{
    QStringList cells;
    for (int row = 0; row < list->topLevelItemCount(); ++row)
        cells << list->topLevelItem(row)->text(index);
    return cells;
}

// Hosts whose one reply took these many microseconds; the last is red.
std::vector<AllHostsRow> rowsWithMaxima(const std::vector<std::int64_t>& maxima)
{
    std::vector<AllHostsRow> rows;
    for (std::size_t position = 0; position < maxima.size(); ++position) {
        Address host("h" + std::to_string(position), "127.0.0." + std::to_string(2 + position), "", 1000, 64, 1000);
        host.roundTrips(20).requestSent(0, { 1000000, std::nullopt });
        host.roundTrips(20).replyCame(0, maxima[position]);
        if (position + 1 == maxima.size()) {
            host.setStatus(HostStatus::Red);
            host.setDownSince(0);
        }
        rows.push_back(allHostsRow(host, position, 2000000));
    }
    return rows;
}

struct Settings {
    TemporaryDirectory directory;
    QSettings settings { QString::fromStdString(directory.file("settings.ini")), QSettings::IniFormat };
};

}  // namespace

TEST(AllHostsWindow, RowsSortByNumbersKeepTheSelectionAndCopy)
{
    useUtcTimeZone();
    Settings stored;
    AllHostsWindow window(stored.settings);
    QTreeWidget* list = window.list();
    EXPECT_EQ(window.windowTitle(), "BeaconVigilor All Hosts");
    ASSERT_EQ(list->columnCount(), kAllHostsColumnCount);
    EXPECT_EQ(list->headerItem()->text(kHostsAlarmColumn), "Alarm");

    window.showRows(rowsWithMaxima({ 10000, 9000, 100000 }));
    ASSERT_EQ(list->topLevelItemCount(), 3);
    EXPECT_EQ(column(list, kHostsNameColumn), (QStringList { "h0", "h1", "h2" })) << "list order at first";
    EXPECT_EQ(column(list, kHostsStatusColumn), (QStringList { "Green", "Green", "Red" }));
    EXPECT_EQ(list->topLevelItem(2)->background(kHostsStatusColumn).color(), QColor(230, 0, 0));
    EXPECT_EQ(list->topLevelItem(0)->background(kHostsStatusColumn).color(), QColor(0, 200, 0));
    EXPECT_EQ(list->topLevelItem(2)->text(kHostsDownSinceColumn), "Thu Jan  1 00:00:00 1970");

    // A reload that moves a host moves its row, selected or not.
    std::vector<AllHostsRow> moved = rowsWithMaxima({ 10000, 9000, 100000 });
    std::swap(moved[0].position, moved[2].position);
    list->topLevelItem(0)->setSelected(true);
    window.showRows(moved);
    EXPECT_EQ(column(list, kHostsNameColumn), (QStringList { "h2", "h1", "h0" }));
    ASSERT_EQ(list->selectedItems().size(), 1);
    EXPECT_EQ(list->selectedItems()[0]->text(kHostsNameColumn), "h0");
    list->clearSelection();

    // As numbers, not as text ("10.000 ms" before "9.000 ms").
    list->header()->setSortIndicator(kHostsMaximumColumn, Qt::AscendingOrder);
    EXPECT_EQ(column(list, kHostsMaximumColumn), (QStringList { "9.000 ms", "10.000 ms", "100.000 ms" }));
    list->header()->setSortIndicator(kHostsMaximumColumn, Qt::DescendingOrder);
    EXPECT_EQ(column(list, kHostsNameColumn), (QStringList { "h2", "h0", "h1" }));

    // A refresh keeps the order and the selection; a host that left goes.
    list->topLevelItem(1)->setSelected(true);
    window.showRows(rowsWithMaxima({ 500, 9000, 100000, 7000 }));
    EXPECT_EQ(column(list, kHostsNameColumn), (QStringList { "h2", "h1", "h3", "h0" }));
    ASSERT_EQ(list->selectedItems().size(), 1);
    EXPECT_EQ(list->selectedItems()[0]->text(kHostsNameColumn), "h0");
    std::vector<AllHostsRow> fewer = rowsWithMaxima({ 500, 9000 });
    window.showRows(fewer);
    EXPECT_EQ(column(list, kHostsNameColumn), (QStringList { "h1", "h0" }));

    QApplication::clipboard()->setText("before");
    list->clearSelection();
    QTest::keyClick(list, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text().toStdString(), "before") << "nothing selected";
    list->topLevelItem(0)->setSelected(true);
    list->topLevelItem(1)->setSelected(true);
    QTest::keyClick(list, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text().toStdString(),
        allHostsCopyText({ fewer[1].cells, fewer[0].cells }, "\n"));
    EXPECT_TRUE(QApplication::clipboard()->text().startsWith("Name\tHost\tStatus\tLatest\t"));
}

TEST(AllHostsWindow, DatesFitAndTheLayoutIsRemembered)
{
    Settings stored;
    const QString date = QStringLiteral("Wed Dec  9 01:32:50 2026");
    QRect placed;
    {
        AllHostsWindow window(stored.settings);
        RedListWindow redList(stored.settings);
        window.restoreSettings();
        redList.restoreSettings();
        const QFontMetrics metrics(window.list()->font());
        EXPECT_GT(window.list()->columnWidth(kHostsDownSinceColumn), metrics.horizontalAdvance(date) + 8);
        for (int column : { kDownSinceColumn, kLatestPingColumn })
            EXPECT_GT(redList.list()->columnWidth(column),
                QFontMetrics(redList.list()->font()).horizontalAdvance(date) + 8);
        EXPECT_EQ(redList.list()->columnWidth(kIpColumn), kRedListDefaultWidths[kIpColumn]);

        window.showAllHosts();
        ASSERT_TRUE(processUntil([&] { return window.isVisible() && window.watched(); }));
        window.setGeometry(30, 40, 700, 300);
        for (int column = 0; column < kAllHostsColumnCount; ++column)
            window.list()->setColumnWidth(column, 60 + column);
        placed = window.geometry();
        window.storeSettings();
        window.hide();
        EXPECT_FALSE(window.watched());
    }
    EXPECT_EQ(stored.settings.value("AllHostsColumnWidth8").toInt(), 68);
    EXPECT_FALSE(stored.settings.contains("ColumnWidth0")) << "the red list's own names stay apart";
    QFont bigger = QApplication::font();
    bigger.setPointSize(bigger.pointSize() + 9);
    stored.settings.setValue("AllHostsFont", bigger.toString());
    AllHostsWindow window(stored.settings);
    window.restoreSettings();
    EXPECT_TRUE(window.isVisible()) << "open when stored";
    EXPECT_EQ(window.geometry().size(), placed.size());
    EXPECT_EQ(window.list()->font().pointSize(), bigger.pointSize());
    for (int column = 0; column < kAllHostsColumnCount; ++column)
        EXPECT_EQ(window.list()->columnWidth(column), 60 + column) << "a stored width wins";
    // Without stored widths the date column follows the chosen font.
    for (int column = 0; column < kAllHostsColumnCount; ++column)
        stored.settings.remove(QString::fromStdString(allHostsColumnWidthSetting(column)));
    AllHostsWindow fresh(stored.settings);
    fresh.restoreSettings();
    EXPECT_GT(fresh.list()->columnWidth(kHostsDownSinceColumn),
        QFontMetrics(fresh.list()->font()).horizontalAdvance(date) + 8);
    fresh.hide();
    window.hide();
}

TEST(AllHostsWindow, TrayItemOpensItAndSweepPassesFeedItWhileOpen)
{
    Settings stored;
    RedListWindow redList(stored.settings);
    QtDesktop desktop(redList, false, {});
    std::unique_ptr<QMenu> menu = desktop.buildMenu();
    ASSERT_EQ(menu->actions().size(), 16);
    QAction* item = menu->actions().back();
    EXPECT_EQ(item->text(), "All Hosts");

    ExitFlagReset exitFlag;
    FakeClock clock;
    TestNetwork test("first 127.0.0.2\nsecond 127.0.0.3\n", clock);
    AllHostsWindow& window = desktop.allHostsWindow();
    item->trigger();
    ASSERT_TRUE(window.isVisible());
    // Opened while the run's list was free: the rows at once.
    EXPECT_EQ(column(window.list(), kHostsNameColumn), (QStringList { "first", "second" }));

    Address& second = *test.network->host(1);
    {
        platform::MutexHold hosts(test.network->vectorMutex(), "vector mutex cannot be released");
        second.roundTrips(20).requestSent(0, { clock.monotonicMicroseconds(), std::nullopt });
        second.roundTrips(20).replyCame(0, 1500);
    }
    std::thread([&] { desktop.sweepPassDone(); }).join();
    EXPECT_TRUE(processUntil([&] { return window.list()->topLevelItem(1)->text(kHostsLatestColumn) == "1.500 ms"; }));

    // Closed, the sweep builds nothing for it.
    window.hide();
    {
        platform::MutexHold hosts(test.network->vectorMutex(), "vector mutex cannot be released");
        second.setStatus(HostStatus::Red);
    }
    std::thread([&] { desktop.sweepPassDone(); }).join();
    QApplication::processEvents();
    EXPECT_EQ(window.list()->topLevelItem(1)->text(kHostsStatusColumn), "Green");
    item->trigger();
    EXPECT_EQ(window.list()->topLevelItem(1)->text(kHostsStatusColumn), "Red");
    desktop.beginClosing();
    window.hide();
}
