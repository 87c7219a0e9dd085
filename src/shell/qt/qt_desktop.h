#pragma once

#include "core/monitor_events.h"
#include "shell/common/change_notices.h"

#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QSystemTrayIcon>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class QAction;
class QMenu;
class QTimer;
class QUrl;

namespace bv {

class AllHostsWindow;
class RedListWindow;

// The desktop on Qt. Calls from the monitor's threads are carried to the GUI
// thread; once closing has begun they are answered at once instead, so that
// no thread waits on a GUI thread that has stopped listening.
class QtDesktop final : public QObject, public MonitorListener {
    Q_OBJECT
public:
    using Opener = std::function<void(const QUrl&)>;

    // With `useTray` false the red list window is the main window instead.
    QtDesktop(RedListWindow& redList, bool useTray, Opener open);
    ~QtDesktop() override;

    void setTrayState(TrayState state) override;
    void addressChanged(Address& address) override;
    void addressStillRed(Address& address) override;
    void addressRemoved(const Address& address) override;
    void hostListReloaded(const HostListReload& reload) override;
    void showMessageBox(const std::string& text, const std::string& caption, MessageIcon icon) override;
    void quit() override;
    // Gathered into one notice a sweep pass, shown by the tray.
    void changeLogged(const Address& change) override;
    void roundTripAlarmChanged(const RoundTripAlarmChange& change) override;
    void sweepPassDone() override;
    void runStarted(const RunDescription& run) override { notices_.runStarted(run); }
    void outageGroupFound(const OutageGroup& group) override { notices_.outageGroupFound(group); }
    void outageGroupEnded(const OutageGroup& group) override { notices_.outageGroupEnded(group); }
    void ownLinkChanged(const OwnLink& link) override { notices_.ownLinkChanged(link); }
    void outagesLocated(const std::vector<std::string>& keys) override { notices_.outagesLocated(keys); }

    // From here on notices are dropped and message boxes answered at once.
    void beginClosing();
    bool closing() const { return closing_.load(); }

    TrayState trayState() const;
    QIcon currentIcon() const;
    QString currentTooltip() const;
    QSystemTrayIcon* systemTray() const { return tray_.get(); }
    // Kept with the red list's settings; fed after each sweep pass while open.
    AllHostsWindow& allHostsWindow() const { return *allHosts_; }

    // The tray menu, built afresh for each use.
    std::unique_ptr<QMenu> buildMenu();
    void showProperties();
    void showAbout();
    void showHelp();
    void openFile(const std::string& name);
    // In the default browser, while the run serves the page.
    void openStatusPage();

    // The notices of hosts that go down and come back; the choice is kept
    // with the red list's settings.
    bool noticesShown() const { return notices_.enabled(); }
    void setNoticesShown(bool shown);
    // Sees each notice as the tray is handed it, on the GUI thread.
    using NoticeHook = std::function<void(const QString& title, const QString& text)>;
    void setNoticeHook(NoticeHook hook) { noticeHook_ = std::move(hook); }

    // What "Start with Session" writes into the autostart entry: the
    // program's absolute path, then its arguments.
    void setCommandLine(std::vector<std::string> command) { commandLine_ = std::move(command); }
    void setStartWithSession(bool start);

private:
    void applyTrayState();
    // Adds the status page's item to `menu`, or takes it away, as the run serves the page or not.
    void offerStatusPage(QMenu& menu);
    void trayActivated(QSystemTrayIcon::ActivationReason reason);
    void popUpMenu();
    void stopListeningToUser();
    void showNotice(const ChangeNotice& notice);
    bool onGuiThread() const;
    // A box that blocks nothing; `heldUntilClosed` is let go when it closes.
    QMessageBox* openBox(
        QMessageBox::Icon look, const QString& title, const QString& text, std::shared_ptr<void> heldUntilClosed);
    // Runs `call` on the GUI thread and waits for it, unless closing.
    void runOnGui(const std::function<void()>& call);

    void refreshAllHosts();

    RedListWindow& redList_;
    std::unique_ptr<AllHostsWindow> allHosts_;
    Opener open_;
    // The menu outlives the tray icon that shows it.
    std::unique_ptr<QMenu> trayMenu_;
    std::unique_ptr<QSystemTrayIcon> tray_;
    QTimer* clickTimer_;
    std::vector<QPointer<QMessageBox>> boxes_;
    std::atomic<bool> closing_ { false };
    bool deaf_ = false;  // GUI thread only
    ChangeNotices notices_;
    NoticeHook noticeHook_;
    std::vector<std::string> commandLine_;
    mutable std::mutex stateMutex_;
    TrayState state_ = TrayState::Start;
};

}  // namespace bv
