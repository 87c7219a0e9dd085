// The monitor on a Linux desktop: a tray icon over the same run, the red
// list window, and the Properties and About boxes. Signals are taken as
// the headless program takes them.

#include "platform/diagnostics.h"
#include "platform/process.h"
#include "platform/signal_thread.h"
#include "run/run_driver.h"
#include "core/monitor_events.h"
#include "shell/common/monitor_signals.h"
#include "shell/common/red_list_rows.h"
#include "shell/qt/all_hosts_window.h"
#include "shell/qt/menu_start.h"
#include "shell/qt/qt_desktop.h"
#include "shell/qt/raw_socket_advice.h"
#include "shell/qt/red_list_window.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QSettings>
#include <QSystemTrayIcon>
#include <QUrl>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

using namespace bv;

namespace {

bool hasDesktop()
{
    for (const char* name : { "QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY" }) {
        const char* value = std::getenv(name);
        if (value && *value)
            return true;
    }
    return false;
}

}  // namespace

int main(int argc, char** argv)
{
    // Before any thread starts, so that every thread inherits the blocked signals.
    platform::SignalThread signalThread;

    // Qt would abort without a word a user can act on.
    if (!hasDesktop()) {
        platform::errorLine("Fatal Error: Qt initialization failed: no display (DISPLAY and WAYLAND_DISPLAY are "
                            "unset); beaconvigilor-headless runs without one");
        platform::exitImmediately(-1);
    }

    std::vector<std::string> arguments(argv, argv + argc);
    QApplication application(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("BeaconVigilor"));
    QApplication::setApplicationName(QStringLiteral("BeaconVigilor"));
    // The About box, a message box or the hidden red list must not end a
    // program that lives in the tray.
    QApplication::setQuitOnLastWindowClosed(false);

    QSettings settings(QString::fromLatin1(kSettingsOrganization), QString::fromLatin1(kSettingsApplication));
    if (startedFromMenu(arguments)) {
        const auto hostList = menuStartHostList(settings, [] {
            return QFileDialog::getOpenFileName(nullptr, QStringLiteral("Choose a Host List"), QDir::homePath(),
                QStringLiteral("Host lists (*.txt);;All files (*)"));
        });
        // No list chosen: nothing to watch, and nothing went wrong.
        if (!hostList)
            platform::exitImmediately(0);
        std::vector<std::string> started { arguments[0], "-in", *hostList };
        started.insert(started.end(), arguments.begin() + 2, arguments.end());
        arguments = std::move(started);
    }

    const bool useTray = QSystemTrayIcon::isSystemTrayAvailable();
    if (!useTray)
        platform::errorLine("BeaconVigilor: no system tray found; the red list window serves as the main window.");

    RedListWindow redList(settings);
    QtDesktop desktop(redList, useTray, [](const QUrl& url) { QDesktopServices::openUrl(url); });
    const std::string program = QCoreApplication::applicationFilePath().toLocal8Bit().toStdString();
    // The command line of this run, so that a list chosen from the menu is
    // named, and the program found, when the session starts it.
    std::vector<std::string> commandLine = arguments;
    if (commandLine.empty())
        commandLine.push_back(program);
    else
        commandLine[0] = program;
    desktop.setCommandLine(commandLine);
    ListenerRegistration installation(desktop);
    redList.restoreSettings();
    desktop.allHostsWindow().restoreSettings();
    if (!useTray)
        redList.showRedList();

    // Answered once the desktop listens, as the headless program answers them.
    signalThread.start(monitorSignalHandlers());

    std::atomic<bool> monitorFinished { false };
    RunEnd end = RunEnd::Ran;
    std::thread monitor([&] {
        adviseWhenRawSocketRefused(program);
        end = monitorThreadProcedure(arguments);
        monitorFinished.store(true);
        // Wakes the GUI thread's last wait.
        QMetaObject::invokeMethod(&desktop, [] {}, Qt::QueuedConnection);
    });

    QApplication::exec();

    // Notices still queued or yet to come are dropped from here on, and the
    // window's settings are stored while it still exists.
    desktop.beginClosing();
    redList.storeSettings();
    redList.hide();
    desktop.allHostsWindow().storeSettings();
    desktop.allHostsWindow().hide();
    while (!monitorFinished.load())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    monitor.join();
    if (desktop.systemTray())
        desktop.systemTray()->hide();
    platform::exitImmediately(exitStatusOf(end));
}
