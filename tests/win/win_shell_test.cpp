#include "core/address.h"
#include "core/monitor_events.h"
#include "platform/lock_hold.h"
#include "run/served_page.h"
#include "shell/common/all_hosts_rows.h"
#include "shell/common/tray_menu.h"
#include "shell/win/about_box.h"
#include "shell/win/help_page.h"
#include "shell/win/program_path.h"
#include "shell/win/session_start.h"
#include "shell/win/red_dialog.h"
#include "shell/win/registry_key.h"
#include "shell/win/resource.h"
#include "shell/win/win_desktop.h"

#include "platform/process.h"
#include "support/fake_clock.h"
#include "support/recording_desktop.h"
#include "support/test_network.h"
#include "support/wait_for.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <regex>
#include <string>
#include <thread>
#include <iterator>
#include <vector>

using namespace bv;

using namespace std::chrono_literals;

namespace {

HINSTANCE instance()
{
    return ::GetModuleHandleA(nullptr);
}

// A registry key of the test's own, removed before and after.
struct TestKey {
    TestKey()
        : path(std::string("Software\\BeaconVigilorTest\\") + std::to_string(platform::currentProcessId()) + "\\"
              + ::testing::UnitTest::GetInstance()->current_test_info()->name())
    {
        ::RegDeleteTreeA(HKEY_CURRENT_USER, path.c_str());
    }
    ~TestKey() { ::RegDeleteTreeA(HKEY_CURRENT_USER, path.c_str()); }
    std::string path;
};

struct StoredValue {
    bool present = false;
    DWORD type = 0;
    std::vector<BYTE> bytes;
};

StoredValue storedValue(const std::string& key, const char* name)
{
    StoredValue value;
    HKEY opened = nullptr;
    if (::RegOpenKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS)
        return value;
    DWORD size = 0;
    if (::RegQueryValueExA(opened, name, nullptr, &value.type, nullptr, &size) == ERROR_SUCCESS) {
        value.bytes.resize(size);
        value.present = ::RegQueryValueExA(opened, name, nullptr, &value.type, value.bytes.data(), &size)
            == ERROR_SUCCESS;
    }
    ::RegCloseKey(opened);
    return value;
}

void storeValue(const std::string& key, const char* name, DWORD type, const void* bytes, DWORD size)
{
    HKEY created = nullptr;
    ASSERT_EQ(::RegCreateKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &created,
                  nullptr),
        ERROR_SUCCESS);
    ::RegSetValueExA(created, name, 0, type, static_cast<const BYTE*>(bytes), size);
    ::RegCloseKey(created);
}

std::string cell(HWND list, int row, int column)
{
    char buffer[512] = {};
    LVITEMA item {};
    item.iSubItem = column;
    item.pszText = buffer;
    item.cchTextMax = sizeof buffer;
    ::SendMessageA(list, LVM_GETITEMTEXTA, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
    return buffer;
}

int rowCount(HWND list)
{
    return static_cast<int>(::SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
}

std::vector<std::string> rowOf(HWND list, int row)
{
    std::vector<std::string> cells;
    for (int column = 0; column < CRedDialog::kColumnCount; ++column)
        cells.push_back(cell(list, row, column));
    return cells;
}

int columnWidth(HWND list, int column)
{
    return static_cast<int>(::SendMessageA(list, LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(column), 0));
}

Address host(const std::string& name, const std::string& ip, const std::string& comment)
{
    Address address(name, ip, comment, 30000, 20, 1108980907);
    return address;
}

void becomes(HWND window, Address& address, HostStatus status, const std::string& error, CalendarTime when)
{
    address.setStatus(status);
    address.setErrorText(error);
    address.setLastSendTime(when);
    if (status == HostStatus::Red && address.getDownSince() == 0)
        address.setDownSince(when - 30);
    ::SendMessageA(window, WM_ADDRESS_CHANGED, 0, reinterpret_cast<LPARAM>(&address));
}

int trayRedCount(RecordingDesktop& desktop)
{
    int count = 0;
    for (TrayState state : desktop.trayStates())
        count += state == TrayState::Red;
    return count;
}

}  // namespace

TEST(RedList, RowsFollowTheNoticesNewestFirstByExactIp)
{
    TestKey key;
    RecordingDesktop desktop;
    CRedDialog dialog(instance(), key.path);
    ASSERT_TRUE(dialog.createModeless(nullptr));
    const HWND list = dialog.list();
    ASSERT_NE(list, nullptr);
    EXPECT_FALSE(::IsWindowVisible(dialog.hwnd())) << "created hidden";

    Address router = host("router-2", "10.0.0.2", "core switch");
    becomes(dialog.hwnd(), router, HostStatus::Yellow, "Timed out", 1108981000);
    EXPECT_EQ(rowCount(list), 0) << "yellow adds no row";
    EXPECT_EQ(trayRedCount(desktop), 0);

    becomes(dialog.hwnd(), router, HostStatus::Red, "Timed out", 1108981030);
    ASSERT_EQ(rowCount(list), 1);
    EXPECT_EQ(rowOf(list, 0), (std::vector<std::string> { "10.0.0.2", "core switch", formatTime(1108981000),
                                  "Timed out", formatTime(1108981030), "router-2" }));
    EXPECT_EQ(trayRedCount(desktop), 1);

    Address web = host("web-1", "10.0.0.7", "front end");
    becomes(dialog.hwnd(), web, HostStatus::Red, "TTL expired", 1108981040);
    ASSERT_EQ(rowCount(list), 2);
    EXPECT_EQ(cell(list, 0, 0), "10.0.0.7") << "newest first";
    EXPECT_EQ(cell(list, 1, 0), "10.0.0.2");

    // Failing again changes only the error and the latest ping, in place.
    router.setComment("renamed meanwhile");
    router.setName("renamed");
    router.setErrorText("Destination host unreachable");
    router.setLastSendTime(1108981090);
    ::SendMessageA(dialog.hwnd(), WM_ADDRESS_STILL_RED, 0, reinterpret_cast<LPARAM>(&router));
    EXPECT_EQ(rowOf(list, 1), (std::vector<std::string> { "10.0.0.2", "core switch", formatTime(1108981000),
                                  "Destination host unreachable", formatTime(1108981090), "router-2" }));
    EXPECT_EQ(cell(list, 0, 0), "10.0.0.7");
    EXPECT_EQ(trayRedCount(desktop), 3);

    // Only the exact text is the row's key: the list's own search ignores case.
    Address upper = host("upper", "Gateway", "");
    Address lower = host("lower", "gateway", "");
    becomes(dialog.hwnd(), upper, HostStatus::Red, "Timed out", 1108981100);
    becomes(dialog.hwnd(), lower, HostStatus::Red, "Timed out", 1108981110);
    ASSERT_EQ(rowCount(list), 4);
    becomes(dialog.hwnd(), lower, HostStatus::Green, "", 1108981120);
    ASSERT_EQ(rowCount(list), 3);
    EXPECT_EQ(cell(list, 0, 0), "Gateway");

    becomes(dialog.hwnd(), router, HostStatus::Green, "", 1108981200);
    ASSERT_EQ(rowCount(list), 2);
    EXPECT_EQ(cell(list, 0, 0), "Gateway");
    EXPECT_EQ(cell(list, 1, 0), "10.0.0.7");

    // An update or removal for an address without a row changes nothing;
    // a notice without an address is ignored.
    Address stranger = host("stranger", "10.9.9.9", "");
    ::SendMessageA(dialog.hwnd(), WM_ADDRESS_STILL_RED, 0, reinterpret_cast<LPARAM>(&stranger));
    becomes(dialog.hwnd(), stranger, HostStatus::Green, "", 1108981300);
    EXPECT_EQ(::SendMessageA(dialog.hwnd(), WM_ADDRESS_CHANGED, 0, 0), 0);
    EXPECT_EQ(rowCount(list), 2);

    // Once closing has begun, notices are dropped.
    dialog.dropNotices();
    becomes(dialog.hwnd(), router, HostStatus::Red, "Timed out", 1108981400);
    EXPECT_EQ(rowCount(list), 2);
}

TEST(RedList, TemplateColumnsDefaultsAndResizeMargin)
{
    TestKey key;
    RecordingDesktop desktop;
    CRedDialog dialog(instance(), key.path);
    ASSERT_TRUE(dialog.createModeless(nullptr));
    const HWND list = dialog.list();
    EXPECT_EQ(::GetDlgCtrlID(list), IDC_RED_LIST);
    char title[64] = {};
    ::GetWindowTextA(dialog.hwnd(), title, sizeof title);
    EXPECT_STREQ(title, "BeaconVigilor Red List");
    EXPECT_TRUE(::GetWindowLongA(list, GWL_STYLE) & LVS_REPORT);

    const char* titles[] = { "IP", "Comment", "Down Since", "Error", "Latest Ping", "Name" };
    for (int column = 0; column < CRedDialog::kColumnCount; ++column) {
        EXPECT_EQ(columnWidth(list, column), dialog.defaultWidth(column)) << column;
        EXPECT_GE(columnWidth(list, column), CRedDialog::kDefaultWidths[column]) << column;
        char text[64] = {};
        LVCOLUMNA header {};
        header.mask = LVCF_TEXT | LVCF_FMT;
        header.pszText = text;
        header.cchTextMax = sizeof text;
        ::SendMessageA(list, LVM_GETCOLUMNA, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&header));
        EXPECT_STREQ(text, titles[column]);
        EXPECT_EQ(header.fmt & LVCFMT_JUSTIFYMASK, LVCFMT_LEFT);
    }

    // The dates are whole in the list's own font.
    const int dateWidth = static_cast<int>(
        ::SendMessageA(list, LVM_GETSTRINGWIDTHA, 0, reinterpret_cast<LPARAM>("Wed Dec  9 01:32:50 2026")));
    EXPECT_GT(columnWidth(list, kDownSinceColumn), dateWidth + 8);
    EXPECT_GT(columnWidth(list, kLatestPingColumn), dateWidth + 8);
    EXPECT_EQ(columnWidth(list, kIpColumn), 250);

    // The system menu carries the font chooser.
    const HMENU system = ::GetSystemMenu(dialog.hwnd(), FALSE);
    ASSERT_NE(system, nullptr);
    const int items = ::GetMenuItemCount(system);
    char item[64] = {};
    ::GetMenuStringA(system, ID_CHOOSE_FONT, item, sizeof item, MF_BYCOMMAND);
    EXPECT_STREQ(item, "Choose &Font...");
    EXPECT_EQ(::GetMenuItemID(system, items - 1), static_cast<UINT>(ID_CHOOSE_FONT));

    ::SetWindowPos(dialog.hwnd(), nullptr, 0, 0, 640, 300, SWP_NOZORDER | SWP_NOMOVE);
    RECT client {};
    ::GetClientRect(dialog.hwnd(), &client);
    RECT inner {};
    ::GetWindowRect(list, &inner);
    ::MapWindowPoints(nullptr, dialog.hwnd(), reinterpret_cast<POINT*>(&inner), 2);
    EXPECT_EQ(inner.left, 2);
    EXPECT_EQ(inner.top, 2);
    EXPECT_EQ(client.right - inner.right, 2);
    EXPECT_EQ(client.bottom - inner.bottom, 2);

    // Closing hides, it does not destroy.
    ::ShowWindow(dialog.hwnd(), SW_SHOW);
    ::SendMessageA(dialog.hwnd(), WM_COMMAND, IDCANCEL, 0);
    EXPECT_TRUE(::IsWindow(dialog.hwnd()));
    EXPECT_FALSE(::IsWindowVisible(dialog.hwnd()));
}

TEST(RedList, SettingsAreStoredAtDestroyAndRestoredAtCreation)
{
    TestKey key;
    RecordingDesktop desktop;
    RECT shownAt {};
    {
        CRedDialog dialog(instance(), key.path);
        ASSERT_TRUE(dialog.createModeless(nullptr));
        const int widths[] = { 111, 122, 133, 144, 155, 166 };
        for (int column = 0; column < CRedDialog::kColumnCount; ++column)
            ::SendMessageA(dialog.list(), LVM_SETCOLUMNWIDTH, column, MAKELPARAM(widths[column], 0));
        ::SetWindowPos(dialog.hwnd(), nullptr, 40, 50, 600, 280, SWP_NOZORDER);
        ::ShowWindow(dialog.hwnd(), SW_SHOW);
        ::GetWindowRect(dialog.hwnd(), &shownAt);
        ASSERT_TRUE(dialog.destroyWindow());
    }
    for (int column = 0; column < 5; ++column) {
        const StoredValue width = storedValue(key.path, ("ColumnWidth" + std::to_string(column)).c_str());
        ASSERT_TRUE(width.present) << column;
        EXPECT_EQ(width.type, static_cast<DWORD>(REG_DWORD));
        ASSERT_EQ(width.bytes.size(), 4u);
        EXPECT_EQ(width.bytes[0], 111 + 11 * column);
    }
    EXPECT_FALSE(storedValue(key.path, "ColumnWidth5").present) << "the Name column's width is never stored";
    const StoredValue placement = storedValue(key.path, "WindowPlacement");
    ASSERT_TRUE(placement.present);
    EXPECT_EQ(placement.type, static_cast<DWORD>(REG_BINARY));
    ASSERT_EQ(placement.bytes.size(), 44u);
    WINDOWPLACEMENT stored {};
    std::memcpy(&stored, placement.bytes.data(), 44);
    EXPECT_EQ(stored.length, 44u);
    EXPECT_NE(stored.showCmd, 0u) << "stored while visible";
    EXPECT_FALSE(storedValue(key.path, "Font").present) << "written only when a font is chosen";

    {
        CRedDialog dialog(instance(), key.path);
        ASSERT_TRUE(dialog.createModeless(nullptr));
        for (int column = 0; column < 5; ++column)
            EXPECT_EQ(columnWidth(dialog.list(), column), 111 + 11 * column);
        EXPECT_EQ(columnWidth(dialog.list(), 5), 150);
        EXPECT_TRUE(::IsWindowVisible(dialog.hwnd())) << "a window that was open comes back open";
        RECT at {};
        ::GetWindowRect(dialog.hwnd(), &at);
        EXPECT_EQ(at.left, shownAt.left);
        EXPECT_EQ(at.top, shownAt.top);
        ::ShowWindow(dialog.hwnd(), SW_HIDE);
        ASSERT_TRUE(dialog.destroyWindow());
    }
    std::memcpy(&stored, storedValue(key.path, "WindowPlacement").bytes.data(), 44);
    EXPECT_EQ(stored.showCmd, 0u) << "stored while hidden";
    {
        CRedDialog dialog(instance(), key.path);
        ASSERT_TRUE(dialog.createModeless(nullptr));
        EXPECT_FALSE(::IsWindowVisible(dialog.hwnd()));
    }
}

TEST(RedList, StoredValuesOfTheWrongTypeOrSizeAreIgnored)
{
    TestKey key;
    RecordingDesktop desktop;
    WINDOWPLACEMENT shown {};
    shown.length = sizeof shown;
    shown.showCmd = SW_SHOWNORMAL;
    shown.rcNormalPosition = { 10, 10, 400, 300 };
    storeValue(key.path, "WindowPlacement", REG_BINARY, &shown, 40);
    const DWORD notAFont = 12;
    storeValue(key.path, "Font", REG_DWORD, &notAFont, sizeof notAFont);
    const BYTE shortWidth[8] = { 77, 0, 0, 0, 0, 0, 0, 0 };
    storeValue(key.path, "ColumnWidth1", REG_BINARY, shortWidth, sizeof shortWidth);
    const DWORD hugeWidth = 0x00010050;  // only the low 16 bits count
    storeValue(key.path, "ColumnWidth2", REG_DWORD, &hugeWidth, sizeof hugeWidth);
    {
        CRedDialog dialog(instance(), key.path);
        ASSERT_TRUE(dialog.createModeless(nullptr));
        EXPECT_FALSE(::IsWindowVisible(dialog.hwnd()));
        EXPECT_EQ(columnWidth(dialog.list(), 1), 100) << "an 8-byte value does not fit";
        EXPECT_EQ(columnWidth(dialog.list(), 2), 0x50);
        EXPECT_EQ(::SendMessageA(dialog.list(), WM_GETFONT, 0, 0), ::SendMessageA(dialog.hwnd(), WM_GETFONT, 0, 0))
            << "the dialog's own font stays";
    }

    // A proper record is applied to the list at creation, even with its face
    // name unterminated.
    LOGFONTA font {};
    font.lfHeight = -19;
    font.lfWeight = FW_BOLD;
    std::memset(font.lfFaceName, 'A', sizeof font.lfFaceName);
    storeValue(key.path, "Font", REG_BINARY, &font, sizeof font);
    CRedDialog dialog(instance(), key.path);
    ASSERT_TRUE(dialog.createModeless(nullptr));
    const auto applied = reinterpret_cast<HFONT>(::SendMessageA(dialog.list(), WM_GETFONT, 0, 0));
    ASSERT_NE(applied, nullptr);
    LOGFONTA read {};
    ASSERT_GT(::GetObjectA(applied, sizeof read, &read), 0);
    EXPECT_EQ(read.lfHeight, -19);
    EXPECT_EQ(read.lfWeight, FW_BOLD);
}

TEST(Tray, RecordAfterEveryStateAndTheHiddenWindow)
{
    TestKey key;
    CRedDialog dialog(instance(), key.path);
    WinDesktop desktop(instance(), dialog);
    ASSERT_TRUE(desktop.create());
    const HWND window = desktop.trayWindow();
    EXPECT_EQ(::FindWindowA("BeaconVigilor", "BeaconVigilor"), window);
    EXPECT_FALSE(::IsWindowVisible(window));
    EXPECT_EQ(static_cast<DWORD>(::GetWindowLongA(window, GWL_STYLE)) & WS_POPUP, static_cast<DWORD>(WS_POPUP));

    const TrayState states[] = { TrayState::Green, TrayState::Yellow, TrayState::Red, TrayState::ShuttingDown };
    for (TrayState a : states) {
        ASSERT_NE(desktop.icon(a), nullptr);
        for (TrayState b : states) {
            if (a != b) {
                EXPECT_NE(desktop.icon(a), desktop.icon(b));
            }
        }
    }
    ICONINFO info {};
    ASSERT_TRUE(::GetIconInfo(desktop.icon(TrayState::Red), &info));
    BITMAP bitmap {};
    ::GetObjectA(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof bitmap, &bitmap);
    EXPECT_EQ(bitmap.bmWidth, ::GetSystemMetrics(SM_CXSMICON)) << "loaded at the notification area's size";
    if (info.hbmColor)
        ::DeleteObject(info.hbmColor);
    ::DeleteObject(info.hbmMask);

    desktop.addTrayIcon();
    NOTIFYICONDATAA record = desktop.trayRecord();
    EXPECT_EQ(record.cbSize, static_cast<DWORD>(NOTIFYICONDATAA_V1_SIZE));
    EXPECT_EQ(record.hWnd, window);
    EXPECT_EQ(record.uID, 0u);
    EXPECT_EQ(record.uFlags, static_cast<UINT>(NIF_MESSAGE | NIF_ICON | NIF_TIP));
    EXPECT_EQ(record.uCallbackMessage, static_cast<UINT>(WM_TRAY_NOTIFY));
    EXPECT_EQ(record.hIcon, desktop.icon(TrayState::Green));
    EXPECT_STREQ(record.szTip, "BeaconVigilor");

    const struct {
        void (*operation)();
        TrayState state;
        const char* tip;
    } steps[] = {
        { setTrayYellow, TrayState::Yellow, "BeaconVigilor Status Yellow" },
        { setTrayRed, TrayState::Red, "BeaconVigilor Status Red" },
        { setTrayGreen, TrayState::Green, "BeaconVigilor Status Green" },
        { setTrayShuttingDown, TrayState::ShuttingDown, "BeaconVigilor is shutting down..." },
    };
    ListenerRegistration installation(desktop);
    for (const auto& step : steps) {
        step.operation();
        record = desktop.trayRecord();
        EXPECT_EQ(record.hIcon, desktop.icon(step.state)) << step.tip;
        EXPECT_STREQ(record.szTip, step.tip);
        EXPECT_EQ(record.uFlags, static_cast<UINT>(NIF_ICON | NIF_TIP));
        EXPECT_EQ(record.uCallbackMessage, static_cast<UINT>(WM_TRAY_NOTIFY));
    }
    desktop.removeTrayIcon();
}

TEST(Tray, MenuItemsIdsAndDefaultItem)
{
    TestKey key;
    CRedDialog dialog(instance(), key.path);
    WinDesktop desktop(instance(), dialog);
    ASSERT_TRUE(desktop.create());
    const HMENU menu = desktop.buildMenu();
    ASSERT_NE(menu, nullptr);
    const struct {
        const char* text;
        UINT id;
    } expected[] = {
        { "Live &Red List", trayCommandId(TrayCommand::LiveRedList) },
        { nullptr, 0 },
        { "Show &Log", trayCommandId(TrayCommand::ShowLog) },
        { "Show &Down", trayCommandId(TrayCommand::ShowDown) },
        { "Show &Input File", trayCommandId(TrayCommand::ShowInput) },
        { "&Properties", trayCommandId(TrayCommand::Properties) },
        { nullptr, 0 },
        { "&About...", trayCommandId(TrayCommand::About) },
        { "&Help", trayCommandId(TrayCommand::Help) },
        { nullptr, 0 },
        { "E&xit", trayCommandId(TrayCommand::Exit) },
        // What came later follows, behind a separator.
        { nullptr, 0 },
        { "Reload Host List", trayCommandId(TrayCommand::ReloadHostList) },
        { "Show Notices", trayCommandId(TrayCommand::ShowNotices) },
        { "Start with Session", trayCommandId(TrayCommand::StartWithSession) },
        { "All Hosts", trayCommandId(TrayCommand::AllHosts) },
    };
    const int count = static_cast<int>(std::size(expected));
    ASSERT_EQ(::GetMenuItemCount(menu), count);
    for (int position = 0; position < count; ++position) {
        MENUITEMINFOA item {};
        item.cbSize = sizeof item;
        item.fMask = MIIM_FTYPE | MIIM_ID;
        ASSERT_TRUE(::GetMenuItemInfoA(menu, position, TRUE, &item));
        if (expected[position].text == nullptr) {
            EXPECT_TRUE(item.fType & MFT_SEPARATOR) << position;
            continue;
        }
        char text[64] = {};
        ::GetMenuStringA(menu, position, text, sizeof text, MF_BYPOSITION);
        EXPECT_STREQ(text, expected[position].text);
        EXPECT_EQ(item.wID, expected[position].id) << text;
    }
    EXPECT_EQ(::GetMenuDefaultItem(menu, FALSE, 0), trayCommandId(TrayCommand::LiveRedList));
    ::DestroyMenu(menu);

    // While the run serves its page, one item more, last; it opens the page.
    std::vector<std::string> opened;
    desktop.setOpener([&](HWND, const std::string& target) { opened.push_back(target); });
    {
        const ServedPlacePublication served({ "0.0.0.0", 9100 });
        const HMENU withPage = desktop.buildMenu();
        ASSERT_NE(withPage, nullptr);
        ASSERT_EQ(::GetMenuItemCount(withPage), count + 1);
        char text[64] = {};
        ::GetMenuStringA(withPage, count, text, sizeof text, MF_BYPOSITION);
        EXPECT_STREQ(text, "Open Status Page");
        EXPECT_EQ(::GetMenuItemID(withPage, count), 14u);
        ::DestroyMenu(withPage);
        desktop.perform(trayCommandId(TrayCommand::OpenStatusPage));
        EXPECT_EQ(opened, (std::vector<std::string> { "http://127.0.0.1:9100/" })) << "every interface: loopback";
    }
    desktop.perform(trayCommandId(TrayCommand::OpenStatusPage));
    EXPECT_EQ(opened.size(), 1u) << "no page served, none opened";
    const HMENU without = desktop.buildMenu();
    EXPECT_EQ(::GetMenuItemCount(without), count);
    ::DestroyMenu(without);
}

TEST(Tray, CommandsOpenTheRunsFilesAndExitEndsTheLoop)
{
    TestKey key;
    CRedDialog dialog(instance(), key.path);
    WinDesktop desktop(instance(), dialog);
    ASSERT_TRUE(desktop.create());
    ASSERT_TRUE(dialog.createModeless(nullptr));
    std::vector<std::string> opened;
    desktop.setOpener([&](HWND, const std::string& target) { opened.push_back(target); });
    ListenerRegistration installation(desktop);

    desktop.perform(trayCommandId(TrayCommand::ShowLog));
    desktop.perform(trayCommandId(TrayCommand::ShowDown));
    desktop.perform(trayCommandId(TrayCommand::ShowInput));
    desktop.perform(trayCommandId(TrayCommand::Help));
    desktop.perform(0);
    EXPECT_EQ(opened, (std::vector<std::string> { "N/A", "N/A", "N/A", helpPagePath() })) << "no run exists";

    desktop.perform(trayCommandId(TrayCommand::LiveRedList));
    EXPECT_TRUE(::IsWindowVisible(dialog.hwnd()));
    ::ShowWindow(dialog.hwnd(), SW_MINIMIZE);
    ::ShowWindow(dialog.hwnd(), SW_HIDE);
    // A double click on the icon shows the list, restored.
    ::SendMessageA(desktop.trayWindow(), WM_TRAY_NOTIFY, 0, WM_LBUTTONDBLCLK);
    EXPECT_TRUE(::IsWindowVisible(dialog.hwnd()));
    EXPECT_FALSE(::IsIconic(dialog.hwnd()));

    exitRequested.store(false);
    MSG stale;
    for (int i = 0; i < 1000 && ::PeekMessageA(&stale, nullptr, 0, 0, PM_REMOVE); ++i)
        ::DispatchMessageA(&stale);
    desktop.addTrayIcon();
    desktop.perform(trayCommandId(TrayCommand::Exit));
    EXPECT_TRUE(exitRequested.load());
    EXPECT_STREQ(desktop.trayRecord().szTip, "BeaconVigilor is shutting down...");
    MSG message {};
    bool quitSeen = false;
    // Painting is dispatched, since it stays queued until it is done.
    for (int i = 0; i < 1000 && !quitSeen && ::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE); ++i) {
        if (message.message == WM_QUIT)
            quitSeen = true;
        else
            ::DispatchMessageA(&message);
    }
    EXPECT_TRUE(quitSeen);
    exitRequested.store(false);
    desktop.removeTrayIcon();
}

TEST(AboutBox, VersionLineLinkFontCursorAndOpenOnPress)
{
    std::vector<std::string> opened;
    const ShellOpener opener = [&](HWND, const std::string& target) { opened.push_back(target); };
    const HWND box = createAboutBox(instance(), &opener);
    ASSERT_NE(box, nullptr);
    char text[300] = {};
    ::GetDlgItemTextA(box, IDC_ABOUT_VERSION, text, sizeof text);
    // The build date in the compiler's form, as the shell was compiled.
    EXPECT_EQ(std::string(text), aboutVersionLine());
    EXPECT_TRUE(std::regex_match(std::string(text),
        std::regex(R"(Version 1\.3 \((Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) [ 123][0-9] [0-9]{4}\))")))
        << text;
    ::GetWindowTextA(box, text, sizeof text);
    EXPECT_STREQ(text, "About BeaconVigilor");

    const HWND link = ::GetDlgItem(box, IDC_ABOUT_LINK);
    ASSERT_NE(link, nullptr);
    LOGFONTA font {};
    ASSERT_GT(::GetObjectA(reinterpret_cast<HFONT>(::SendMessageA(link, WM_GETFONT, 0, 0)), sizeof font, &font), 0);
    EXPECT_STREQ(font.lfFaceName, "Arial");
    EXPECT_EQ(font.lfHeight, 16);
    EXPECT_TRUE(font.lfUnderline);

    ::SetCursor(::LoadCursorA(nullptr, IDC_ARROW));
    EXPECT_TRUE(::SendMessageA(link, WM_SETCURSOR, reinterpret_cast<WPARAM>(link), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE)));
    EXPECT_EQ(::GetCursor(), ::LoadCursorA(nullptr, IDC_HAND));

    ::SendMessageA(link, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(3, 3));
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0], helpPagePath()) << "on the press";

    const std::string longText(300, 'x');
    ::SetWindowTextA(link, longText.c_str());
    ::SendMessageA(link, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(3, 3));
    ASSERT_EQ(opened.size(), 2u);
    EXPECT_EQ(opened[1], std::string(259, 'x'));

    ::SetWindowTextA(link, "");
    ::SendMessageA(link, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(3, 3));
    EXPECT_EQ(opened.size(), 2u) << "an empty link opens nothing";
    ::DestroyWindow(box);
}

namespace {

struct NoticeFromThread {
    WinDesktop* desktop;
    Address* address;
};

DWORD WINAPI sendNotice(LPVOID parameter)
{
    auto* notice = static_cast<NoticeFromThread*>(parameter);
    notice->desktop->addressChanged(*notice->address);
    return 0;
}

}  // namespace

TEST(Tray, NoticePendingAtExitIsAnsweredAndLaterOnesReturnAtOnce)
{
    TestKey key;
    RecordingDesktop recording;
    CRedDialog dialog(instance(), key.path);
    WinDesktop desktop(instance(), dialog);
    ASSERT_TRUE(desktop.create());
    ASSERT_TRUE(dialog.createModeless(nullptr));
    Address address = host("router-2", "10.0.0.2", "core switch");
    address.setStatus(HostStatus::Red);
    NoticeFromThread notice { &desktop, &address };

    // The sender blocks in its send while this thread is not listening.
    const HANDLE pending = ::CreateThread(nullptr, 0, sendNotice, &notice, 0, nullptr);
    ASSERT_NE(pending, nullptr);
    ASSERT_TRUE(waitFor([] { return (HIWORD(::GetQueueStatus(QS_SENDMESSAGE)) & QS_SENDMESSAGE) != 0; }, 10s));
    desktop.beginClosing();
    WinDesktop::waitAnsweringNotices(pending);
    EXPECT_EQ(::WaitForSingleObject(pending, 0), WAIT_OBJECT_0);
    ::CloseHandle(pending);
    EXPECT_EQ(rowCount(dialog.list()), 0) << "dropped, not shown";

    // Once closing has begun a notice does not wait for this thread at all.
    const HANDLE late = ::CreateThread(nullptr, 0, sendNotice, &notice, 0, nullptr);
    ASSERT_NE(late, nullptr);
    EXPECT_EQ(::WaitForSingleObject(late, 10000), WAIT_OBJECT_0);
    ::CloseHandle(late);
}

namespace {

// Answers the font chooser with a button once it is up; false when it never came.
std::thread answerFontChooser(WPARAM button, std::atomic<bool>& answered)
{
    return std::thread([button, &answered] {
        HWND chooser = nullptr;
        if (waitFor(
                [&] {
                    chooser = ::FindWindowA("#32770", "Font");
                    return chooser != nullptr && ::IsWindowVisible(chooser);
                },
                20s))
            answered = ::PostMessageA(chooser, WM_COMMAND, button, 0) != 0;
    });
}

}  // namespace

TEST(RedList, FontChooserCancelKeepsAndConfirmStoresAndApplies)
{
    TestKey key;
    RecordingDesktop recording;
    CRedDialog dialog(instance(), key.path);
    ASSERT_TRUE(dialog.createModeless(nullptr));
    const LRESULT before = ::SendMessageA(dialog.list(), WM_GETFONT, 0, 0);

    std::atomic<bool> answered { false };
    std::thread cancel = answerFontChooser(IDCANCEL, answered);
    // The low four bits of a system command are the system's own.
    ::SendMessageA(dialog.hwnd(), WM_SYSCOMMAND, ID_CHOOSE_FONT | 0x3, 0);
    cancel.join();
    ASSERT_TRUE(answered);
    EXPECT_FALSE(storedValue(key.path, "Font").present);
    EXPECT_EQ(::SendMessageA(dialog.list(), WM_GETFONT, 0, 0), before);

    answered = false;
    std::thread confirm = answerFontChooser(IDOK, answered);
    ::SendMessageA(dialog.hwnd(), WM_SYSCOMMAND, ID_CHOOSE_FONT, 0);
    confirm.join();
    ASSERT_TRUE(answered);
    const StoredValue font = storedValue(key.path, "Font");
    ASSERT_TRUE(font.present);
    EXPECT_EQ(font.type, static_cast<DWORD>(REG_BINARY));
    ASSERT_EQ(font.bytes.size(), 60u);
    LOGFONTA stored {};
    std::memcpy(&stored, font.bytes.data(), 60);
    const auto applied = reinterpret_cast<HFONT>(::SendMessageA(dialog.list(), WM_GETFONT, 0, 0));
    ASSERT_NE(reinterpret_cast<LRESULT>(applied), before);
    LOGFONTA read {};
    ASSERT_GT(::GetObjectA(applied, sizeof read, &read), 0);
    EXPECT_STREQ(read.lfFaceName, stored.lfFaceName);
    EXPECT_EQ(read.lfHeight, stored.lfHeight);
}

namespace {

// Closes the top-level window with this title by posting `message` once it
// is up; the text of its first non-empty static control comes back.
std::thread closeWindowTitled(const char* title, UINT message, WPARAM wParam, std::string& text,
    std::atomic<bool>& closed)
{
    return std::thread([title, message, wParam, &text, &closed] {
        HWND window = nullptr;
        if (!waitFor(
                [&] {
                    window = ::FindWindowA(nullptr, title);
                    return window != nullptr && ::IsWindowVisible(window);
                },
                20s))
            return;
        for (HWND child = ::FindWindowExA(window, nullptr, "Static", nullptr); child != nullptr;
             child = ::FindWindowExA(window, child, "Static", nullptr)) {
            char buffer[1024] = {};
            ::GetWindowTextA(child, buffer, sizeof buffer);
            if (buffer[0] != '\0') {
                text = buffer;
                break;
            }
        }
        closed = ::PostMessageA(window, message, wParam, 0) != 0;
    });
}

}  // namespace

TEST(Tray, PropertiesWithoutARunSaysNotAvailable)
{
    TestKey key;
    CRedDialog dialog(instance(), key.path);
    WinDesktop desktop(instance(), dialog);
    ASSERT_TRUE(desktop.create());
    std::string text;
    std::atomic<bool> closed { false };
    std::thread closer = closeWindowTitled("BeaconVigilor Properties", WM_COMMAND, IDOK, text, closed);
    desktop.perform(trayCommandId(TrayCommand::Properties));
    closer.join();
    EXPECT_TRUE(closed);
    EXPECT_EQ(text, "N/A");
}

TEST(AboutBox, HelpPageIsTheOneBesideTheProgram)
{
    char program[MAX_PATH] = {};
    ASSERT_GT(::GetModuleFileNameA(nullptr, program, MAX_PATH), 0u);
    std::string expected(program);
    expected.erase(expected.find_last_of('\\') + 1);
    EXPECT_EQ(helpPagePath(), expected + "beaconvigilor-help.html");
}

TEST(AboutBox, OkEscapeAndTheCloseBoxAllCloseIt)
{
    const struct {
        UINT message;
        WPARAM wParam;
    } ways[] = { { WM_COMMAND, IDOK }, { WM_COMMAND, IDCANCEL }, { WM_CLOSE, 0 } };
    for (const auto& way : ways) {
        std::string text;
        std::atomic<bool> closed { false };
        std::thread closer = closeWindowTitled("About BeaconVigilor", way.message, way.wParam, text, closed);
        showAboutBox(instance());
        closer.join();
        EXPECT_TRUE(closed);
        EXPECT_EQ(text.rfind("BeaconVigilor\n", 0), 0u) << text;
    }
}

namespace {

// The colour of one pixel of the first icon in Wine's own tray window,
// which Wine draws when no tray host runs on the X display.
bool trayPixel(int x, int y, COLORREF& colour)
{
    const HWND tray = ::FindWindowA(nullptr, "Wine System Tray");
    if (!tray || !::IsWindowVisible(tray))
        return false;
    POINT at { 2 + x, 2 + y };
    ::ClientToScreen(tray, &at);
    const HDC screen = ::GetDC(nullptr);
    colour = ::GetPixel(screen, at.x, at.y);
    ::ReleaseDC(nullptr, screen);
    return colour != CLR_INVALID;
}

bool trayShows(COLORREF wanted)
{
    COLORREF seen = CLR_INVALID;
    return waitFor([&] { return trayPixel(8, 6, seen) && seen == wanted; }, 10s);
}

}  // namespace

TEST(Tray, IconShowsEachStatesColourInTheTray)
{
    TestKey key;
    CRedDialog dialog(instance(), key.path);
    WinDesktop desktop(instance(), dialog);
    ASSERT_TRUE(desktop.create());
    desktop.addTrayIcon();
    COLORREF seen = CLR_INVALID;
    if (!waitFor([&] { return trayPixel(8, 6, seen); }, 10s)) {
        desktop.removeTrayIcon();
        GTEST_SKIP() << "no Wine System Tray window on this display (a tray host runs)";
    }
    EXPECT_TRUE(trayShows(RGB(0, 200, 0))) << "start: green";
    desktop.setTrayState(TrayState::Red);
    EXPECT_TRUE(trayShows(RGB(230, 0, 0)));
    desktop.setTrayState(TrayState::Yellow);
    EXPECT_TRUE(trayShows(RGB(255, 220, 0)));
    desktop.setTrayState(TrayState::ShuttingDown);
    EXPECT_TRUE(trayShows(RGB(16, 16, 16))) << "dark between the dots";
    EXPECT_TRUE(waitFor([&] { return trayPixel(4, 4, seen) && seen == RGB(230, 0, 0); }, 10s)) << "a red dot";
    desktop.setTrayState(TrayState::Green);
    EXPECT_TRUE(trayShows(RGB(0, 200, 0)));
    desktop.removeTrayIcon();
}

TEST(RedList, EnterAndEscapeHideTheWindowAndKeepIt)
{
    TestKey key;
    RecordingDesktop recording;
    CRedDialog dialog(instance(), key.path);
    WinDesktop desktop(instance(), dialog);
    ASSERT_TRUE(desktop.create());
    ASSERT_TRUE(dialog.createModeless(nullptr));
    const HWND window = dialog.hwnd();
    Address router = host("router-2", "10.0.0.2", "core switch");
    becomes(window, router, HostStatus::Red, "Timed out", 1108981030);

    for (const WPARAM key : { VK_RETURN, VK_ESCAPE }) {
        desktop.perform(trayCommandId(TrayCommand::LiveRedList));
        ASSERT_TRUE(::IsWindowVisible(window)) << key;
        ::SetFocus(dialog.list());
        // The keys go the way the message loop takes them.
        MSG press { dialog.list(), WM_KEYDOWN, key, 1, 0, {} };
        EXPECT_TRUE(dialog.isDialogMessage(press)) << key;
        EXPECT_EQ(dialog.hwnd(), window) << key;
        EXPECT_TRUE(::IsWindow(window)) << key;
        EXPECT_FALSE(::IsWindowVisible(window)) << key;
    }
    desktop.perform(trayCommandId(TrayCommand::LiveRedList));
    EXPECT_TRUE(::IsWindowVisible(window));
    ASSERT_EQ(rowCount(dialog.list()), 1);
    EXPECT_EQ(cell(dialog.list(), 0, 0), "10.0.0.2");
}

namespace {

struct TrayCall {
    DWORD action;
    NOTIFYICONDATAA record;
};

TrayNotifier recordInto(std::vector<TrayCall>& calls)
{
    return [&calls](DWORD action, NOTIFYICONDATAA& record) {
        calls.push_back({ action, record });
        return TRUE;
    };
}

std::vector<TrayCall> balloons(const std::vector<TrayCall>& calls)
{
    std::vector<TrayCall> found;
    for (const TrayCall& call : calls) {
        if (call.record.uFlags & NIF_INFO)
            found.push_back(call);
    }
    return found;
}

void dispatchQueuedMessages()
{
    MSG message;
    for (int i = 0; i < 1000 && ::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE); ++i)
        ::DispatchMessageA(&message);
}

bool menuItemChecked(WinDesktop& desktop, UINT id)
{
    const HMENU menu = desktop.buildMenu();
    const bool checked = (::GetMenuState(menu, id, MF_BYCOMMAND) & MF_CHECKED) != 0;
    ::DestroyMenu(menu);
    return checked;
}

}  // namespace

TEST(Tray, NoticesComeAsOneBalloonPerSweepPassAndCanBeTurnedOff)
{
    TestKey key;
    CRedDialog dialog(instance(), key.path);
    WinDesktop desktop(instance(), dialog);
    std::vector<TrayCall> calls;
    desktop.setTrayNotifier(recordInto(calls));
    ASSERT_TRUE(desktop.create());
    desktop.addTrayIcon();
    EXPECT_TRUE(desktop.showsNotices()) << "on by default";
    EXPECT_TRUE(menuItemChecked(desktop, trayCommandId(TrayCommand::ShowNotices)));
    ListenerRegistration registration(desktop.notices());

    std::vector<Address> hosts;
    for (int i = 0; i < 40; ++i) {
        hosts.push_back(host("db" + std::to_string(i), "10.0.1." + std::to_string(i), ""));
        hosts.back().setStatus(HostStatus::Red);
    }
    for (const Address& turned : hosts)
        notifyChangeLogged(turned);
    notifySweepPassDone();
    notifySweepPassDone();
    dispatchQueuedMessages();
    std::vector<TrayCall> shown = balloons(calls);
    ASSERT_EQ(shown.size(), 1u) << "one notice a pass, none for a quiet pass";
    const NOTIFYICONDATAA& balloon = shown[0].record;
    EXPECT_EQ(shown[0].action, static_cast<DWORD>(NIM_MODIFY));
    EXPECT_EQ(balloon.cbSize, static_cast<DWORD>(NOTIFYICONDATAA_V2_SIZE));
    EXPECT_EQ(balloon.hWnd, desktop.trayWindow());
    EXPECT_EQ(balloon.uID, 0u);
    EXPECT_EQ(balloon.uFlags, static_cast<UINT>(NIF_INFO));
    EXPECT_STREQ(balloon.szInfoTitle, "BeaconVigilor");
    EXPECT_STREQ(balloon.szInfo, "40 hosts down: db0, db1, db2, db3, db4 and 35 others");
    EXPECT_EQ(balloon.dwInfoFlags, static_cast<DWORD>(NIIF_WARNING));

    hosts[3].setStatus(HostStatus::Green);
    notifyChangeLogged(hosts[3]);
    notifySweepPassDone();
    dispatchQueuedMessages();
    shown = balloons(calls);
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_STREQ(shown[1].record.szInfo, "1 host back up: db3");
    EXPECT_EQ(shown[1].record.dwInfoFlags, static_cast<DWORD>(NIIF_INFO));

    // Off from the menu: remembered, and nothing more is shown.
    desktop.perform(trayCommandId(TrayCommand::ShowNotices));
    EXPECT_FALSE(desktop.showsNotices());
    EXPECT_FALSE(menuItemChecked(desktop, trayCommandId(TrayCommand::ShowNotices)));
    const StoredValue stored = storedValue(key.path, "ShowNotices");
    ASSERT_TRUE(stored.present);
    EXPECT_EQ(stored.type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(stored.bytes, (std::vector<BYTE> { 0, 0, 0, 0 }));
    notifyChangeLogged(hosts[0]);
    notifySweepPassDone();
    dispatchQueuedMessages();
    EXPECT_EQ(balloons(calls).size(), 2u);

    WinDesktop next(instance(), dialog);
    ASSERT_TRUE(next.create());
    EXPECT_FALSE(next.showsNotices()) << "read back at the next start";
}

TEST(Tray, BalloonIsAcceptedAndShownByTheSystemTray)
{
    TestKey key;
    CRedDialog dialog(instance(), key.path);
    WinDesktop desktop(instance(), dialog);
    ASSERT_TRUE(desktop.create());
    desktop.addTrayIcon();
    EXPECT_TRUE(desktop.showNotice({ "BeaconVigilor", "2 hosts down: db1, db2" }));
    if (::FindWindowA(nullptr, "Wine System Tray")) {
        EXPECT_TRUE(waitFor(
            [] {
                // The tray's own, not one of this process's controls.
                for (HWND tip = ::FindWindowExA(nullptr, nullptr, "tooltips_class32", nullptr); tip != nullptr;
                     tip = ::FindWindowExA(nullptr, tip, "tooltips_class32", nullptr)) {
                    DWORD owner = 0;
                    ::GetWindowThreadProcessId(tip, &owner);
                    if (owner != ::GetCurrentProcessId() && ::IsWindowVisible(tip))
                        return true;
                }
                return false;
            },
            10s))
            << "Wine draws the balloon as a tooltip";
    }
    desktop.removeTrayIcon();
}

TEST(Tray, StartWithSessionWritesAndRemovesTheRunValue)
{
    TestKey key;
    ::RegDeleteKeyValueA(HKEY_CURRENT_USER, kRunKey, kRunValue);
    CRedDialog dialog(instance(), key.path);
    WinDesktop desktop(instance(), dialog);
    ASSERT_TRUE(desktop.create());
    EXPECT_FALSE(menuItemChecked(desktop, trayCommandId(TrayCommand::StartWithSession))) << "off by default";

    desktop.perform(trayCommandId(TrayCommand::StartWithSession));
    EXPECT_TRUE(menuItemChecked(desktop, trayCommandId(TrayCommand::StartWithSession)));
    const StoredValue run = storedValue(kRunKey, kRunValue);
    ASSERT_TRUE(run.present);
    EXPECT_EQ(run.type, static_cast<DWORD>(REG_SZ));
    char program[MAX_PATH] = {};
    ::GetModuleFileNameA(nullptr, program, MAX_PATH);
    const std::string command(reinterpret_cast<const char*>(run.bytes.data()));
    // The test's own arguments (its filter) follow the quoted path.
    EXPECT_EQ(command.rfind("\"" + std::string(program) + "\"", 0), 0u) << command;
    EXPECT_EQ(command, sessionStartCommand());

    desktop.perform(trayCommandId(TrayCommand::StartWithSession));
    EXPECT_FALSE(menuItemChecked(desktop, trayCommandId(TrayCommand::StartWithSession)));
    EXPECT_FALSE(storedValue(kRunKey, kRunValue).present);

    EXPECT_EQ(programArguments("\"C:\\Program Files\\BeaconVigilor\\BeaconVigilor.exe\"  -in \"my hosts.txt\""),
        "-in \"my hosts.txt\"");
    EXPECT_EQ(programArguments("BeaconVigilor.exe\t-pt 500"), "-pt 500");
    EXPECT_EQ(programArguments("BeaconVigilor.exe"), "");
    EXPECT_EQ(programArguments("\"unterminated -in x"), "");
}

TEST(Tray, ExplorerRestartAddsTheIconAgainAndSessionEndStoresTheSettings)
{
    TestKey key;
    CRedDialog dialog(instance(), key.path);
    WinDesktop desktop(instance(), dialog);
    std::vector<TrayCall> calls;
    desktop.setTrayNotifier(recordInto(calls));
    ASSERT_TRUE(desktop.create());
    ASSERT_TRUE(dialog.createModeless(nullptr));
    desktop.addTrayIcon();
    desktop.setTrayState(TrayState::Red);
    calls.clear();

    ::SendMessageA(desktop.trayWindow(), ::RegisterWindowMessageA("TaskbarCreated"), 0, 0);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].action, static_cast<DWORD>(NIM_ADD));
    EXPECT_EQ(calls[0].record.cbSize, static_cast<DWORD>(NOTIFYICONDATAA_V1_SIZE));
    EXPECT_EQ(calls[0].record.uFlags, static_cast<UINT>(NIF_MESSAGE | NIF_ICON | NIF_TIP));
    EXPECT_EQ(calls[0].record.uCallbackMessage, static_cast<UINT>(WM_TRAY_NOTIFY));
    EXPECT_EQ(calls[0].record.hIcon, desktop.icon(TrayState::Red)) << "in the state it had";
    EXPECT_STREQ(calls[0].record.szTip, "BeaconVigilor Status Red");

    const struct {
        UINT message;
        WPARAM wParam;
        LRESULT result;
        int width;
    } ends[] = { { WM_QUERYENDSESSION, 0, TRUE, 123 }, { WM_ENDSESSION, TRUE, 0, 133 } };
    for (const auto& end : ends) {
        ::RegDeleteTreeA(HKEY_CURRENT_USER, key.path.c_str());
        ::SendMessageA(dialog.list(), LVM_SETCOLUMNWIDTH, 0, MAKELPARAM(end.width, 0));
        EXPECT_EQ(::SendMessageA(desktop.trayWindow(), end.message, end.wParam, 0), end.result);
        const StoredValue width = storedValue(key.path, "ColumnWidth0");
        ASSERT_TRUE(width.present) << end.message;
        EXPECT_EQ(width.bytes[0], end.width);
        EXPECT_TRUE(storedValue(key.path, "WindowPlacement").present);
    }
    EXPECT_TRUE(::IsWindow(dialog.hwnd()));
}

namespace {

std::wstring clipboardUnicode()
{
    std::wstring text;
    if (!::OpenClipboard(nullptr))
        return text;
    if (const HANDLE data = ::GetClipboardData(CF_UNICODETEXT)) {
        if (const auto* chars = static_cast<const wchar_t*>(::GlobalLock(data))) {
            text = chars;
            ::GlobalUnlock(data);
        }
    }
    ::CloseClipboard();
    return text;
}

std::string clipboardAnsi()
{
    std::string text;
    if (!::OpenClipboard(nullptr))
        return text;
    if (const HANDLE data = ::GetClipboardData(CF_TEXT)) {
        if (const auto* chars = static_cast<const char*>(::GlobalLock(data))) {
            text = chars;
            ::GlobalUnlock(data);
        }
    }
    ::CloseClipboard();
    return text;
}

void select(HWND list, int row)
{
    LVITEMA item {};
    item.stateMask = LVIS_SELECTED;
    item.state = LVIS_SELECTED;
    ::SendMessageA(list, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
}

// A key press on the list with Control held, as the thread's key state says.
void pressWithControl(HWND list, WPARAM key, bool control)
{
    BYTE keys[256] = {};
    ::GetKeyboardState(keys);
    keys[VK_CONTROL] = control ? 0x80 : 0;
    ::SetKeyboardState(keys);
    ::SendMessageA(list, WM_KEYDOWN, key, 1);
    keys[VK_CONTROL] = 0;
    ::SetKeyboardState(keys);
}

}  // namespace

TEST(RedList, ControlCCopiesTheSelectedRowsUnderTheTitles)
{
    TestKey key;
    RecordingDesktop recording;
    CRedDialog dialog(instance(), key.path);
    ASSERT_TRUE(dialog.createModeless(nullptr));
    Address router = host("router-2", "10.0.0.2", "core switch");
    Address web = host("web-1", "10.0.0.7", "front end");
    Address mail = host("mail", "10.0.0.9", "");
    becomes(dialog.hwnd(), router, HostStatus::Red, "Timed out", 1108981030);
    becomes(dialog.hwnd(), web, HostStatus::Red, "TTL expired", 1108981040);
    becomes(dialog.hwnd(), mail, HostStatus::Red, "Timed out", 1108981050);
    select(dialog.list(), 0);
    select(dialog.list(), 2);
    ::ShowWindow(dialog.hwnd(), SW_SHOW);

    ASSERT_TRUE(::OpenClipboard(nullptr));
    ::EmptyClipboard();
    ::CloseClipboard();
    pressWithControl(dialog.list(), 'C', false);
    EXPECT_EQ(clipboardAnsi(), "") << "C alone copies nothing";

    pressWithControl(dialog.list(), 'C', true);
    const std::string expected = "IP\tComment\tDown Since\tError\tLatest Ping\tName\r\n"
                                 "10.0.0.9\t\t" + formatTime(1108981020) + "\tTimed out\t" + formatTime(1108981050)
        + "\tmail\r\n"
          "10.0.0.2\tcore switch\t" + formatTime(1108981000) + "\tTimed out\t" + formatTime(1108981030)
        + "\trouter-2\r\n";
    EXPECT_EQ(clipboardAnsi(), expected);
    EXPECT_EQ(clipboardUnicode(), std::wstring(expected.begin(), expected.end()));
}

TEST(Resources, IconsInEverySizeAndAManifestForDpiAndCommonControls)
{
    for (const int id : { IDI_TRAY_GREEN, IDI_TRAY_YELLOW, IDI_TRAY_RED, IDI_TRAY_SHUTTING_DOWN }) {
        const HRSRC found = ::FindResourceA(instance(), MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(14));  // RT_GROUP_ICON
        ASSERT_NE(found, nullptr) << id;
        const auto* group = static_cast<const BYTE*>(::LockResource(::LoadResource(instance(), found)));
        ASSERT_NE(group, nullptr);
        // The group's header (reserved, type, count), then 14-byte entries led by width and height.
        const int count = group[4] | (group[5] << 8);
        std::vector<int> sizes;
        for (int entry = 0; entry < count; ++entry) {
            const BYTE* at = group + 6 + 14 * entry;
            EXPECT_EQ(at[0], at[1]);
            sizes.push_back(at[0]);
        }
        EXPECT_EQ(sizes, (std::vector<int> { 16, 20, 24, 32, 48 })) << id;
    }

    const HRSRC found = ::FindResourceA(instance(), MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));  // RT_MANIFEST
    ASSERT_NE(found, nullptr);
    const auto* bytes = static_cast<const char*>(::LockResource(::LoadResource(instance(), found)));
    const std::string manifest(bytes, ::SizeofResource(instance(), found));
    EXPECT_NE(manifest.find(">PerMonitorV2"), std::string::npos);
    EXPECT_NE(manifest.find(">true/pm<"), std::string::npos) << "the fallback of older systems";
    EXPECT_NE(manifest.find("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""), std::string::npos);
}

namespace {

// Hosts whose one reply took these many microseconds; the last is red.
std::vector<AllHostsRow> rowsWithMaxima(const std::vector<std::int64_t>& maxima)
{
    std::vector<AllHostsRow> rows;
    for (std::size_t position = 0; position < maxima.size(); ++position) {
        Address address = host("h" + std::to_string(position), "10.0.0." + std::to_string(2 + position), "");
        address.roundTrips(20).requestSent(0, { 1000000, std::nullopt });
        address.roundTrips(20).replyCame(0, maxima[position]);
        if (position + 1 == maxima.size())
            address.setStatus(HostStatus::Red);
        rows.push_back(allHostsRow(address, position, 2000000));
    }
    return rows;
}

std::vector<std::string> columnOf(HWND list, int column)
{
    std::vector<std::string> cells;
    for (int row = 0; row < rowCount(list); ++row)
        cells.push_back(cell(list, row, column));
    return cells;
}

void clickTitle(CAllHostsDialog& dialog, int column)
{
    NMLISTVIEW click {};
    click.hdr.hwndFrom = dialog.list();
    click.hdr.idFrom = IDC_ALL_HOSTS_LIST;
    click.hdr.code = LVN_COLUMNCLICK;
    click.iItem = -1;
    click.iSubItem = column;
    ::SendMessageA(dialog.hwnd(), WM_NOTIFY, IDC_ALL_HOSTS_LIST, reinterpret_cast<LPARAM>(&click));
}

using Names = std::vector<std::string>;

}  // namespace

TEST(AllHosts, RowsSortByNumbersKeepTheSelectionAndCopy)
{
    TestKey key;
    CAllHostsDialog dialog(instance(), key.path);
    ASSERT_TRUE(dialog.createModeless(nullptr));
    const HWND list = dialog.list();
    EXPECT_FALSE(::IsWindowVisible(dialog.hwnd()));
    char title[64] = {};
    ::GetWindowTextA(dialog.hwnd(), title, sizeof title);
    EXPECT_STREQ(title, "BeaconVigilor All Hosts");

    dialog.showRows(rowsWithMaxima({ 10000, 9000, 100000 }));
    ASSERT_EQ(rowCount(list), 3);
    EXPECT_EQ(columnOf(list, kHostsNameColumn), (Names { "h0", "h1", "h2" })) << "list order at first";
    EXPECT_EQ(columnOf(list, kHostsStatusColumn), (Names { "Green", "Green", "Red" }));
    EXPECT_EQ(cell(list, 2, kHostsDownSinceColumn), formatTime(0));

    // A click on a title sorts by its numbers; a second click turns the order.
    clickTitle(dialog, kHostsMaximumColumn);
    EXPECT_EQ(columnOf(list, kHostsMaximumColumn), (Names { "9.000 ms", "10.000 ms", "100.000 ms" }));
    clickTitle(dialog, kHostsMaximumColumn);
    EXPECT_EQ(columnOf(list, kHostsNameColumn), (Names { "h2", "h0", "h1" }));

    // Rows delivered from another thread keep the order and the selection.
    select(list, 1);
    std::thread([&] { dialog.deliverRows(rowsWithMaxima({ 500, 9000, 100000, 7000 })); }).join();
    ASSERT_TRUE(waitFor(
        [&] {
            dispatchQueuedMessages();
            return rowCount(list) == 4;
        },
        5s));
    EXPECT_EQ(columnOf(list, kHostsNameColumn), (Names { "h2", "h1", "h3", "h0" }));
    dialog.showRows(rowsWithMaxima({ 500, 9000 }));
    EXPECT_EQ(columnOf(list, kHostsNameColumn), (Names { "h1", "h0" }));
    EXPECT_EQ(dialog.selectedRowsText(),
        "Name\tHost\tStatus\tLatest\tMedian\tMaximum\tLoss\tDown Since\tAlarm\r\n"
        "h0\t10.0.0.2\tGreen\t0.500 ms\t0.500 ms\t0.500 ms\t0 %\t\t\r\n");

    ::ShowWindow(dialog.hwnd(), SW_SHOW);
    select(list, 0);
    ASSERT_TRUE(::OpenClipboard(nullptr));
    ::EmptyClipboard();
    ::CloseClipboard();
    pressWithControl(list, 'C', true);
    EXPECT_EQ(clipboardAnsi(), dialog.selectedRowsText());
    EXPECT_NE(clipboardAnsi().find("\r\nh1\t10.0.0.3\tRed\t9.000 ms\t"), std::string::npos) << clipboardAnsi();
}

TEST(AllHosts, DatesFitAndTheLayoutIsRemembered)
{
    TestKey key;
    RECT shownAt {};
    {
        CAllHostsDialog dialog(instance(), key.path);
        ASSERT_TRUE(dialog.createModeless(nullptr));
        const int dateWidth = static_cast<int>(::SendMessageA(
            dialog.list(), LVM_GETSTRINGWIDTHA, 0, reinterpret_cast<LPARAM>("Wed Dec  9 01:32:50 2026")));
        EXPECT_GT(columnWidth(dialog.list(), kHostsDownSinceColumn), dateWidth + 8);
        for (int column = 0; column < kAllHostsColumnCount; ++column) {
            EXPECT_EQ(columnWidth(dialog.list(), column), dialog.defaultWidth(column)) << column;
            ::SendMessageA(dialog.list(), LVM_SETCOLUMNWIDTH, column, MAKELPARAM(60 + column, 0));
        }
        ::SetWindowPos(dialog.hwnd(), nullptr, 40, 50, 600, 280, SWP_NOZORDER);
        ::ShowWindow(dialog.hwnd(), SW_SHOW);
        EXPECT_TRUE(dialog.watched());
        ::GetWindowRect(dialog.hwnd(), &shownAt);
        ASSERT_TRUE(dialog.destroyWindow());
    }
    const StoredValue width = storedValue(key.path, "AllHostsColumnWidth8");
    ASSERT_TRUE(width.present);
    EXPECT_EQ(width.bytes[0], 68);
    EXPECT_TRUE(storedValue(key.path, "AllHostsWindowPlacement").present);
    EXPECT_FALSE(storedValue(key.path, "ColumnWidth0").present) << "the red list's own names stay apart";
    LOGFONTA font {};
    font.lfHeight = -21;
    std::strcpy(font.lfFaceName, "Tahoma");
    storeValue(key.path, "AllHostsFont", REG_BINARY, &font, sizeof font);

    CAllHostsDialog dialog(instance(), key.path);
    ASSERT_TRUE(dialog.createModeless(nullptr));
    EXPECT_TRUE(::IsWindowVisible(dialog.hwnd())) << "open when stored";
    RECT at {};
    ::GetWindowRect(dialog.hwnd(), &at);
    EXPECT_EQ(at.left, shownAt.left);
    EXPECT_EQ(at.top, shownAt.top);
    for (int column = 0; column < kAllHostsColumnCount; ++column)
        EXPECT_EQ(columnWidth(dialog.list(), column), 60 + column) << "a stored width wins";
    LOGFONTA applied {};
    ASSERT_GT(::GetObjectA(reinterpret_cast<HFONT>(::SendMessageA(dialog.list(), WM_GETFONT, 0, 0)), sizeof applied,
                  &applied),
        0);
    EXPECT_EQ(applied.lfHeight, -21);
    ::ShowWindow(dialog.hwnd(), SW_HIDE);
    EXPECT_FALSE(dialog.watched());
}

TEST(AllHosts, TrayItemOpensItAndSweepPassesFeedItWhileOpen)
{
    TestKey key;
    CRedDialog redList(instance(), key.path);
    WinDesktop desktop(instance(), redList);
    ASSERT_TRUE(desktop.create());
    ExitFlagReset exitFlag;
    FakeClock clock;
    TestNetwork test("first 127.0.0.2\nsecond 127.0.0.3\n", clock);
    CAllHostsDialog& dialog = desktop.allHosts();
    ASSERT_NE(dialog.hwnd(), nullptr);
    EXPECT_FALSE(::IsWindowVisible(dialog.hwnd()));
    desktop.perform(trayCommandId(TrayCommand::AllHosts));
    ASSERT_TRUE(::IsWindowVisible(dialog.hwnd()));
    EXPECT_EQ(columnOf(dialog.list(), kHostsNameColumn), (Names { "first", "second" })) << "rows at once";

    Address& second = *test.network->host(1);
    {
        platform::MutexHold hosts(test.network->vectorMutex(), "vector mutex cannot be released");
        second.roundTrips(20).requestSent(0, { clock.monotonicMicroseconds(), std::nullopt });
        second.roundTrips(20).replyCame(0, 1500);
    }
    std::thread([&] { desktop.sweepPassDone(); }).join();
    EXPECT_TRUE(waitFor(
        [&] {
            dispatchQueuedMessages();
            return cell(dialog.list(), 1, kHostsLatestColumn) == "1.500 ms";
        },
        5s));

    // Closed, the sweep builds nothing for it.
    ::ShowWindow(dialog.hwnd(), SW_HIDE);
    {
        platform::MutexHold hosts(test.network->vectorMutex(), "vector mutex cannot be released");
        second.setStatus(HostStatus::Red);
    }
    std::thread([&] { desktop.sweepPassDone(); }).join();
    dispatchQueuedMessages();
    EXPECT_EQ(cell(dialog.list(), 1, kHostsStatusColumn), "Green");
    desktop.showAllHosts();
    EXPECT_EQ(cell(dialog.list(), 1, kHostsStatusColumn), "Red");
}
