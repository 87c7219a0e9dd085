#include "shell/win/red_dialog.h"

#include "core/address.h"
#include "core/monitor_events.h"
#include "shell/common/all_hosts_rows.h"
#include "shell/win/all_hosts_dialog.h"
#include "shell/win/clipboard_text.h"
#include "shell/win/registry_key.h"
#include "shell/win/resource.h"

#include <commctrl.h>
#include <commdlg.h>

#include <algorithm>
#include <vector>

namespace bv {

static_assert(sizeof(LOGFONTA) == 60, "the stored font is the 60-byte record");
static_assert(sizeof(WINDOWPLACEMENT) == 44, "the stored placement is the 44-byte record");

namespace {

std::string cellText(HWND list, int row, int column)
{
    std::vector<char> buffer(1024);
    LVITEMA item {};
    item.iSubItem = column;
    item.pszText = buffer.data();
    item.cchTextMax = static_cast<int>(buffer.size());
    ::SendMessageA(list, LVM_GETITEMTEXTA, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
    return buffer.data();
}

}  // namespace

CRedDialog::CRedDialog(HINSTANCE instance, std::string registryKey)
    : Dialog(instance, IDD_RED_LIST)
    , registryKey_(std::move(registryKey))
{
}

CRedDialog::~CRedDialog()
{
    if (hwnd())
        CRedDialog::destroyWindow();
    if (font_)
        ::DeleteObject(font_);
    if (smallIcon_)
        ::DestroyIcon(smallIcon_);
}

bool CRedDialog::destroyWindow()
{
    if (!hwnd())
        return false;
    storeSettings();
    const bool destroyed = Dialog::destroyWindow();
    list_ = nullptr;
    return destroyed;
}

void CRedDialog::doDataExchange()
{
    list_ = ::GetDlgItem(hwnd(), IDC_RED_LIST);
}

bool CRedDialog::onInitDialog()
{
    Dialog::onInitDialog();

    if (HMENU system = ::GetSystemMenu(hwnd(), FALSE)) {
        ::AppendMenuA(system, MF_SEPARATOR, 0, nullptr);
        ::AppendMenuA(system, MF_STRING, ID_CHOOSE_FONT, "Choose &Font...");
    }

    smallIcon_ = static_cast<HICON>(::LoadImageA(instance(), MAKEINTRESOURCEA(IDI_TRAY_RED), IMAGE_ICON,
        ::GetSystemMetrics(SM_CXSMICON), ::GetSystemMetrics(SM_CYSMICON), 0));
    if (smallIcon_)
        ::SendMessageA(hwnd(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_));

    LOGFONTA font {};
    if (readStoredFont(font))
        applyFont(font);

    for (int column = 0; column < kColumnCount; ++column) {
        LVCOLUMNA header {};
        header.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
        header.fmt = LVCFMT_LEFT;
        header.cx = defaultWidth(column);
        header.pszText = const_cast<char*>(kRedListColumnTitles[column]);
        header.iSubItem = column;
        ::SendMessageA(list_, LVM_INSERTCOLUMNA, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&header));
    }

    restoreSettings();
    return true;
}

int CRedDialog::defaultWidth(int column) const
{
    int width = kDefaultWidths[column];
    if (column == kDownSinceColumn || column == kLatestPingColumn)
        for (const char* sample : { kWidestDateSample, "Wed Dec  9 01:32:50 2026" })
            width = std::max(width, listColumnWidthFor(list_, sample));
    return width;
}

void CRedDialog::onOk()
{
    ::ShowWindow(hwnd(), SW_HIDE);
}

void CRedDialog::onCancel()
{
    ::ShowWindow(hwnd(), SW_HIDE);
}

bool CRedDialog::handleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result)
{
    switch (message) {
    case WM_SIZE:
        resize(LOWORD(lParam), HIWORD(lParam));
        return false;
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == ID_CHOOSE_FONT) {
            chooseFont();
            result = 0;
            return true;
        }
        return false;
    case WM_NOTIFY: {
        const auto* header = reinterpret_cast<const NMHDR*>(lParam);
        if (header && header->hwndFrom == list_ && header->code == LVN_KEYDOWN
            && reinterpret_cast<const NMLVKEYDOWN*>(lParam)->wVKey == 'C' && ::GetKeyState(VK_CONTROL) < 0)
            copySelection();
        return false;
    }
    case WM_ADDRESS_CHANGED:
        if (lParam != 0 && !dropNotices_.load())
            addressChanged(*reinterpret_cast<const Address*>(lParam));
        result = 0;
        return true;
    case WM_ADDRESS_REMOVED:
        if (lParam != 0)
            remove(*reinterpret_cast<const Address*>(lParam));
        result = 0;
        return true;
    case WM_ADDRESS_STILL_RED:
        if (lParam != 0 && !dropNotices_.load())
            addressStillRed(*reinterpret_cast<const Address*>(lParam));
        result = 0;
        return true;
    default:
        return false;
    }
}

void CRedDialog::addressChanged(const Address& address)
{
    switch (address.getStatus()) {
    case HostStatus::Green:
        remove(address);
        break;
    case HostStatus::Red:
        setTrayRed();
        add(address);
        break;
    default:
        break;
    }
}

void CRedDialog::addressStillRed(const Address& address)
{
    update(address);
    setTrayRed();
}

int CRedDialog::find(const std::string& ip) const
{
    if (!list_)
        return -1;
    // The list's own search ignores case; only the exact text is a match.
    LVFINDINFOA wanted {};
    wanted.flags = LVFI_STRING;
    wanted.psz = ip.c_str();
    int from = -1;
    const int rows = static_cast<int>(::SendMessageA(list_, LVM_GETITEMCOUNT, 0, 0));
    for (int guard = 0; guard <= rows; ++guard) {
        const int row = static_cast<int>(
            ::SendMessageA(list_, LVM_FINDITEMA, static_cast<WPARAM>(from), reinterpret_cast<LPARAM>(&wanted)));
        if (row < 0 || row <= from)
            return -1;
        if (cellText(list_, row, kIpColumn) == ip)
            return row;
        from = row;
    }
    return -1;
}

void CRedDialog::remove(const Address& address)
{
    const int row = find(redListKey(address));
    if (row >= 0)
        ::SendMessageA(list_, LVM_DELETEITEM, static_cast<WPARAM>(row), 0);
}

void CRedDialog::add(const Address& address)
{
    if (!list_)
        return;
    remove(address);
    const RedListRow cells = redListRow(address);
    LVITEMA item {};
    item.mask = LVIF_TEXT;
    item.iItem = 0;
    item.pszText = const_cast<char*>(cells[kIpColumn].c_str());
    const int row = static_cast<int>(::SendMessageA(list_, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
    if (row < 0)
        return;
    for (int column = kIpColumn + 1; column < kRedListColumnCount; ++column)
        setCell(row, column, cells[column]);
}

void CRedDialog::update(const Address& address)
{
    const int row = find(redListKey(address));
    if (row < 0)
        return;
    const RedListRow cells = redListRow(address);
    for (const RedListColumn column : kRedListUpdatedColumns)
        setCell(row, column, cells[column]);
}

void CRedDialog::setCell(int row, int column, const std::string& text)
{
    LVITEMA item {};
    item.iSubItem = column;
    item.pszText = const_cast<char*>(text.c_str());
    ::SendMessageA(list_, LVM_SETITEMTEXTA, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
}

bool CRedDialog::readStoredFont(LOGFONTA& font) const
{
    const RegistryKey key = RegistryKey::open(registryKey_);
    LOGFONTA stored {};
    if (!key.readBinary(kFontSetting, &stored, sizeof stored))
        return false;
    // A face name without its terminator would be read past its end.
    stored.lfFaceName[LF_FACESIZE - 1] = '\0';
    font = stored;
    return true;
}

void CRedDialog::storeFont(const LOGFONTA& font) const
{
    const RegistryKey key = RegistryKey::create(registryKey_);
    key.writeBinary(kFontSetting, &font, sizeof font);
}

void CRedDialog::applyFont(const LOGFONTA& font)
{
    const HFONT created = ::CreateFontIndirectA(&font);
    if (!created)
        return;
    if (list_)
        ::SendMessageA(list_, WM_SETFONT, reinterpret_cast<WPARAM>(created), TRUE);
    if (font_)
        ::DeleteObject(font_);
    font_ = created;
}

void CRedDialog::chooseFont()
{
    LOGFONTA font {};
    const bool stored = readStoredFont(font);
    CHOOSEFONTA choice {};
    choice.lStructSize = sizeof choice;
    choice.hwndOwner = hwnd();
    choice.lpLogFont = &font;
    choice.Flags = CF_SCREENFONTS | CF_EFFECTS | (stored ? CF_INITTOLOGFONTSTRUCT : 0);
    if (!::ChooseFontA(&choice))
        return;
    storeFont(font);
    applyFont(font);
}

void CRedDialog::restoreSettings()
{
    const RegistryKey key = RegistryKey::open(registryKey_);
    if (!key.valid())
        return;
    for (int column = 0; column < kStoredColumns; ++column) {
        DWORD width = 0;
        if (key.readAny(columnWidthSetting(column).c_str(), &width, sizeof width))
            ::SendMessageA(list_, LVM_SETCOLUMNWIDTH, static_cast<WPARAM>(column), MAKELPARAM(LOWORD(width), 0));
    }
    WINDOWPLACEMENT placement {};
    if (key.readBinary(kWindowPlacementSetting, &placement, sizeof placement)) {
        placement.length = sizeof placement;
        // A show command the system does not know is taken as hidden.
        if (placement.showCmd > SW_MAX)
            placement.showCmd = SW_HIDE;
        ::SetWindowPlacement(hwnd(), &placement);
    }
}

void CRedDialog::storeSettings()
{
    if (!hwnd())
        return;
    const RegistryKey key = RegistryKey::create(registryKey_);
    if (!key.valid())
        return;
    for (int column = 0; column < kStoredColumns; ++column) {
        const DWORD width = static_cast<DWORD>(::SendMessageA(list_, LVM_GETCOLUMNWIDTH, column, 0));
        key.writeDword(columnWidthSetting(column).c_str(), width);
    }
    WINDOWPLACEMENT placement {};
    placement.length = sizeof placement;
    if (::GetWindowPlacement(hwnd(), &placement)) {
        if (!::IsWindowVisible(hwnd()))
            placement.showCmd = SW_HIDE;
        key.writeBinary(kWindowPlacementSetting, &placement, sizeof placement);
    }
}

std::string CRedDialog::selectedRowsText() const
{
    std::string text;
    for (int column = 0; column < kColumnCount; ++column) {
        if (column > 0)
            text += '\t';
        text += kRedListColumnTitles[column];
    }
    text += "\r\n";
    if (!list_)
        return text;
    const int rows = static_cast<int>(::SendMessageA(list_, LVM_GETITEMCOUNT, 0, 0));
    int row = -1;
    for (int guard = 0; guard < rows; ++guard) {
        const int next = static_cast<int>(::SendMessageA(list_, LVM_GETNEXTITEM, static_cast<WPARAM>(row),
            MAKELPARAM(LVNI_SELECTED, 0)));
        if (next <= row)
            break;
        row = next;
        for (int column = 0; column < kColumnCount; ++column) {
            if (column > 0)
                text += '\t';
            text += cellText(list_, row, column);
        }
        text += "\r\n";
    }
    return text;
}

void CRedDialog::copySelection()
{
    putTextOnClipboard(hwnd(), selectedRowsText());
}

void CRedDialog::resize(int width, int height)
{
    // Before initialisation has bound the list there is nothing to move.
    if (list_)
        ::MoveWindow(list_, 2, 2, width - 4, height - 4, TRUE);
}

}  // namespace bv
