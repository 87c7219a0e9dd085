#pragma once

#include "core/monitor_events.h"
#include "shell/common/change_notices.h"
#include "shell/common/tray_menu.h"
#include "shell/win/about_box.h"
#include "shell/win/all_hosts_dialog.h"

#include <windows.h>
#include <shellapi.h>

#include <atomic>
#include <deque>
#include <functional>
#include <mutex>
#include <string>

namespace bv {

class CRedDialog;

// Stands in for Shell_NotifyIconA (for tests).
using TrayNotifier = std::function<BOOL(DWORD action, NOTIFYICONDATAA& record)>;

// The desktop on Win32: the hidden tray window, the tray icon and its menu,
// and the notices carried to the red list window. Calls from the monitor's
// threads reach the GUI thread by synchronous messages; once closing has
// begun notices return at once.
class WinDesktop final : public MonitorListener {
public:
    static constexpr const char* kWindowClass = "BeaconVigilor";

    WinDesktop(HINSTANCE instance, CRedDialog& redList);
    ~WinDesktop() override;
    WinDesktop(const WinDesktop&) = delete;
    WinDesktop& operator=(const WinDesktop&) = delete;

    // Loads the four icons and creates the hidden window; false when the
    // window could not be made.
    bool create();
    // The icon in its start state (green, "BeaconVigilor").
    void addTrayIcon();
    void removeTrayIcon();

    void setTrayState(TrayState state) override;
    void addressChanged(Address& address) override;
    void addressStillRed(Address& address) override;
    void addressRemoved(const Address& address) override;
    void hostListReloaded(const HostListReload& reload) override;
    void showMessageBox(const std::string& text, const std::string& caption, MessageIcon icon) override;
    void quit() override;
    // While the All Hosts window is open: its rows, built on the sweep's thread.
    void sweepPassDone() override;

    void beginClosing();
    // After the message loop: waits for `thread` to end while still answering
    // the notices sent to this thread (dropped, since closing has begun), so
    // that no sender waits for ever on a GUI thread that stopped listening.
    static void waitAnsweringNotices(HANDLE thread);

    // The tray menu as the user gets it; the caller destroys it.
    HMENU buildMenu() const;
    // Runs the tray menu's command of this id; other ids do nothing.
    void perform(UINT command);
    void showRedList();
    void showAllHosts();
    // In the default browser, while the run serves the page.
    void openStatusPage();
    void showProperties();
    // Created hidden with the tray window, kept beside the red list's settings.
    CAllHostsDialog& allHosts() { return allHosts_; }

    HWND trayWindow() const { return window_; }
    NOTIFYICONDATAA trayRecord() const;
    HICON icon(TrayState state) const;
    // Stands in for the shell's open of files and web pages (for tests).
    void setOpener(ShellOpener opener) { opener_ = std::move(opener); }
    void setTrayNotifier(TrayNotifier notifier) { notifier_ = std::move(notifier); }

    // Gathers a sweep pass's logged changes into one balloon; the caller
    // registers it for the run.
    MonitorListener& notices() { return notices_; }
    bool showsNotices() const { return notices_.enabled(); }
    // Turns the balloons on or off and remembers it with the red list's settings.
    void setShowNotices(bool show);
    // The balloon over the tray icon; false when the shell refused it.
    bool showNotice(const ChangeNotice& notice);

private:
    // Whether a check item of the menu shows its mark.
    bool checked(TrayCommand command) const;
    static LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void trayNotice(LPARAM mouseMessage);
    void showMenu();
    void open(const std::string& target);
    BOOL notify(DWORD action, NOTIFYICONDATAA& record) const;
    void queueNotice(const ChangeNotice& notice);
    void showQueuedNotices();
    // Explorer started anew and lost every icon.
    void addTrayIconAgain();

    HINSTANCE instance_;
    CRedDialog& redList_;
    CAllHostsDialog allHosts_;
    HWND window_ = nullptr;
    UINT taskbarCreated_ = 0;
    HICON icons_[4] = {};  // green, yellow, red, shutting down
    HMENU menu_ = nullptr;
    bool tracking_ = false;
    ShellOpener opener_;
    std::atomic<bool> closing_ { false };
    mutable std::mutex recordMutex_;
    NOTIFYICONDATAA record_ {};
    bool iconAdded_ = false;
    TrayNotifier notifier_;
    ChangeNotices notices_;
    std::mutex queueMutex_;  // the sweep's thread hands notices to the GUI thread
    std::deque<ChangeNotice> queued_;
};

}  // namespace bv
