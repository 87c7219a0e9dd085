#include "shell/win/win_desktop.h"

#include "core/address.h"
#include "run/current_network.h"
#include "shell/common/all_hosts_rows.h"
#include "shell/common/red_list_rows.h"
#include "shell/common/status_page_url.h"
#include "shell/common/terminal_lines.h"
#include "shell/common/tray_menu.h"
#include "shell/win/help_page.h"
#include "shell/win/red_dialog.h"
#include "shell/win/registry_key.h"
#include "shell/win/session_start.h"
#include "shell/win/resource.h"

#include <algorithm>
#include <cstring>
#include <thread>

namespace bv {

namespace {

// The record's first version; 88 bytes on 32-bit Windows, 104 on 64-bit.
constexpr DWORD kTrayRecordSize = NOTIFYICONDATAA_V1_SIZE;
constexpr int kTipLength = 64;
// Balloons need the record's second version.
constexpr DWORD kBalloonRecordSize = NOTIFYICONDATAA_V2_SIZE;
// Notices wait here only while the GUI thread is busy; older ones go first.
constexpr std::size_t kQueuedNotices = 8;

int iconIndex(TrayState state)
{
    switch (state) {
    case TrayState::Start:
    case TrayState::Green:
        return 0;
    case TrayState::Yellow:
        return 1;
    case TrayState::Red:
        return 2;
    case TrayState::ShuttingDown:
        return 3;
    }
    return 2;
}

UINT tipString(TrayState state)
{
    switch (state) {
    case TrayState::Green:
        return IDS_STATUS_GREEN;
    case TrayState::Yellow:
        return IDS_STATUS_YELLOW;
    case TrayState::Red:
        return IDS_STATUS_RED;
    case TrayState::ShuttingDown:
        return IDS_SHUTTING_DOWN;
    case TrayState::Start:
        break;
    }
    return 0;
}

void copyTip(NOTIFYICONDATAA& record, const char* text)
{
    std::memset(record.szTip, 0, sizeof record.szTip);
    std::memcpy(record.szTip, text, strnlen(text, kTipLength - 1));
}

template <std::size_t N>
void copyText(char (&field)[N], const std::string& text)
{
    std::memset(field, 0, N);
    std::memcpy(field, text.data(), std::min(text.size(), N - 1));
}

// The down line always comes first, so a notice that starts with one warns.
bool tellsOfDownHosts(const std::string& text)
{
    const std::size_t line = text.find('\n');
    return text.substr(0, line).find(" down: ") != std::string::npos;
}

}  // namespace

WinDesktop::WinDesktop(HINSTANCE instance, CRedDialog& redList)
    : instance_(instance)
    , redList_(redList)
    , allHosts_(instance, redList.registryKey())
    , notices_([this](const ChangeNotice& notice) { queueNotice(notice); })
{
}

WinDesktop::~WinDesktop()
{
    removeTrayIcon();
    if (menu_)
        ::DestroyMenu(menu_);
    if (window_) {
        ::SetWindowLongPtrA(window_, GWLP_USERDATA, 0);
        ::DestroyWindow(window_);
    }
    for (HICON icon : icons_) {
        if (icon)
            ::DestroyIcon(icon);
    }
}

bool WinDesktop::create()
{
    const int ids[4] = { IDI_TRAY_GREEN, IDI_TRAY_YELLOW, IDI_TRAY_RED, IDI_TRAY_SHUTTING_DOWN };
    // The notification area's size at this scaling, not the resource's first.
    const int width = ::GetSystemMetrics(SM_CXSMICON);
    const int height = ::GetSystemMetrics(SM_CYSMICON);
    for (int i = 0; i < 4; ++i)
        icons_[i] = static_cast<HICON>(
            ::LoadImageA(instance_, MAKEINTRESOURCEA(ids[i]), IMAGE_ICON, width, height, 0));

    WNDCLASSEXA windowClass {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = windowProcedure;
    windowClass.hInstance = instance_;
    windowClass.hCursor = ::LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // IDC_ARROW
    windowClass.lpszClassName = kWindowClass;
    taskbarCreated_ = ::RegisterWindowMessageA("TaskbarCreated");
    ::RegisterClassExA(&windowClass);  // a second desktop in one process finds it registered

    DWORD show = 1;
    if (RegistryKey::open(redList_.registryKey()).readAny(kShowNoticesSetting, &show, sizeof show))
        notices_.setEnabled(show != 0);

    window_ = ::CreateWindowExA(0, kWindowClass, "BeaconVigilor", WS_POPUP, 0, 0, ::GetSystemMetrics(SM_CXFULLSCREEN),
        ::GetSystemMetrics(SM_CYFULLSCREEN), nullptr, nullptr, instance_, this);
    // Run as Administrator, the window would not hear an Explorer that is not.
    if (window_ && taskbarCreated_ != 0)
        ::ChangeWindowMessageFilterEx(window_, taskbarCreated_, MSGFLT_ALLOW, nullptr);
    if (!allHosts_.hwnd())
        allHosts_.createModeless(nullptr);
    return window_ != nullptr;
}

void WinDesktop::addTrayIcon()
{
    std::lock_guard lock(recordMutex_);
    std::memset(&record_, 0, sizeof record_);
    record_.cbSize = kTrayRecordSize;
    record_.hWnd = window_;
    record_.uID = 0;
    record_.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    record_.uCallbackMessage = WM_TRAY_NOTIFY;
    record_.hIcon = icons_[0];
    copyTip(record_, "BeaconVigilor");
    iconAdded_ = notify(NIM_ADD, record_) != 0;
}

void WinDesktop::addTrayIconAgain()
{
    std::lock_guard lock(recordMutex_);
    if (record_.cbSize == 0)
        return;
    // In the state it had, not the start state.
    NOTIFYICONDATAA record = record_;
    record.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    iconAdded_ = notify(NIM_ADD, record) != 0;
}

void WinDesktop::removeTrayIcon()
{
    std::lock_guard lock(recordMutex_);
    if (record_.cbSize != 0)
        notify(NIM_DELETE, record_);
    iconAdded_ = false;
}

void WinDesktop::setTrayState(TrayState state)
{
    std::lock_guard lock(recordMutex_);
    record_.hIcon = icons_[iconIndex(state)];
    char tip[kTipLength] = {};
    if (const UINT id = tipString(state))
        ::LoadStringA(instance_, id, tip, kTipLength);
    else
        std::memcpy(tip, "BeaconVigilor", sizeof "BeaconVigilor");
    copyTip(record_, tip);
    record_.uFlags = NIF_ICON | NIF_TIP;
    notify(NIM_MODIFY, record_);
}

BOOL WinDesktop::notify(DWORD action, NOTIFYICONDATAA& record) const
{
    return notifier_ ? notifier_(action, record) : ::Shell_NotifyIconA(action, &record);
}

void WinDesktop::setShowNotices(bool show)
{
    notices_.setEnabled(show);
    RegistryKey::create(redList_.registryKey()).writeDword(kShowNoticesSetting, show ? 1 : 0);
}

void WinDesktop::queueNotice(const ChangeNotice& notice)
{
    if (closing_.load())
        return;
    {
        std::lock_guard lock(queueMutex_);
        if (queued_.size() >= kQueuedNotices)
            queued_.pop_front();
        queued_.push_back(notice);
    }
    // Posted, not sent: the sweep must not wait for the GUI thread.
    ::PostMessageA(window_, WM_SHOW_NOTICES, 0, 0);
}

void WinDesktop::showQueuedNotices()
{
    std::deque<ChangeNotice> notices;
    {
        std::lock_guard lock(queueMutex_);
        notices.swap(queued_);
    }
    for (const ChangeNotice& notice : notices)
        showNotice(notice);
}

bool WinDesktop::showNotice(const ChangeNotice& notice)
{
    if (closing_.load())
        return false;
    std::lock_guard lock(recordMutex_);
    NOTIFYICONDATAA balloon {};
    balloon.cbSize = kBalloonRecordSize;
    balloon.hWnd = record_.hWnd;
    balloon.uID = record_.uID;
    balloon.uFlags = NIF_INFO;
    copyText(balloon.szInfoTitle, notice.title);
    copyText(balloon.szInfo, notice.text);
    balloon.dwInfoFlags = tellsOfDownHosts(notice.text) ? NIIF_WARNING : NIIF_INFO;
    return notify(NIM_MODIFY, balloon) != 0;
}

NOTIFYICONDATAA WinDesktop::trayRecord() const
{
    std::lock_guard lock(recordMutex_);
    return record_;
}

HICON WinDesktop::icon(TrayState state) const
{
    return icons_[iconIndex(state)];
}

void WinDesktop::addressChanged(Address& address)
{
    if (closing_.load() || !redList_.hwnd())
        return;
    ::SendMessageA(redList_.hwnd(), WM_ADDRESS_CHANGED, 0, reinterpret_cast<LPARAM>(&address));
}

void WinDesktop::addressStillRed(Address& address)
{
    if (closing_.load() || !redList_.hwnd())
        return;
    ::SendMessageA(redList_.hwnd(), WM_ADDRESS_STILL_RED, 0, reinterpret_cast<LPARAM>(&address));
}

void WinDesktop::addressRemoved(const Address& address)
{
    if (closing_.load() || !redList_.hwnd())
        return;
    ::SendMessageA(redList_.hwnd(), WM_ADDRESS_REMOVED, 0, reinterpret_cast<LPARAM>(&address));
}

void WinDesktop::hostListReloaded(const HostListReload& reload)
{
    std::string text;
    for (const std::string& problem : reloadProblems(reload))
        text += problem + "\r\n";
    if (text.empty())
        return;
    // A box of its own thread: the sweep that announces the reload must not
    // wait for the user.
    std::thread([text] { ::MessageBoxA(nullptr, text.c_str(), "Reload Host List", MB_OK | MB_ICONERROR); }).detach();
}

void WinDesktop::showMessageBox(const std::string& text, const std::string& caption, MessageIcon icon)
{
    // On the calling thread, without owner: the GUI thread stays free.
    const UINT style = MB_OK | (icon == MessageIcon::Error ? MB_ICONERROR : MB_ICONINFORMATION);
    ::MessageBoxA(nullptr, text.c_str(), caption.empty() ? nullptr : caption.c_str(), style);
}

void WinDesktop::quit()
{
    ::PostMessageA(window_, WM_QUIT, 0, 0);
}

void WinDesktop::sweepPassDone()
{
    // A closed window costs the sweep nothing.
    if (closing_.load() || !allHosts_.watched())
        return;
    if (auto rows = currentAllHostsRows(50))
        allHosts_.deliverRows(std::move(*rows));
}

void WinDesktop::beginClosing()
{
    closing_.store(true);
    redList_.dropNotices();
}

void WinDesktop::waitAnsweringNotices(HANDLE thread)
{
    while (true) {
        // Runs the handlers of the messages sent so far, and only those.
        MSG message;
        ::PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        // Wakes for sent messages already queued too, not only for new ones.
        const DWORD woken
            = ::MsgWaitForMultipleObjectsEx(1, &thread, INFINITE, QS_SENDMESSAGE, MWMO_INPUTAVAILABLE);
        if (woken != WAIT_OBJECT_0 + 1)
            return;
    }
}

HMENU WinDesktop::buildMenu() const
{
    const HMENU menu = ::CreatePopupMenu();
    if (!menu)
        return nullptr;
    const bool served = !currentStatusPageUrl().empty();
    for (const TrayMenuItem& item : kTrayMenu) {
        if (item.command == TrayCommand::OpenStatusPage && !served)
            continue;
        switch (item.kind) {
        case TrayMenuKind::Separator:
            ::AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
            break;
        case TrayMenuKind::Command:
            ::AppendMenuA(menu, MF_STRING, trayCommandId(item.command), item.text);
            break;
        case TrayMenuKind::Check:
            ::AppendMenuA(menu, MF_STRING | (checked(item.command) ? MF_CHECKED : MF_UNCHECKED),
                trayCommandId(item.command), item.text);
            break;
        }
    }
    ::SetMenuDefaultItem(menu, trayCommandId(kTrayDefaultCommand), FALSE);
    return menu;
}

bool WinDesktop::checked(TrayCommand command) const
{
    switch (command) {
    case TrayCommand::ShowNotices:
        return showsNotices();
    case TrayCommand::StartWithSession:
        return startsWithSession();
    default:
        return false;
    }
}

void WinDesktop::showMenu()
{
    if (closing_.load())
        return;
    if (menu_)
        ::DestroyMenu(menu_);
    menu_ = buildMenu();
    if (!menu_)
        return;
    POINT cursor {};
    ::GetCursorPos(&cursor);
    ::SetForegroundWindow(window_);
    tracking_ = true;
    const UINT command = static_cast<UINT>(::TrackPopupMenu(menu_, TPM_RETURNCMD | TPM_BOTTOMALIGN | TPM_RIGHTALIGN,
        cursor.x, cursor.y, 0, window_, nullptr));
    tracking_ = false;
    ::PostMessageA(window_, WM_NULL, 0, 0);
    perform(command);
    if (menu_) {
        ::DestroyMenu(menu_);
        menu_ = nullptr;
    }
}

void WinDesktop::perform(UINT command)
{
    const std::optional<TrayCommand> known = trayCommandOfId(command);
    if (!known)
        return;
    switch (*known) {
    case TrayCommand::LiveRedList:
        showRedList();
        break;
    case TrayCommand::ShowLog:
        open(currentLogFile());
        break;
    case TrayCommand::ShowDown:
        open(currentDownFile());
        break;
    case TrayCommand::ShowInput:
        open(currentInputFile());
        break;
    case TrayCommand::Properties:
        showProperties();
        break;
    case TrayCommand::About:
        showAboutBox(instance_, opener_ ? &opener_ : nullptr);
        break;
    case TrayCommand::Help:
        open(helpPagePath());
        break;
    case TrayCommand::Exit:
        requestExit();
        break;
    case TrayCommand::ReloadHostList:
        requestHostListReload();
        break;
    case TrayCommand::ShowNotices:
        setShowNotices(!showsNotices());
        break;
    case TrayCommand::StartWithSession:
        setStartWithSession(!startsWithSession());
        break;
    case TrayCommand::AllHosts:
        showAllHosts();
        break;
    case TrayCommand::OpenStatusPage:
        openStatusPage();
        break;
    }
}

void WinDesktop::openStatusPage()
{
    const std::string url = currentStatusPageUrl();
    if (url.empty())
        return;
    if (opener_) {
        opener_(nullptr, url);
        return;
    }
    // The default browser; the address is ASCII, so widened as it is.
    const std::wstring wide(url.begin(), url.end());
    ::ShellExecuteW(nullptr, L"open", wide.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

void WinDesktop::open(const std::string& target)
{
    if (opener_)
        opener_(nullptr, target);
    else
        openWithShell(nullptr, target);
}

namespace {

// Shown, or brought forward when it is shown already.
void showOrRaise(HWND window)
{
    if (!window)
        return;
    if (::IsWindowVisible(window)) {
        ::SetForegroundWindow(window);
        return;
    }
    ::ShowWindow(window, SW_SHOW);
    if (::IsIconic(window))
        ::ShowWindow(window, SW_RESTORE);
}

}  // namespace

void WinDesktop::showRedList()
{
    showOrRaise(redList_.hwnd());
}

void WinDesktop::showAllHosts()
{
    showOrRaise(allHosts_.hwnd());
}

void WinDesktop::showProperties()
{
    ::MessageBoxA(nullptr, currentSummary().c_str(), "BeaconVigilor Properties", MB_OK | MB_ICONINFORMATION);
}

void WinDesktop::trayNotice(LPARAM mouseMessage)
{
    switch (mouseMessage) {
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
        showMenu();
        break;
    case WM_LBUTTONDBLCLK:
        showRedList();
        break;
    default:
        // Mouse moves over the icon come while the menu is up; it stays.
        if (menu_ && !tracking_) {
            ::DestroyMenu(menu_);
            menu_ = nullptr;
        }
        break;
    }
}

LRESULT CALLBACK WinDesktop::windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        const auto* creation = reinterpret_cast<const CREATESTRUCTA*>(lParam);
        ::SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(creation->lpCreateParams));
    }
    auto* desktop = reinterpret_cast<WinDesktop*>(::GetWindowLongPtrA(window, GWLP_USERDATA));
    if (message == WM_TRAY_NOTIFY && desktop) {
        desktop->trayNotice(lParam);
        return 0;
    }
    if (desktop && message == desktop->taskbarCreated_ && message != 0) {
        desktop->addTrayIconAgain();
        return 0;
    }
    if (message == WM_QUERYENDSESSION && desktop) {
        desktop->redList_.storeSettings();
        desktop->allHosts_.storeSettings();
        return TRUE;
    }
    if (message == WM_ENDSESSION && desktop) {
        if (wParam) {
            desktop->redList_.storeSettings();
            desktop->allHosts_.storeSettings();
        }
        return 0;
    }
    if (message == WM_SHOW_NOTICES && desktop) {
        desktop->showQueuedNotices();
        return 0;
    }
    return ::DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace bv
