#include "shell/win/about_box.h"

#include "shell/win/help_page.h"
#include "shell/win/resource.h"

#include "bv_version.h"

#include <shellapi.h>

#include <cstdio>

namespace bv {

namespace {

// Kept on the windows themselves rather than in process-wide slots, so that
// two boxes open at once each find their own.
constexpr const char* kPreviousProcedure = "BeaconVigilor.PreviousProcedure";
constexpr const char* kLinkFont = "BeaconVigilor.LinkFont";
constexpr const char* kOpener = "BeaconVigilor.Opener";
constexpr int kTextBuffer = 260;

LRESULT CALLBACK linkProcedure(HWND link, UINT message, WPARAM wParam, LPARAM lParam)
{
    const auto previous = reinterpret_cast<WNDPROC>(::GetPropA(link, kPreviousProcedure));
    if (message == WM_SETCURSOR) {
        ::SetCursor(::LoadCursorA(nullptr, MAKEINTRESOURCEA(32649)));  // IDC_HAND
        return TRUE;
    }
    if (message == WM_LBUTTONDOWN) {
        char text[kTextBuffer] = {};
        if (::GetWindowTextA(link, text, kTextBuffer) > 0) {
            const HWND box = ::GetParent(link);
            const auto* opener = static_cast<const ShellOpener*>(::GetPropA(box, kOpener));
            if (opener && *opener)
                (*opener)(box, text);
            else
                openWithShell(box, text);
        }
    }
    if (message == WM_NCDESTROY) {
        ::SetWindowLongPtrA(link, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous));
        ::RemovePropA(link, kPreviousProcedure);
    }
    if (!previous)
        return ::DefWindowProcA(link, message, wParam, lParam);
    return ::CallWindowProcA(previous, link, message, wParam, lParam);
}

INT_PTR CALLBACK aboutProcedure(HWND box, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG: {
        if (lParam != 0)
            ::SetPropA(box, kOpener, reinterpret_cast<HANDLE>(lParam));
        ::SendDlgItemMessageA(box, IDC_ABOUT_ICON, STM_SETICON,
            reinterpret_cast<WPARAM>(::LoadIconA(nullptr, MAKEINTRESOURCEA(32516))), 0);  // IDI_INFORMATION
        ::SetWindowTextA(::GetDlgItem(box, IDC_ABOUT_VERSION), aboutVersionLine().c_str());
        // The link opens its own text, so the text is the local help page.
        ::SetWindowTextA(::GetDlgItem(box, IDC_ABOUT_LINK), helpPagePath().c_str());
        const HFONT font = ::CreateFontA(16, 0, 0, 0, FW_DONTCARE, FALSE, TRUE, FALSE, 0, OUT_DEFAULT_PRECIS,
            CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, "Arial");
        if (font) {
            ::SetPropA(box, kLinkFont, font);
            ::SendDlgItemMessageA(box, IDC_ABOUT_LINK, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
        }
        if (const HWND link = ::GetDlgItem(box, IDC_ABOUT_LINK)) {
            const LONG_PTR previous
                = ::SetWindowLongPtrA(link, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(linkProcedure));
            ::SetPropA(link, kPreviousProcedure, reinterpret_cast<HANDLE>(previous));
        }
        return TRUE;
    }
    case WM_CTLCOLORSTATIC:
        if (reinterpret_cast<HWND>(lParam) == ::GetDlgItem(box, IDC_ABOUT_LINK)) {
            const LRESULT brush = ::DefWindowProcA(box, message, wParam, lParam);
            ::SetTextColor(reinterpret_cast<HDC>(wParam), RGB(0, 0, 255));
            return static_cast<INT_PTR>(brush);
        }
        return FALSE;
    case WM_COMMAND:
        if (wParam == IDOK || wParam == IDCANCEL) {
            ::EndDialog(box, IDCANCEL);
            return TRUE;
        }
        return FALSE;
    case WM_DESTROY:
        if (const HANDLE font = ::RemovePropA(box, kLinkFont))
            ::DeleteObject(static_cast<HFONT>(font));
        ::RemovePropA(box, kOpener);
        return FALSE;
    default:
        return FALSE;
    }
}

}  // namespace

void openWithShell(HWND owner, const std::string& target)
{
    ::ShellExecuteA(owner, "open", target.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

std::string aboutVersionLine()
{
    char line[kTextBuffer];
    std::snprintf(line, sizeof line, "Version %s (%s)", kVersion, __DATE__);
    return line;
}

void showAboutBox(HINSTANCE instance, const ShellOpener* opener)
{
    ::DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_ABOUT), nullptr, aboutProcedure,
        reinterpret_cast<LPARAM>(opener));
}

HWND createAboutBox(HINSTANCE instance, const ShellOpener* opener)
{
    return ::CreateDialogParamA(instance, MAKEINTRESOURCEA(IDD_ABOUT), nullptr, aboutProcedure,
        reinterpret_cast<LPARAM>(opener));
}

}  // namespace bv
