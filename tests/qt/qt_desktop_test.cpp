#include "core/address.h"
#include "core/monitor_events.h"
#include "run/served_page.h"
#include "shell/common/red_list_rows.h"
#include "shell/qt/about_box.h"
#include "shell/qt/help_page.h"
#include "shell/qt/menu_start.h"
#include "shell/qt/qt_desktop.h"
#include "shell/qt/raw_socket_advice.h"
#include "shell/qt/red_list_window.h"
#include "shell/qt/tray_look.h"
#include "support/child_process.h"
#include "support/recording_desktop.h"
#include "support/test_environment.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFileInfo>
#include <QFontDialog>
#include <QFontMetrics>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QSettings>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QTreeWidget>
#include <QMenuBar>
#include <QRegularExpression>
#include <QTest>
#include <QUrl>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <grp.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

using namespace bv;

namespace {

using namespace std::chrono_literals;

Address host(const std::string& name, const std::string& ip, const std::string& comment)
{
    return Address(name, ip, comment, 60, 64, 1000);
}

QStringList row(QTreeWidget* list, int index)
{
    QStringList cells;
    QTreeWidgetItem* item = list->topLevelItem(index);
    for (int column = 0; item && column < list->columnCount(); ++column)
        cells << item->text(column);
    return cells;
}

// Runs the GUI loop until `condition` holds or `limit` passes.
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

// Closes the next modal widget with `close` once it shows up.
void whenModal(std::function<void(QWidget*)> close)
{
    auto* timer = new QTimer;
    auto tries = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, [timer, close, tries] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            timer->deleteLater();
            close(modal);
        } else if (++*tries > 250) {
            timer->deleteLater();
        }
    });
    timer->start(20);
}

QMessageBox* openMessageBox()
{
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->isVisible())
            return box;
    return nullptr;
}

// Closes the next message box with `close` once it shows up; the boxes
// block nothing, so it is looked for among the windows.
void whenMessageBox(std::function<void(QMessageBox*)> close)
{
    auto* timer = new QTimer;
    auto tries = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, [timer, close, tries] {
        if (QMessageBox* box = openMessageBox()) {
            timer->deleteLater();
            close(box);
        } else if (++*tries > 250) {
            timer->deleteLater();
        }
    });
    timer->start(20);
}

QColor centreColour(const QIcon& icon)
{
    return icon.pixmap(16, 16).toImage().pixelColor(8, 7);
}

struct Fixture {
    TemporaryDirectory directory;
    QSettings settings { QString::fromStdString(directory.file("settings.ini")), QSettings::IniFormat };
    std::vector<QUrl> opened;
    RedListWindow window { settings };
    QtDesktop desktop { window, false, [this](const QUrl& url) { opened.push_back(url); } };
};

}  // namespace

TEST(RedListWindow, RowsFollowTheNoticesAndTheTrayTurnsRed)
{
    useUtcTimeZone();
    Fixture fixture;
    QTreeWidget* list = fixture.window.list();
    Address first = host("alpha", "127.0.0.2", "first host");
    Address second = host("beta", "127.0.0.3", "second host");
    fixture.desktop.setTrayState(TrayState::Green);

    first.setStatus(HostStatus::Yellow);
    fixture.desktop.addressChanged(first);
    EXPECT_EQ(list->topLevelItemCount(), 0);
    EXPECT_EQ(fixture.desktop.trayState(), TrayState::Green);

    first.setStatus(HostStatus::Red);
    first.setDownSince(0);
    first.setErrorText("Timed out");
    first.setLastSendTime(60);
    fixture.desktop.addressChanged(first);
    ASSERT_EQ(list->topLevelItemCount(), 1);
    EXPECT_EQ(row(list, 0), (QStringList { "127.0.0.2", "first host", "Thu Jan  1 00:00:00 1970", "Timed out",
                                "Thu Jan  1 00:01:00 1970", "alpha" }));
    EXPECT_EQ(fixture.desktop.trayState(), TrayState::Red);

    second.setStatus(HostStatus::Red);
    second.setDownSince(120);
    second.setErrorText("Destination unreachable");
    second.setLastSendTime(120);
    fixture.desktop.addressChanged(second);
    ASSERT_EQ(list->topLevelItemCount(), 2);
    EXPECT_EQ(row(list, 0)[0], "127.0.0.3");
    EXPECT_EQ(row(list, 1)[0], "127.0.0.2");

    // Still red: only "Error" and "Latest Ping" change, in place.
    fixture.desktop.setTrayState(TrayState::Green);
    first.setErrorText("TTL expired");
    first.setLastSendTime(3600);
    first.setComment("changed comment");
    first.setName("changed name");
    first.setDownSince(7200);
    fixture.desktop.addressStillRed(first);
    EXPECT_EQ(row(list, 1), (QStringList { "127.0.0.2", "first host", "Thu Jan  1 00:00:00 1970", "TTL expired",
                                "Thu Jan  1 01:00:00 1970", "alpha" }));
    EXPECT_EQ(fixture.desktop.trayState(), TrayState::Red);

    // Recovery removes the row but leaves the tray for the next sweep.
    fixture.desktop.setTrayState(TrayState::Red);
    first.setStatus(HostStatus::Green);
    fixture.desktop.addressChanged(first);
    ASSERT_EQ(list->topLevelItemCount(), 1);
    EXPECT_EQ(row(list, 0)[0], "127.0.0.3");
    EXPECT_EQ(fixture.desktop.trayState(), TrayState::Red);

    // A notice for a host without a row changes nothing.
    Address stranger = host("gamma", "127.0.0.4", "");
    fixture.desktop.addressStillRed(stranger);
    stranger.setStatus(HostStatus::Green);
    fixture.desktop.addressChanged(stranger);
    EXPECT_EQ(list->topLevelItemCount(), 1);

    // Exact text match: a prefix is another host.
    Address prefix = host("delta", "127.0.0.", "");
    prefix.setStatus(HostStatus::Green);
    fixture.desktop.addressChanged(prefix);
    EXPECT_EQ(list->topLevelItemCount(), 1);
}

TEST(RedListWindow, LooksAndDefaults)
{
    Fixture fixture;
    RedListWindow& window = fixture.window;
    QTreeWidget* list = window.list();
    EXPECT_EQ(window.windowTitle(), "BeaconVigilor Red List");
    ASSERT_EQ(list->columnCount(), 6);
    const QStringList titles { "IP", "Comment", "Down Since", "Error", "Latest Ping", "Name" };
    const int widths[] = { 250, 100, 150, 200, 150, 150 };
    window.restoreSettings();
    // The dates are whole in the list's font: at least their fallback.
    const int dateWidth = QFontMetrics(list->font()).horizontalAdvance("Wed Dec  9 01:32:50 2026");
    for (int column = 0; column < 6; ++column) {
        EXPECT_EQ(list->headerItem()->text(column), titles[column]);
        if (column == kDownSinceColumn || column == kLatestPingColumn) {
            EXPECT_GE(list->columnWidth(column), widths[column]) << column;
            EXPECT_GT(list->columnWidth(column), dateWidth) << column;
        } else {
            EXPECT_EQ(list->columnWidth(column), widths[column]) << column;
        }
    }
    EXPECT_FALSE(window.isVisible());
    EXPECT_FALSE(list->isSortingEnabled());
    EXPECT_FALSE(list->header()->sectionsClickable());
    EXPECT_EQ(list->selectionMode(), QAbstractItemView::ExtendedSelection);
    ASSERT_EQ(list->actions().size(), 1);
    EXPECT_EQ(list->actions()[0]->text(), "Choose &Font...");

    window.show();
    window.resize(600, 300);
    ASSERT_TRUE(processUntil([&] { return window.centralWidget()->width() == 600; }));
    const QRect area = list->geometry();
    EXPECT_EQ(area.topLeft(), QPoint(2, 2));
    EXPECT_EQ(area.width(), window.centralWidget()->width() - 4);
    EXPECT_EQ(area.height(), window.centralWidget()->height() - 4);
}

TEST(RedListWindow, SettingsRoundTrip)
{
    TemporaryDirectory directory;
    const QString path = QString::fromStdString(directory.file("settings.ini"));
    QRect placed;
    {
        QSettings settings(path, QSettings::IniFormat);
        RedListWindow window(settings);
        window.restoreSettings();
        window.showRedList();
        window.setGeometry(40, 50, 640, 320);
        ASSERT_TRUE(processUntil([&] { return window.isVisible(); }));
        const int widths[] = { 90, 91, 92, 93, 94, 95 };
        for (int column = 0; column < 6; ++column)
            window.list()->setColumnWidth(column, widths[column]);
        placed = window.geometry();
        window.storeSettings();
    }
    {
        QSettings settings(path, QSettings::IniFormat);
        EXPECT_EQ(settings.value("ColumnWidth4").toInt(), 94);
        EXPECT_FALSE(settings.contains("ColumnWidth5"));
        RedListWindow window(settings);
        window.restoreSettings();
        EXPECT_TRUE(window.isVisible());
        EXPECT_EQ(window.geometry().size(), placed.size());
        for (int column = 0; column < 5; ++column)
            EXPECT_EQ(window.list()->columnWidth(column), 90 + column);
        EXPECT_EQ(window.list()->columnWidth(5), 150);
        // Hidden at exit: stays hidden next time.
        window.hide();
        window.storeSettings();
    }
    {
        QSettings settings(path, QSettings::IniFormat);
        RedListWindow window(settings);
        window.restoreSettings();
        EXPECT_FALSE(window.isVisible());
        // Values of the wrong kind are ignored.
        settings.setValue("ColumnWidth0", "wide");
        settings.setValue("WindowPlacement", 17);
        settings.setValue("Font", 3);
        RedListWindow other(settings);
        const QFont before = other.list()->font();
        other.restoreSettings();
        EXPECT_EQ(other.list()->columnWidth(0), kRedListDefaultWidths[0]);
        EXPECT_FALSE(other.isVisible());
        EXPECT_EQ(other.list()->font(), before);
    }
}

TEST(RedListWindow, FontChooserCancelKeepsAndConfirmStores)
{
    Fixture fixture;
    QTreeWidget* list = fixture.window.list();
    const QFont before = list->font();

    whenModal([](QWidget* modal) { static_cast<QDialog*>(modal)->reject(); });
    fixture.window.chooseFont();
    EXPECT_EQ(list->font(), before);
    EXPECT_FALSE(fixture.settings.contains("Font"));

    QFont wanted = before;
    wanted.setPointSize(before.pointSize() + 5);
    whenModal([wanted](QWidget* modal) {
        auto* dialog = qobject_cast<QFontDialog*>(modal);
        if (!dialog)
            return;
        dialog->setCurrentFont(wanted);
        dialog->accept();
    });
    fixture.window.chooseFont();
    EXPECT_EQ(list->font().pointSize(), wanted.pointSize());
    EXPECT_EQ(list->font().family(), wanted.family());
    ASSERT_TRUE(fixture.settings.contains("Font"));

    RedListWindow again(fixture.settings);
    again.restoreSettings();
    EXPECT_EQ(again.list()->font().pointSize(), wanted.pointSize());
    EXPECT_EQ(again.list()->font().family(), wanted.family());
}

TEST(TrayLook, IconsAndTooltipsOfEachState)
{
    EXPECT_EQ(trayTooltip(TrayState::Start), "BeaconVigilor");
    EXPECT_EQ(trayTooltip(TrayState::Green), "BeaconVigilor Status Green");
    EXPECT_EQ(trayTooltip(TrayState::Yellow), "BeaconVigilor Status Yellow");
    EXPECT_EQ(trayTooltip(TrayState::Red), "BeaconVigilor Status Red");
    EXPECT_EQ(trayTooltip(TrayState::ShuttingDown), "BeaconVigilor is shutting down...");
    EXPECT_EQ(centreColour(trayIcon(TrayState::Start)), QColor(0, 200, 0));
    EXPECT_EQ(centreColour(trayIcon(TrayState::Green)), QColor(0, 200, 0));
    EXPECT_EQ(centreColour(trayIcon(TrayState::Yellow)), QColor(255, 220, 0));
    EXPECT_EQ(centreColour(trayIcon(TrayState::Red)), QColor(230, 0, 0));
    EXPECT_EQ(centreColour(trayIcon(TrayState::ShuttingDown)), QColor(16, 16, 16));

    // Every panel size gets its own drawing, the very one that is installed.
    const std::pair<TrayState, const char*> artwork[] = { { TrayState::Green, "green" },
        { TrayState::Yellow, "yellow" }, { TrayState::Red, "red" }, { TrayState::ShuttingDown, "shutting-down" } };
    for (const auto& [state, name] : artwork) {
        for (int size : { 16, 22, 24, 32, 48, 64 }) {
            const QString file = QString("%1/%2-%3.png").arg(BV_ICON_DIR).arg(name).arg(size);
            const QImage installed(file);
            ASSERT_EQ(installed.size(), QSize(size, size)) << file.toStdString();
            const QImage shown = trayIcon(state).pixmap(size, size).toImage().convertToFormat(installed.format());
            EXPECT_EQ(shown, installed) << file.toStdString();
            // Transparent corners, the frame and the stand's foot are where the drawing puts them.
            EXPECT_EQ(installed.pixelColor(0, 0).alpha(), 0) << file.toStdString();
            EXPECT_EQ(installed.pixelColor(size / 2, (size * 14) / 16), QColor(64, 64, 64)) << file.toStdString();
        }
    }
    // The dots of the shutting-down icon.
    const QImage dots(QString("%1/shutting-down-16.png").arg(BV_ICON_DIR));
    EXPECT_EQ(dots.pixelColor(3, 3), QColor(230, 0, 0));
    EXPECT_EQ(dots.pixelColor(7, 4), QColor(255, 220, 0));
    EXPECT_EQ(dots.pixelColor(11, 3), QColor(0, 200, 0));

    Fixture fixture;
    ListenerRegistration installation(fixture.desktop);
    EXPECT_EQ(fixture.desktop.currentTooltip(), "BeaconVigilor");
    setTrayYellow();
    EXPECT_EQ(fixture.desktop.currentTooltip(), "BeaconVigilor Status Yellow");
    // Without a tray the window icon follows the state.
    EXPECT_EQ(centreColour(fixture.window.windowIcon()), QColor(255, 220, 0));
    setTrayGreen();
    EXPECT_EQ(centreColour(fixture.window.windowIcon()), QColor(0, 200, 0));

    // From another thread the change arrives through the GUI loop.
    std::thread([] { setTrayRed(); }).join();
    EXPECT_TRUE(processUntil([&] { return centreColour(fixture.window.windowIcon()) == QColor(230, 0, 0); }));
    EXPECT_EQ(fixture.desktop.currentTooltip(), "BeaconVigilor Status Red");
}

TEST(TrayMenu, TextsOrderAndCommands)
{
    Fixture fixture;
    std::unique_ptr<QMenu> menu = fixture.desktop.buildMenu();
    QStringList texts;
    for (QAction* action : menu->actions())
        texts << (action->isSeparator() ? QString("-") : action->text());
    EXPECT_EQ(texts, (QStringList { "Live &Red List", "-", "Show &Log", "Show &Down", "Show &Input File",
                         "&Properties", "-", "&About...", "&Help", "-", "E&xit", "-", "Reload Host List",
                         "Show Notices", "Start with Session", "All Hosts" }));
    ASSERT_NE(menu->defaultAction(), nullptr);
    EXPECT_EQ(menu->defaultAction()->text(), "Live &Red List");

    // No run: the file commands open nothing.
    menu->actions()[2]->trigger();
    menu->actions()[3]->trigger();
    menu->actions()[4]->trigger();
    EXPECT_TRUE(fixture.opened.empty());
    menu->actions()[8]->trigger();
    ASSERT_EQ(fixture.opened.size(), 1u);
    // The help page that ships with the program, opened where it lies.
    EXPECT_EQ(fixture.opened[0], helpPageUrl());
    EXPECT_TRUE(fixture.opened[0].isLocalFile());
    EXPECT_TRUE(QFileInfo(fixture.opened[0].toLocalFile()).isFile()) << fixture.opened[0].toString().toStdString();

    // Properties and About block nothing: the command returns with the box open.
    menu->actions()[5]->trigger();
    QMessageBox* properties = openMessageBox();
    ASSERT_NE(properties, nullptr);
    EXPECT_EQ(properties->windowTitle(), "BeaconVigilor Properties");
    EXPECT_EQ(properties->text(), "N/A");
    EXPECT_EQ(properties->windowModality(), Qt::NonModal);
    properties->accept();
    EXPECT_TRUE(processUntil([] { return openMessageBox() == nullptr; }));

    menu->actions()[0]->trigger();
    EXPECT_TRUE(fixture.window.isVisible());

    // The fallback window carries the same commands in its menu bar.
    ASSERT_EQ(fixture.window.menuBar()->actions().size(), 1);
    EXPECT_EQ(fixture.window.menuBar()->actions()[0]->menu()->actions().size(), 16);

    // While the run serves its page, one item more, last; it opens the page.
    QMenu* bar = fixture.window.menuBar()->actions()[0]->menu();
    {
        const ServedPlacePublication served({ "127.0.0.5", 9200 });
        std::unique_ptr<QMenu> withPage = fixture.desktop.buildMenu();
        ASSERT_EQ(withPage->actions().size(), 17);
        EXPECT_EQ(withPage->actions()[16]->text(), "Open Status Page");
        withPage->actions()[16]->trigger();
        ASSERT_EQ(fixture.opened.size(), 2u);
        EXPECT_EQ(fixture.opened[1], QUrl("http://127.0.0.5:9200/"));
        // A menu built before the run started gains it as it opens.
        emit bar->aboutToShow();
        ASSERT_EQ(bar->actions().size(), 17);
        EXPECT_EQ(bar->actions()[16]->text(), "Open Status Page");
    }
    emit bar->aboutToShow();
    EXPECT_EQ(bar->actions().size(), 16) << "no page served, none offered";
}

TEST(HelpPage, InstalledBesideTheProgramOrInTheSources)
{
    // Run from the build tree: the sources' copy.
    const QString fromBuild = helpPageFile(QStringLiteral("/nonexistent/bin"));
    EXPECT_TRUE(QFileInfo(fromBuild).isFile()) << fromBuild.toStdString();
    EXPECT_TRUE(fromBuild.endsWith("/res/help/beaconvigilor-help.html"));
    // Installed: prefix/bin/beaconvigilor finds prefix/share/beaconvigilor.
    TemporaryDirectory prefix;
    const QString root = QString::fromStdString(prefix.path());
    ASSERT_TRUE(QDir(root).mkpath("bin") && QDir(root).mkpath("share/beaconvigilor"));
    writeFile(prefix.file("share/beaconvigilor/beaconvigilor-help.html"), "<p>help</p>");
    EXPECT_EQ(helpPageFile(root + "/bin"), QDir::cleanPath(root + "/share/beaconvigilor/beaconvigilor-help.html"));
}

TEST(AboutBox, TextsAndLink)
{
    std::vector<QUrl> opened;
    AboutBox box([&](const QUrl& url) { opened.push_back(url); });
    EXPECT_EQ(box.windowTitle(), "About BeaconVigilor");
    auto* version = box.findChild<QLabel*>("version");
    ASSERT_NE(version, nullptr);
    // The build date of the program, in the compiler's form, which a test
    // built on another day does not share.
    EXPECT_EQ(version->text(), AboutBox::versionLine());
    EXPECT_TRUE(QRegularExpression(R"(^Version 1\.3 \((Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) [ 123]\d \d{4}\)$)")
                    .match(version->text())
                    .hasMatch())
        << version->text().toStdString();
    auto* text = box.findChild<QLabel*>("text");
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text->text().split('\n').size(), 3);
    EXPECT_TRUE(text->text().startsWith("BeaconVigilor\n"));
    auto* link = box.findChild<QLabel*>("link");
    ASSERT_NE(link, nullptr);
    EXPECT_TRUE(link->font().underline());
    EXPECT_EQ(link->palette().color(QPalette::WindowText), QColor(0, 0, 255));
    EXPECT_EQ(link->cursor().shape(), Qt::PointingHandCursor);
    box.show();
    QTest::mousePress(link, Qt::LeftButton);
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0], helpPageUrl());
    QTest::mouseRelease(link, Qt::LeftButton);
    EXPECT_EQ(opened.size(), 1u);
}

TEST(QtDesktop, WorkerMessageBoxBlocksUntilClosed)
{
    Fixture fixture;
    std::atomic<bool> returned { false };
    QString caption;
    QString text;
    bool returnedWhileOpen = true;
    // The box is read and closed from a timer on the GUI thread, which goes
    // on while the worker waits.
    whenMessageBox([&](QMessageBox* box) {
        caption = box->windowTitle();
        text = box->text();
        returnedWhileOpen = returned.load();
        box->accept();
    });
    std::thread worker([&] {
        fixture.desktop.showMessageBox("The run could not start.", "", MessageIcon::Error);
        returned.store(true);
    });
    EXPECT_TRUE(processUntil([&] { return returned.load(); }));
    worker.join();
    EXPECT_FALSE(returnedWhileOpen);
    EXPECT_EQ(caption, "Error");
    EXPECT_EQ(text, "The run could not start.");
}

TEST(QtDesktop, ExitWhileWorkersAreBusyEndsWithoutHang)
{
    Fixture fixture;
    std::atomic<bool> stop { false };
    std::atomic<int> delivered { 0 };
    std::vector<std::thread> workers;
    std::vector<std::unique_ptr<Address>> hosts;
    for (int i = 0; i < 3; ++i)
        hosts.push_back(std::make_unique<Address>(host("h", "127.0.1." + std::to_string(i), "")));
    for (int i = 0; i < 3; ++i) {
        workers.emplace_back([&, i] {
            Address& address = *hosts[i];
            for (int round = 0; round < 100000 && !stop.load(); ++round) {
                address.setStatus(round % 2 ? HostStatus::Red : HostStatus::Green);
                fixture.desktop.addressChanged(address);
                fixture.desktop.setTrayState(TrayState::Yellow);
                delivered.fetch_add(1);
            }
        });
    }
    // A worker's box open at exit ends as if OK had been pressed.
    std::thread boxWorker([&] { fixture.desktop.showMessageBox("pending", "Caption", MessageIcon::Information); });
    // Exit comes while the box is open and the workers are still sending.
    QTimer poll;
    int polls = 0;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        const bool busy = delivered.load() > 50 && openMessageBox();
        if (busy || ++polls > 500) {
            poll.stop();
            requestExit();
        }
    });
    ListenerRegistration installation(fixture.desktop);
    poll.start(10);
    QApplication::exec();
    EXPECT_LE(polls, 500);
    fixture.desktop.beginClosing();
    fixture.window.storeSettings();
    stop.store(true);
    std::atomic<bool> joined { false };
    std::thread joiner([&] {
        for (auto& worker : workers)
            worker.join();
        boxWorker.join();
        joined.store(true);
    });
    EXPECT_TRUE(processUntil([&] { return joined.load(); }, 20000ms));
    joiner.join();
    EXPECT_TRUE(fixture.settings.contains("ColumnWidth0"));
}

TEST(RawSocketAdvice, RefusedSocketNamesTheSetcapCommand)
{
    EXPECT_EQ(rawSocketAdvice("/usr/bin/beaconvigilor"),
        "BeaconVigilor may open neither a raw ICMP socket nor an ICMP datagram socket, so every host will fail its "
        "pings.\n\n"
        "Either give the program the right to raw sockets, as root:\n"
        "  setcap cap_net_raw+ep /usr/bin/beaconvigilor\n"
        "or let the user's group open ICMP datagram sockets, as root:\n"
        "  sysctl -w net.ipv4.ping_group_range=\"0 2147483647\"\n"
        "and, to keep that after a restart, put the line\n"
        "  net.ipv4.ping_group_range = 0 2147483647\n"
        "into a file in /etc/sysctl.d/ (for example /etc/sysctl.d/60-ping-group.conf).\n\n"
        "Then start it again.");
    // A path the shell would split or expand is quoted.
    EXPECT_NE(rawSocketAdvice("/opt/my tools/it's").find("setcap cap_net_raw+ep '/opt/my tools/it'\\''s'\n"),
        std::string::npos);

    // With the right to raw sockets nothing is shown.
    if (geteuid() == 0) {
        RecordingDesktop desktop;
        EXPECT_FALSE(adviseWhenRawSocketRefused("/usr/bin/beaconvigilor"));
        EXPECT_TRUE(desktop.boxes().empty());
    }

    // Without it the box comes, in a child that gave up root, in a network
    // namespace of its own whose ping group range admits no group.
    const ChildOutcome refused = runInChild([] {
        if (geteuid() == 0 && (!enterOwnNetworkNamespace() || !becomeNobody()))
            return childSetupFailed("give up root in a network namespace of its own");
        return checksInChild([] {
            RecordingDesktop desktop;
            EXPECT_TRUE(adviseWhenRawSocketRefused("/usr/bin/beaconvigilor"));
            const auto boxes = desktop.boxes();
            ASSERT_EQ(boxes.size(), 1u);
            EXPECT_EQ(boxes[0].caption, "BeaconVigilor");
            EXPECT_TRUE(boxes[0].icon == MessageIcon::Error);
            EXPECT_EQ(boxes[0].text, rawSocketAdvice("/usr/bin/beaconvigilor"));
        });
    });
    EXPECT_EQ(refused.status, 0) << refused.output;

    // Where the ping group range admits the user, the datagram socket will
    // do: no box.
    if (geteuid() == 0) {
        const ChildOutcome admitted = checksAsOrdinaryUser("0 2147483647", [] {
            RecordingDesktop desktop;
            EXPECT_FALSE(adviseWhenRawSocketRefused("/usr/bin/beaconvigilor"));
            EXPECT_TRUE(desktop.boxes().empty());
        });
        EXPECT_EQ(admitted.status, 0) << admitted.output;
    }
}

TEST(QtDesktop, WithoutTrayClosingTheWindowMeansExit)
{
    exitRequested.store(false);
    Fixture fixture;
    ListenerRegistration installation(fixture.desktop);
    EXPECT_EQ(fixture.desktop.systemTray(), nullptr);
    // The menu bar's one menu is the tray menu.
    ASSERT_EQ(fixture.window.menuBar()->actions().size(), 1);
    QMenu* menu = fixture.window.menuBar()->actions()[0]->menu();
    ASSERT_NE(menu, nullptr);
    QStringList texts;
    for (QAction* action : menu->actions())
        texts << (action->isSeparator() ? QString("-") : action->text());
    EXPECT_EQ(texts, (QStringList { "Live &Red List", "-", "Show &Log", "Show &Down", "Show &Input File",
                         "&Properties", "-", "&About...", "&Help", "-", "E&xit", "-", "Reload Host List",
                         "Show Notices", "Start with Session", "All Hosts" }));

    fixture.window.showRedList();
    ASSERT_TRUE(processUntil([&] { return fixture.window.isVisible(); }));
    // Escape does not hide the main window.
    QTest::keyClick(&fixture.window, Qt::Key_Escape);
    EXPECT_TRUE(fixture.window.isVisible());
    EXPECT_FALSE(exitRequested.load());

    // Closing asks for exit, and the loop it ends is left at once.
    QTimer::singleShot(0, &fixture.window, [&] { fixture.window.close(); });
    QTimer guard;
    guard.setSingleShot(true);
    bool timedOut = false;
    QObject::connect(&guard, &QTimer::timeout, [&] {
        timedOut = true;
        QCoreApplication::exit(1);
    });
    guard.start(10000);
    QApplication::exec();
    EXPECT_FALSE(timedOut);
    EXPECT_TRUE(exitRequested.load());
    EXPECT_EQ(fixture.desktop.trayState(), TrayState::ShuttingDown);
    EXPECT_EQ(centreColour(fixture.window.windowIcon()), QColor(16, 16, 16));
    exitRequested.store(false);
}

TEST(QtDesktop, AfterExitTheTrayIgnoresTheUser)
{
    exitRequested.store(false);
    TemporaryDirectory directory;
    QSettings settings(QString::fromStdString(directory.file("settings.ini")), QSettings::IniFormat);
    RedListWindow window(settings);
    QtDesktop desktop(window, true, [](const QUrl&) {});
    ListenerRegistration installation(desktop);
    QSystemTrayIcon* tray = desktop.systemTray();
    ASSERT_NE(tray, nullptr);
    QMenu* menu = tray->contextMenu();
    ASSERT_NE(menu, nullptr);
    // A click opens the menu once the double-click time has passed.
    emit tray->activated(QSystemTrayIcon::Trigger);
    ASSERT_TRUE(processUntil([&] { return menu->isVisible(); }));
    menu->close();

    QTimer::singleShot(0, [] { requestExit(); });
    QApplication::exec();
    EXPECT_EQ(tray->contextMenu(), nullptr);
    for (QAction* action : menu->actions())
        EXPECT_FALSE(action->isEnabled()) << action->text().toStdString();
    emit tray->activated(QSystemTrayIcon::Trigger);
    const auto clickTime = std::chrono::milliseconds(QApplication::doubleClickInterval());
    EXPECT_FALSE(processUntil([&] { return menu->isVisible(); }, 2 * clickTime + 200ms));
    desktop.beginClosing();
    exitRequested.store(false);
}

TEST(MenuStart, AsksOnceAndRemembersTheHostList)
{
    EXPECT_TRUE(startedFromMenu({ "beaconvigilor", "--from-menu" }));
    EXPECT_FALSE(startedFromMenu({ "beaconvigilor" }));
    EXPECT_FALSE(startedFromMenu({ "beaconvigilor", "--from-menu", "-in", "hosts.txt" }));
    EXPECT_TRUE(startedFromMenu({ "beaconvigilor", "--from-menu", "-trace" }));

    TemporaryDirectory directory;
    QSettings settings(QString::fromStdString(directory.file("settings.ini")), QSettings::IniFormat);
    const std::string list = directory.file("hosts.txt");
    writeFile(list, "home\t127.0.0.1\t\n");
    int asked = 0;
    const auto choose = [&](const std::string& answer) {
        return [&asked, answer] {
            ++asked;
            return QString::fromStdString(answer);
        };
    };
    // Cancelled: nothing to run, nothing stored.
    EXPECT_EQ(menuStartHostList(settings, choose("")), std::nullopt);
    EXPECT_FALSE(settings.contains("HostList"));
    EXPECT_EQ(menuStartHostList(settings, choose(list)), list);
    EXPECT_EQ(menuStartHostList(settings, choose("")), list);
    EXPECT_EQ(asked, 2);
    // A list that has gone is asked for again.
    std::remove(list.c_str());
    EXPECT_EQ(menuStartHostList(settings, choose("")), std::nullopt);
    EXPECT_EQ(asked, 3);
}

TEST(TrayMenu, NoticesOnePerPassAndStartWithSession)
{
    TemporaryDirectory home;
    const QByteArray configHome = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", home.file("config").c_str());
    Fixture fixture;
    std::vector<QString> notices;
    fixture.desktop.setNoticeHook([&](const QString& title, const QString& text) {
        EXPECT_EQ(title, "BeaconVigilor");
        notices.push_back(text);
    });
    std::unique_ptr<QMenu> menu = fixture.desktop.buildMenu();
    QAction* showNotices = menu->actions()[13];
    QAction* startWithSession = menu->actions()[14];
    ASSERT_TRUE(showNotices->isCheckable() && startWithSession->isCheckable());
    EXPECT_TRUE(showNotices->isChecked());
    EXPECT_FALSE(startWithSession->isChecked());

    // Many hosts down in one pass, from the sweep's thread: one notice.
    std::thread([&] {
        for (int i = 1; i <= 7; ++i) {
            Address down = host("db" + std::to_string(i), "127.0.2." + std::to_string(i), "");
            down.setStatus(HostStatus::Red);
            fixture.desktop.changeLogged(down);
        }
        fixture.desktop.sweepPassDone();
        fixture.desktop.sweepPassDone();
    }).join();
    EXPECT_TRUE(processUntil([&] { return !notices.empty(); }));
    QApplication::processEvents();
    EXPECT_EQ(notices, (std::vector<QString> { "7 hosts down: db1, db2, db3, db4, db5 and 2 others" }));

    // Off: remembered, and nothing is shown.
    showNotices->trigger();
    EXPECT_EQ(fixture.settings.value("ShowNotices").toBool(), false);
    Address back = host("web", "127.0.2.9", "");
    fixture.desktop.changeLogged(back);
    fixture.desktop.sweepPassDone();
    QApplication::processEvents();
    EXPECT_EQ(notices.size(), 1u);
    RedListWindow again(fixture.settings);
    QtDesktop restarted(again, false, {});
    EXPECT_FALSE(restarted.noticesShown());

    // The entry runs the program as it was started, each word as it was.
    fixture.desktop.setCommandLine(
        { "/opt/bv tools/beaconvigilor", "-in", "/srv/my hosts.txt", "-out", "/srv/100%.txt", "$HOME", "a\\b", "" });
    startWithSession->trigger();
    EXPECT_TRUE(startWithSession->isChecked());
    const std::string entry = home.file("config/autostart/beaconvigilor.desktop");
    ASSERT_TRUE(fileExists(entry));
    const std::string text = readFile(entry);
    EXPECT_TRUE(text.starts_with("[Desktop Entry]\nType=Application\n")) << text;
    // Started at login elsewhere, it finds the default down file here.
    EXPECT_NE(text.find("\nExec=\"/opt/bv tools/beaconvigilor\" -in \"/srv/my hosts.txt\" -out /srv/100%%.txt \"\\\\$HOME\" "
                        "\"a\\\\\\\\b\" \"\" -red " + QDir::currentPath().toStdString() + "/down.txt\n"),
        std::string::npos)
        << text;
    EXPECT_TRUE(fixture.desktop.buildMenu()->actions()[14]->isChecked());
    startWithSession->trigger();
    EXPECT_FALSE(startWithSession->isChecked());
    EXPECT_FALSE(fileExists(entry));

    // Without a run there is nothing to reload, and nothing breaks.
    menu->actions()[12]->trigger();
    if (configHome.isEmpty())
        qunsetenv("XDG_CONFIG_HOME");
    else
        qputenv("XDG_CONFIG_HOME", configHome);
}

TEST(RedListWindow, CtrlCCopiesTheSelectedRowsWithTheTitles)
{
    useUtcTimeZone();
    Fixture fixture;
    QTreeWidget* list = fixture.window.list();
    for (const char* ip : { "127.0.0.2", "127.0.0.3", "127.0.0.4" }) {
        Address down = host(std::string("host ") + ip, ip, "a comment");
        down.setStatus(HostStatus::Red);
        down.setErrorText("Timed out");
        down.setLastSendTime(60);
        fixture.desktop.addressChanged(down);
    }
    QApplication::clipboard()->setText("before");
    // Nothing selected: the clipboard keeps what it had.
    QTest::keyClick(list, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text().toStdString(), "before");
    list->topLevelItem(2)->setSelected(true);
    list->topLevelItem(0)->setSelected(true);
    QTest::keyClick(list, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text().toStdString(),
        "IP\tComment\tDown Since\tError\tLatest Ping\tName\n"
        "127.0.0.4\ta comment\tThu Jan  1 00:00:00 1970\tTimed out\tThu Jan  1 00:01:00 1970\thost 127.0.0.4\n"
        "127.0.0.2\ta comment\tThu Jan  1 00:00:00 1970\tTimed out\tThu Jan  1 00:01:00 1970\thost 127.0.0.2\n");
}
