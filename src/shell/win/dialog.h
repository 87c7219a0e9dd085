#pragma once

#include <windows.h>

namespace bv {

// What the shell uses of a GUI framework's dialog class: modeless and modal
// creation from a template, binding of controls at initialisation, the
// initialise, cancel and destroy hooks, and the keyboard handling that a
// message loop offers every message to.
class Dialog {
public:
    Dialog(HINSTANCE instance, int templateId);
    virtual ~Dialog();
    Dialog(const Dialog&) = delete;
    Dialog& operator=(const Dialog&) = delete;

    bool createModeless(HWND parent);
    // The dialog's result (the value passed to EndDialog), or -1.
    INT_PTR doModal(HWND parent);
    // Destroys the window; a subclass may do its own work first.
    virtual bool destroyWindow();

    // True when the dialog took the message for its keyboard handling.
    bool isDialogMessage(MSG& message);

    HWND hwnd() const { return hwnd_; }
    HINSTANCE instance() const { return instance_; }

protected:
    // The framework's own part binds the controls (doDataExchange); true
    // lets the system set the focus.
    virtual bool onInitDialog();
    virtual void doDataExchange() {}
    virtual void onOk();
    virtual void onCancel();
    // The message map: true when the message was handled, with its result.
    virtual bool handleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);

private:
    static INT_PTR CALLBACK dialogProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    HINSTANCE instance_;
    int templateId_;
    HWND hwnd_ = nullptr;
    bool modal_ = false;
};

}  // namespace bv
