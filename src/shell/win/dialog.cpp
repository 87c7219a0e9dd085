#include "shell/win/dialog.h"

namespace bv {

Dialog::Dialog(HINSTANCE instance, int templateId) : instance_(instance), templateId_(templateId) {}

Dialog::~Dialog()
{
    if (hwnd_) {
        // The procedure must not reach an object that is going.
        ::SetWindowLongPtrA(hwnd_, DWLP_USER, 0);
        if (!modal_)
            ::DestroyWindow(hwnd_);
    }
}

bool Dialog::createModeless(HWND parent)
{
    if (hwnd_)
        return false;
    modal_ = false;
    return ::CreateDialogParamA(instance_, MAKEINTRESOURCEA(templateId_), parent, dialogProcedure,
               reinterpret_cast<LPARAM>(this))
        != nullptr;
}

INT_PTR Dialog::doModal(HWND parent)
{
    if (hwnd_)
        return -1;
    modal_ = true;
    return ::DialogBoxParamA(instance_, MAKEINTRESOURCEA(templateId_), parent, dialogProcedure,
        reinterpret_cast<LPARAM>(this));
}

bool Dialog::destroyWindow()
{
    return hwnd_ != nullptr && ::DestroyWindow(hwnd_) != 0;
}

bool Dialog::isDialogMessage(MSG& message)
{
    return hwnd_ != nullptr && ::IsDialogMessageA(hwnd_, &message) != 0;
}

bool Dialog::onInitDialog()
{
    doDataExchange();
    return true;
}

void Dialog::onOk()
{
    if (modal_)
        ::EndDialog(hwnd_, IDOK);
    else
        ::DestroyWindow(hwnd_);
}

void Dialog::onCancel()
{
    if (modal_)
        ::EndDialog(hwnd_, IDCANCEL);
    else
        ::DestroyWindow(hwnd_);
}

bool Dialog::handleMessage(UINT, WPARAM, LPARAM, LRESULT&)
{
    return false;
}

INT_PTR CALLBACK Dialog::dialogProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        auto* dialog = reinterpret_cast<Dialog*>(lParam);
        ::SetWindowLongPtrA(window, DWLP_USER, lParam);
        dialog->hwnd_ = window;
        return dialog->onInitDialog() ? TRUE : FALSE;
    }
    auto* dialog = reinterpret_cast<Dialog*>(::GetWindowLongPtrA(window, DWLP_USER));
    if (dialog == nullptr)
        return FALSE;
    if (message == WM_NCDESTROY) {
        dialog->hwnd_ = nullptr;
        return FALSE;
    }
    LRESULT result = 0;
    if (dialog->handleMessage(message, wParam, lParam, result)) {
        ::SetWindowLongPtrA(window, DWLP_MSGRESULT, result);
        return TRUE;
    }
    if (message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED) {
        if (LOWORD(wParam) == IDOK) {
            dialog->onOk();
            return TRUE;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            dialog->onCancel();
            return TRUE;
        }
    }
    return FALSE;
}

}  // namespace bv
