#include "shell/qt/qt_desktop.h"

#include "core/address.h"
#include "platform/diagnostics.h"
#include "run/command_line.h"
#include "run/current_network.h"
#include "shell/common/all_hosts_rows.h"
#include "shell/common/red_list_rows.h"
#include "shell/common/status_page_url.h"
#include "shell/common/terminal_lines.h"
#include "shell/common/tray_menu.h"
#include "shell/qt/about_box.h"
#include "shell/qt/all_hosts_window.h"
#include "shell/qt/autostart_entry.h"
#include "shell/qt/help_page.h"
#include "shell/qt/red_list_window.h"
#include "shell/qt/tray_look.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QCursor>
#include <QFileInfo>
#include <QMenu>
#include <QMenuBar>
#include <QDir>
#include <QMessageBox>
#include <QSettings>
#include <QSignalBlocker>
#include <QThread>
#include <QTimer>
#include <QUrl>

#include <condition_variable>
#include <memory>
#include <mutex>

namespace bv {

QtDesktop::QtDesktop(RedListWindow& redList, bool useTray, Opener open)
    : redList_(redList)
    , allHosts_(std::make_unique<AllHostsWindow>(redList.settings()))
    , open_(std::move(open))
    , clickTimer_(new QTimer(this))
    , notices_([this](const ChangeNotice& notice) { showNotice(notice); },
          redList.settings().value(QString::fromLatin1(kShowNoticesSetting), true).toBool())
{
    // The red list marks the tray red on the GUI thread, while its sender waits.
    redList_.setTrayRedHook([this] { setTrayState(TrayState::Red); });
    // Opened, it shows the rows at once if the run's list is free.
    allHosts_->setOpenHook([this] {
        if (auto rows = currentAllHostsRows())
            allHosts_->showRows(*rows);
    });

    // A single click waits out the double-click time, so that a double click
    // shows the red list rather than the menu.
    clickTimer_->setSingleShot(true);
    clickTimer_->setInterval(QApplication::doubleClickInterval());
    connect(clickTimer_, &QTimer::timeout, this, &QtDesktop::popUpMenu);

    if (useTray) {
        tray_ = std::make_unique<QSystemTrayIcon>();
        tray_->setIcon(trayIcon(TrayState::Start));
        tray_->setToolTip(trayTooltip(TrayState::Start));
        connect(tray_.get(), &QSystemTrayIcon::activated, this, &QtDesktop::trayActivated);
        // The tray host shows this one itself on a right click; hosts that
        // speak D-Bus read it from there.
        trayMenu_ = buildMenu();
        tray_->setContextMenu(trayMenu_.get());
        tray_->show();
    } else {
        std::unique_ptr<QMenu> menu = buildMenu();
        menu->setTitle(QStringLiteral("&BeaconVigilor"));
        menu->setParent(&redList_, menu->windowFlags());
        redList_.menuBar()->addMenu(menu.release());
        redList_.setCloseAction([] { requestExit(); });
        redList_.setWindowIcon(trayIcon(TrayState::Start));
    }
}

QtDesktop::~QtDesktop()
{
    if (tray_)
        tray_->hide();
}

bool QtDesktop::onGuiThread() const
{
    return QThread::currentThread() == thread();
}

namespace {

// Released when the queued call has run, or when Qt drops it unrun: either
// way the functor that holds it goes, so the waiting thread never hangs.
// The wait is on a standard lock so that the handler's reads of the
// caller's data are ordered before the caller goes on.
class Completion {
public:
    struct Signal {
        std::mutex mutex;
        std::condition_variable done;
        bool finished = false;
    };
    explicit Completion(std::shared_ptr<Signal> signal) : signal_(std::move(signal)) {}
    ~Completion()
    {
        {
            std::lock_guard lock(signal_->mutex);
            signal_->finished = true;
        }
        signal_->done.notify_all();
    }
    Completion(const Completion&) = delete;
    Completion& operator=(const Completion&) = delete;

private:
    std::shared_ptr<Signal> signal_;
};

}  // namespace

void QtDesktop::runOnGui(const std::function<void()>& call)
{
    if (onGuiThread()) {
        call();
        return;
    }
    if (closing())
        return;
    auto signal = std::make_shared<Completion::Signal>();
    // Queued even when closing begins meanwhile; it then finds the flag set
    // and returns, which releases this thread.
    QMetaObject::invokeMethod(
        this,
        [this, &call, completion = std::make_shared<Completion>(signal)] {
            if (!closing())
                call();
        },
        Qt::QueuedConnection);
    std::unique_lock lock(signal->mutex);
    signal->done.wait(lock, [&] { return signal->finished; });
}

void QtDesktop::setTrayState(TrayState state)
{
    {
        std::lock_guard lock(stateMutex_);
        state_ = state;
    }
    if (onGuiThread())
        applyTrayState();
    else
        QMetaObject::invokeMethod(this, &QtDesktop::applyTrayState, Qt::QueuedConnection);
}

TrayState QtDesktop::trayState() const
{
    std::lock_guard lock(stateMutex_);
    return state_;
}

QIcon QtDesktop::currentIcon() const
{
    return trayIcon(trayState());
}

QString QtDesktop::currentTooltip() const
{
    return trayTooltip(trayState());
}

void QtDesktop::applyTrayState()
{
    const TrayState state = trayState();
    if (tray_) {
        tray_->setIcon(trayIcon(state));
        tray_->setToolTip(trayTooltip(state));
    } else {
        redList_.setWindowIcon(trayIcon(state));
    }
}

void QtDesktop::addressChanged(Address& address)
{
    runOnGui([this, &address] {
        if (!closing())
            redList_.addressChanged(address);
    });
}

void QtDesktop::addressStillRed(Address& address)
{
    runOnGui([this, &address] {
        if (!closing())
            redList_.addressStillRed(address);
    });
}

void QtDesktop::addressRemoved(const Address& address)
{
    runOnGui([this, &address] {
        if (!closing())
            redList_.addressRemoved(address);
    });
}

void QtDesktop::hostListReloaded(const HostListReload& reload)
{
    QString text;
    for (const std::string& problem : reloadProblems(reload))
        text += QString::fromLocal8Bit(problem.c_str()) + QLatin1Char('\n');
    if (text.isEmpty() || closing())
        return;
    // Not waited for: the sweep that announces the reload goes on.
    QMetaObject::invokeMethod(
        this,
        [this, text] {
            if (!closing())
                openBox(QMessageBox::Critical, QStringLiteral("Reload Host List"), text, nullptr);
        },
        Qt::QueuedConnection);
}

void QtDesktop::showMessageBox(const std::string& text, const std::string& caption, MessageIcon icon)
{
    const QString title = caption.empty() ? QStringLiteral("Error") : QString::fromLocal8Bit(caption.c_str());
    const QString message = QString::fromLocal8Bit(text.c_str());
    const QMessageBox::Icon look = icon == MessageIcon::Error ? QMessageBox::Critical : QMessageBox::Information;
    if (onGuiThread()) {
        openBox(look, title, message, nullptr);
        return;
    }
    if (closing())
        return;
    // The box blocks its caller's thread only: the caller waits until the box
    // is gone, while the GUI goes on.
    auto signal = std::make_shared<Completion::Signal>();
    QMetaObject::invokeMethod(
        this,
        [this, look, title, message, completion = std::make_shared<Completion>(signal)]() mutable {
            if (!closing())
                openBox(look, title, message, std::move(completion));
        },
        Qt::QueuedConnection);
    std::unique_lock lock(signal->mutex);
    signal->done.wait(lock, [&] { return signal->finished; });
}

QMessageBox* QtDesktop::openBox(
    QMessageBox::Icon look, const QString& title, const QString& text, std::shared_ptr<void> heldUntilClosed)
{
    auto* box = new QMessageBox(look, title, text, QMessageBox::Ok);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    // The connection, and so what it holds, goes with the box.
    if (heldUntilClosed)
        connect(box, &QObject::destroyed, this, [held = std::move(heldUntilClosed)] {});
    std::erase_if(boxes_, [](const QPointer<QMessageBox>& open) { return open.isNull(); });
    boxes_.push_back(box);
    box->show();
    return box;
}

void QtDesktop::quit()
{
    // From here the tray ignores the user, though the run may take a while
    // to wind down: no menu, and no command of an open one.
    QMetaObject::invokeMethod(this, &QtDesktop::stopListeningToUser, Qt::QueuedConnection);
    // Not quit(): that first asks every window to close, and the window that
    // stands in for the tray answers a close by asking for exit again.
    QMetaObject::invokeMethod(qApp, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
}

void QtDesktop::stopListeningToUser()
{
    deaf_ = true;
    clickTimer_->stop();
    if (tray_) {
        disconnect(tray_.get(), &QSystemTrayIcon::activated, this, &QtDesktop::trayActivated);
        tray_->setContextMenu(nullptr);
    }
    if (trayMenu_) {
        trayMenu_->close();
        for (QAction* action : trayMenu_->actions())
            action->setEnabled(false);
    }
}

void QtDesktop::changeLogged(const Address& change)
{
    notices_.changeLogged(change);
}

void QtDesktop::roundTripAlarmChanged(const RoundTripAlarmChange& change)
{
    notices_.roundTripAlarmChanged(change);
}

void QtDesktop::sweepPassDone()
{
    notices_.sweepPassDone();
    refreshAllHosts();
}

void QtDesktop::refreshAllHosts()
{
    // A closed window costs the sweep nothing; an open one gets its rows
    // built here, on the sweep's thread, and shown without waiting.
    if (closing() || !allHosts_->watched())
        return;
    std::optional<std::vector<AllHostsRow>> rows = currentAllHostsRows(50);
    if (!rows)
        return;
    QMetaObject::invokeMethod(
        this,
        [this, rows = std::move(*rows)] {
            if (!closing())
                allHosts_->showRows(rows);
        },
        Qt::QueuedConnection);
}

void QtDesktop::showNotice(const ChangeNotice& notice)
{
    const QString title = QString::fromLocal8Bit(notice.title.c_str());
    const QString text = QString::fromLocal8Bit(notice.text.c_str());
    // Comes on the sweep's thread, which must not wait for the GUI.
    QMetaObject::invokeMethod(
        this,
        [this, title, text] {
            if (closing() || deaf_)
                return;
            if (noticeHook_)
                noticeHook_(title, text);
            if (tray_)
                tray_->showMessage(title, text, QSystemTrayIcon::Information);
        },
        Qt::QueuedConnection);
}

void QtDesktop::setNoticesShown(bool shown)
{
    notices_.setEnabled(shown);
    redList_.settings().setValue(QString::fromLatin1(kShowNoticesSetting), shown);
    redList_.settings().sync();
}

void QtDesktop::setStartWithSession(bool start)
{
    if (start ? writeAutostartEntry(argumentsForAnotherStart(commandLine_, QDir::currentPath().toStdString()))
              : removeAutostartEntry())
        return;
    platform::errorLine("BeaconVigilor: the autostart entry " + autostartEntryPath().toLocal8Bit().toStdString()
        + (start ? " could not be written" : " could not be removed"));
}

void QtDesktop::beginClosing()
{
    closing_.store(true);
    stopListeningToUser();
    // A box open at exit counts as OK; its waiting thread goes on.
    for (const QPointer<QMessageBox>& box : boxes_)
        delete box.data();
    boxes_.clear();
}

std::unique_ptr<QMenu> QtDesktop::buildMenu()
{
    auto menu = std::make_unique<QMenu>();
    for (const TrayMenuItem& item : kTrayMenu) {
        if (item.kind == TrayMenuKind::Separator) {
            menu->addSeparator();
            continue;
        }
        if (item.command == TrayCommand::OpenStatusPage) {
            // The run serves the page only after the menus are built.
            connect(menu.get(), &QMenu::aboutToShow, this, [this, shown = menu.get()] { offerStatusPage(*shown); });
            offerStatusPage(*menu);
            continue;
        }
        QAction* action = menu->addAction(QString::fromLatin1(item.text));
        action->setCheckable(item.kind == TrayMenuKind::Check);
        if (item.command == kTrayDefaultCommand)
            menu->setDefaultAction(action);
        switch (item.command) {
        case TrayCommand::LiveRedList:
            connect(action, &QAction::triggered, &redList_, &RedListWindow::showRedList);
            break;
        case TrayCommand::ShowLog:
            connect(action, &QAction::triggered, this, [this] { openFile(currentLogFile()); });
            break;
        case TrayCommand::ShowDown:
            connect(action, &QAction::triggered, this, [this] { openFile(currentDownFile()); });
            break;
        case TrayCommand::ShowInput:
            connect(action, &QAction::triggered, this, [this] { openFile(currentInputFile()); });
            break;
        case TrayCommand::Properties:
            connect(action, &QAction::triggered, this, &QtDesktop::showProperties);
            break;
        case TrayCommand::About:
            connect(action, &QAction::triggered, this, &QtDesktop::showAbout);
            break;
        case TrayCommand::Help:
            connect(action, &QAction::triggered, this, &QtDesktop::showHelp);
            break;
        case TrayCommand::Exit:
            connect(action, &QAction::triggered, this, [] { requestExit(); });
            break;
        case TrayCommand::ReloadHostList:
            connect(action, &QAction::triggered, this, [] { requestHostListReload(); });
            break;
        case TrayCommand::ShowNotices:
            action->setChecked(noticesShown());
            connect(action, &QAction::toggled, this, &QtDesktop::setNoticesShown);
            break;
        case TrayCommand::AllHosts:
            connect(action, &QAction::triggered, allHosts_.get(), &AllHostsWindow::showAllHosts);
            break;
        case TrayCommand::OpenStatusPage:
            break;
        case TrayCommand::StartWithSession:
            action->setChecked(autostartEntryExists());
            connect(action, &QAction::toggled, this, [this, action](bool start) {
                setStartWithSession(start);
                // The mark shows what the next login will do.
                const QSignalBlocker quiet(action);
                action->setChecked(autostartEntryExists());
            });
            break;
        }
    }
    return menu;
}

void QtDesktop::offerStatusPage(QMenu& menu)
{
    static const QString kName = QStringLiteral("openStatusPage");
    QAction* offered = menu.findChild<QAction*>(kName, Qt::FindDirectChildrenOnly);
    const bool served = !currentStatusPageUrl().empty() && !deaf_;
    if (served && !offered) {
        for (const TrayMenuItem& item : kTrayMenu) {
            if (item.command != TrayCommand::OpenStatusPage)
                continue;
            QAction* action = menu.addAction(QString::fromLatin1(item.text));
            action->setObjectName(kName);
            connect(action, &QAction::triggered, this, &QtDesktop::openStatusPage);
        }
    } else if (!served && offered) {
        menu.removeAction(offered);
        delete offered;
    }
}

void QtDesktop::openStatusPage()
{
    const std::string url = currentStatusPageUrl();
    if (!url.empty() && open_)
        open_(QUrl(QString::fromStdString(url)));
}

void QtDesktop::trayActivated(QSystemTrayIcon::ActivationReason reason)
{
    switch (reason) {
    case QSystemTrayIcon::Trigger:
        clickTimer_->start();
        break;
    case QSystemTrayIcon::Context:
        // Qt has already opened the context menu.
        clickTimer_->stop();
        break;
    case QSystemTrayIcon::DoubleClick:
        clickTimer_->stop();
        redList_.showRedList();
        break;
    default:
        break;
    }
}

void QtDesktop::popUpMenu()
{
    if (deaf_ || closing() || !trayMenu_)
        return;
    trayMenu_->popup(QCursor::pos());
}

void QtDesktop::showProperties()
{
    openBox(QMessageBox::Information, QStringLiteral("BeaconVigilor Properties"),
        QString::fromLocal8Bit(currentSummary().c_str()), nullptr);
}

void QtDesktop::showAbout()
{
    // No owner and no modality: the tray stays usable and a second box may
    // open over the first.
    auto* box = new AboutBox(open_);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    box->show();
}

void QtDesktop::showHelp()
{
    if (open_)
        open_(helpPageUrl());
}

void QtDesktop::openFile(const std::string& name)
{
    // Without a run the name is "N/A", which opens nothing.
    if (name.empty() || name == "N/A" || !open_)
        return;
    // The run opened a relative name in this process's directory; the
    // opener runs elsewhere and rejects "file:out.txt" anyway.
    open_(QUrl::fromLocalFile(QFileInfo(QString::fromLocal8Bit(name.c_str())).absoluteFilePath()));
}

}  // namespace bv
