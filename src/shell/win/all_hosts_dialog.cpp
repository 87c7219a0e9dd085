#include "shell/win/all_hosts_dialog.h"

#include "shell/win/clipboard_text.h"
#include "shell/win/registry_key.h"
#include "shell/win/resource.h"

#include <commctrl.h>
#include <commdlg.h>

#include <algorithm>

namespace bv {

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

void setCell(HWND list, int row, int column, const std::string& text)
{
    LVITEMA item {};
    item.iSubItem = column;
    item.pszText = const_cast<char*>(text.c_str());
    ::SendMessageA(list, LVM_SETITEMTEXTA, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
}

bool selected(HWND list, int row)
{
    return ::SendMessageA(list, LVM_GETITEMSTATE, static_cast<WPARAM>(row), LVIS_SELECTED) & LVIS_SELECTED;
}

COLORREF colourRef(std::uint32_t rgb)
{
    return RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
}

}  // namespace

int listColumnWidthFor(HWND list, const char* text)
{
    const int width = static_cast<int>(::SendMessageA(list, LVM_GETSTRINGWIDTHA, 0, reinterpret_cast<LPARAM>(text)));
    // The cell's margins on both sides, and room for a sort arrow.
    return width + 24;
}

CAllHostsDialog::CAllHostsDialog(HINSTANCE instance, std::string registryKey)
    : Dialog(instance, IDD_ALL_HOSTS)
    , registryKey_(std::move(registryKey))
{
}

CAllHostsDialog::~CAllHostsDialog()
{
    if (hwnd())
        CAllHostsDialog::destroyWindow();
    if (font_)
        ::DeleteObject(font_);
    if (smallIcon_)
        ::DestroyIcon(smallIcon_);
}

bool CAllHostsDialog::destroyWindow()
{
    if (!hwnd())
        return false;
    storeSettings();
    watched_.store(false);
    const bool destroyed = Dialog::destroyWindow();
    list_ = nullptr;
    return destroyed;
}

void CAllHostsDialog::doDataExchange()
{
    list_ = ::GetDlgItem(hwnd(), IDC_ALL_HOSTS_LIST);
}

int CAllHostsDialog::defaultWidth(int column) const
{
    int width = std::max(kAllHostsDefaultWidths[column], listColumnWidthFor(list_, kAllHostsColumnTitles[column]));
    if (column == kHostsDownSinceColumn)
        for (const char* sample : { kWidestDateSample, "Wed Dec  9 01:32:50 2026" })
            width = std::max(width, listColumnWidthFor(list_, sample));
    return width;
}

bool CAllHostsDialog::onInitDialog()
{
    Dialog::onInitDialog();

    if (HMENU system = ::GetSystemMenu(hwnd(), FALSE)) {
        ::AppendMenuA(system, MF_SEPARATOR, 0, nullptr);
        ::AppendMenuA(system, MF_STRING, ID_CHOOSE_FONT, "Choose &Font...");
    }
    smallIcon_ = static_cast<HICON>(::LoadImageA(instance(), MAKEINTRESOURCEA(IDI_TRAY_GREEN), IMAGE_ICON,
        ::GetSystemMetrics(SM_CXSMICON), ::GetSystemMetrics(SM_CYSMICON), 0));
    if (smallIcon_)
        ::SendMessageA(hwnd(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_));
    ::SendMessageA(list_, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);

    LOGFONTA font {};
    if (readStoredFont(font))
        applyFont(font);

    for (int column = 0; column < kAllHostsColumnCount; ++column) {
        LVCOLUMNA header {};
        header.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
        header.fmt = allHostsColumnIsNumeric(column) && column != kHostsStatusColumn && column != kHostsDownSinceColumn
            ? LVCFMT_RIGHT
            : LVCFMT_LEFT;
        header.cx = defaultWidth(column);
        header.pszText = const_cast<char*>(kAllHostsColumnTitles[column]);
        header.iSubItem = column;
        ::SendMessageA(list_, LVM_INSERTCOLUMNA, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&header));
    }
    restoreSettings();
    return true;
}

void CAllHostsDialog::onOk()
{
    ::ShowWindow(hwnd(), SW_HIDE);
}

void CAllHostsDialog::onCancel()
{
    ::ShowWindow(hwnd(), SW_HIDE);
}

void CAllHostsDialog::opened(bool shown)
{
    watched_.store(shown);
    // The rows at once if the run's list is free; else the next sweep pass's.
    if (shown)
        if (auto rows = currentAllHostsRows())
            showRows(std::move(*rows));
}

bool CAllHostsDialog::handleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result)
{
    switch (message) {
    case WM_SIZE:
        if (list_)
            ::MoveWindow(list_, 2, 2, LOWORD(lParam) - 4, HIWORD(lParam) - 4, TRUE);
        return false;
    case WM_SHOWWINDOW:
        opened(wParam != 0);
        return false;
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == ID_CHOOSE_FONT) {
            chooseFont();
            result = 0;
            return true;
        }
        return false;
    case WM_ALL_HOSTS_ROWS: {
        std::optional<std::vector<AllHostsRow>> rows;
        {
            std::lock_guard lock(pendingMutex_);
            rows.swap(pending_);
        }
        if (rows)
            showRows(std::move(*rows));
        result = 0;
        return true;
    }
    case WM_NOTIFY: {
        const auto* header = reinterpret_cast<const NMHDR*>(lParam);
        if (!header || header->hwndFrom != list_)
            return false;
        if (header->code == NM_CUSTOMDRAW)
            return customDraw(lParam, result);
        if (header->code == LVN_COLUMNCLICK) {
            const int column = reinterpret_cast<const NMLISTVIEW*>(lParam)->iSubItem;
            sortBy(column, column == sortColumn_ ? !ascending_ : true);
        } else if (header->code == LVN_KEYDOWN && reinterpret_cast<const NMLVKEYDOWN*>(lParam)->wVKey == 'C'
            && ::GetKeyState(VK_CONTROL) < 0) {
            const std::string text = selectedRowsText();
            if (!text.empty())
                putTextOnClipboard(hwnd(), text);
        }
        return false;
    }
    default:
        return false;
    }
}

bool CAllHostsDialog::customDraw(LPARAM lParam, LRESULT& result) const
{
    auto* draw = reinterpret_cast<NMLVCUSTOMDRAW*>(lParam);
    switch (draw->nmcd.dwDrawStage) {
    case CDDS_PREPAINT:
        result = CDRF_NOTIFYITEMDRAW;
        return true;
    case CDDS_ITEMPREPAINT:
        result = CDRF_NOTIFYSUBITEMDRAW;
        return true;
    case CDDS_ITEMPREPAINT | CDDS_SUBITEM: {
        const std::size_t row = draw->nmcd.dwItemSpec;
        if (draw->iSubItem == kHostsStatusColumn && row < rows_.size()) {
            draw->clrText = colourRef(statusInk(rows_[row].status));
            draw->clrTextBk = colourRef(statusFill(rows_[row].status));
        } else {
            draw->clrText = ::GetSysColor(COLOR_WINDOWTEXT);
            draw->clrTextBk = ::GetSysColor(COLOR_WINDOW);
        }
        result = CDRF_NEWFONT;
        return true;
    }
    default:
        return false;
    }
}

void CAllHostsDialog::deliverRows(std::vector<AllHostsRow> rows)
{
    {
        std::lock_guard lock(pendingMutex_);
        pending_ = std::move(rows);
    }
    // Posted: the sweep does not wait for the window.
    if (const HWND window = hwnd())
        ::PostMessageA(window, WM_ALL_HOSTS_ROWS, 0, 0);
}

void CAllHostsDialog::showRows(std::vector<AllHostsRow> rows)
{
    std::vector<std::string> selectedKeys;
    for (std::size_t row = 0; list_ && row < rows_.size(); ++row)
        if (selected(list_, static_cast<int>(row)))
            selectedKeys.push_back(rows_[row].key);
    rows_ = std::move(rows);
    std::stable_sort(rows_.begin(), rows_.end(), [this](const AllHostsRow& a, const AllHostsRow& b) {
        return ascending_ ? allHostsRowBefore(a, b, sortColumn_) : allHostsRowBefore(b, a, sortColumn_);
    });
    writeList(selectedKeys);
}

void CAllHostsDialog::sortBy(int column, bool ascending)
{
    sortColumn_ = column < kAllHostsColumnCount ? column : -1;
    ascending_ = ascending;
    showRows(std::move(rows_));
    showSortArrow();
}

void CAllHostsDialog::showSortArrow()
{
    const HWND header = reinterpret_cast<HWND>(::SendMessageA(list_, LVM_GETHEADER, 0, 0));
    for (int column = 0; header && column < kAllHostsColumnCount; ++column) {
        HDITEMA item {};
        item.mask = HDI_FORMAT;
        ::SendMessageA(header, HDM_GETITEMA, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&item));
        item.fmt &= ~(HDF_SORTUP | HDF_SORTDOWN);
        if (column == sortColumn_)
            item.fmt |= ascending_ ? HDF_SORTUP : HDF_SORTDOWN;
        ::SendMessageA(header, HDM_SETITEMA, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&item));
    }
}

void CAllHostsDialog::writeList(const std::vector<std::string>& selectedKeys)
{
    if (!list_)
        return;
    ::SendMessageA(list_, WM_SETREDRAW, FALSE, 0);
    int count = static_cast<int>(::SendMessageA(list_, LVM_GETITEMCOUNT, 0, 0));
    const int wanted = static_cast<int>(rows_.size());
    for (; count > wanted; --count)
        ::SendMessageA(list_, LVM_DELETEITEM, static_cast<WPARAM>(count - 1), 0);
    for (; count < wanted; ++count) {
        LVITEMA item {};
        item.mask = LVIF_TEXT;
        item.iItem = count;
        item.pszText = const_cast<char*>("");
        ::SendMessageA(list_, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
    }
    for (int row = 0; row < wanted; ++row) {
        const AllHostsRow& values = rows_[static_cast<std::size_t>(row)];
        for (int column = 0; column < kAllHostsColumnCount; ++column)
            if (cellText(list_, row, column) != values.cells[column])
                setCell(list_, row, column, values.cells[column]);
        const bool chosen = std::find(selectedKeys.begin(), selectedKeys.end(), values.key) != selectedKeys.end();
        if (chosen != selected(list_, row)) {
            LVITEMA state {};
            state.stateMask = LVIS_SELECTED;
            state.state = chosen ? LVIS_SELECTED : 0;
            ::SendMessageA(list_, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&state));
        }
    }
    ::SendMessageA(list_, WM_SETREDRAW, TRUE, 0);
    ::InvalidateRect(list_, nullptr, FALSE);
}

std::string CAllHostsDialog::selectedRowsText() const
{
    std::vector<std::array<std::string, kAllHostsColumnCount>> chosen;
    for (std::size_t row = 0; list_ && row < rows_.size(); ++row)
        if (selected(list_, static_cast<int>(row)))
            chosen.push_back(rows_[row].cells);
    return allHostsCopyText(chosen, "\r\n");
}

bool CAllHostsDialog::readStoredFont(LOGFONTA& font) const
{
    const RegistryKey key = RegistryKey::open(registryKey_);
    LOGFONTA stored {};
    if (!key.readBinary(kAllHostsFontSetting, &stored, sizeof stored))
        return false;
    stored.lfFaceName[LF_FACESIZE - 1] = '\0';
    font = stored;
    return true;
}

void CAllHostsDialog::applyFont(const LOGFONTA& font)
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

void CAllHostsDialog::chooseFont()
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
    RegistryKey::create(registryKey_).writeBinary(kAllHostsFontSetting, &font, sizeof font);
    applyFont(font);
}

void CAllHostsDialog::restoreSettings()
{
    const RegistryKey key = RegistryKey::open(registryKey_);
    if (!key.valid())
        return;
    for (int column = 0; column < kAllHostsColumnCount; ++column) {
        DWORD width = 0;
        if (key.readAny(allHostsColumnWidthSetting(column).c_str(), &width, sizeof width))
            ::SendMessageA(list_, LVM_SETCOLUMNWIDTH, static_cast<WPARAM>(column), MAKELPARAM(LOWORD(width), 0));
    }
    WINDOWPLACEMENT placement {};
    if (key.readBinary(kAllHostsPlacementSetting, &placement, sizeof placement)) {
        placement.length = sizeof placement;
        if (placement.showCmd > SW_MAX)
            placement.showCmd = SW_HIDE;
        ::SetWindowPlacement(hwnd(), &placement);
    }
}

void CAllHostsDialog::storeSettings()
{
    if (!hwnd())
        return;
    const RegistryKey key = RegistryKey::create(registryKey_);
    if (!key.valid())
        return;
    for (int column = 0; column < kAllHostsColumnCount; ++column) {
        const DWORD width = static_cast<DWORD>(::SendMessageA(list_, LVM_GETCOLUMNWIDTH, column, 0));
        key.writeDword(allHostsColumnWidthSetting(column).c_str(), width);
    }
    WINDOWPLACEMENT placement {};
    placement.length = sizeof placement;
    if (::GetWindowPlacement(hwnd(), &placement)) {
        if (!::IsWindowVisible(hwnd()))
            placement.showCmd = SW_HIDE;
        key.writeBinary(kAllHostsPlacementSetting, &placement, sizeof placement);
    }
}

}  // namespace bv
