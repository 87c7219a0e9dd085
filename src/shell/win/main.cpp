// The monitor on the Windows desktop: a tray icon over the run, the live red
// list window, and the Properties and About boxes.

#include "platform/diagnostics.h"
#include "platform/process.h"
#include "run/command_line.h"
#include "run/run_driver.h"
#include "core/monitor_events.h"
#include "shell/win/red_dialog.h"
#include "shell/win/win_desktop.h"

#include <windows.h>
#include <commctrl.h>

using namespace bv;

namespace {

DWORD WINAPI monitorThread(LPVOID)
{
    const std::vector<std::string> arguments = splitCommandLine(::GetCommandLineA());
    return static_cast<DWORD>(exitStatusOf(monitorThreadProcedure(arguments)));
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    // What a framework's initialisation gives the dialogs: the common controls.
    INITCOMMONCONTROLSEX controls {};
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES;
    if (!::InitCommonControlsEx(&controls)) {
        platform::errorLine("Fatal Error: MFC initialization failed");
        return -1;
    }

    CRedDialog redList(instance);
    WinDesktop desktop(instance, redList);
    desktop.create();
    redList.createModeless(nullptr);
    ListenerRegistration installation(desktop);
    ListenerRegistration notices(desktop.notices());
    desktop.addTrayIcon();

    const HANDLE monitor = ::CreateThread(nullptr, 0, monitorThread, nullptr, 0, nullptr);

    MSG message;
    while (::GetMessageA(&message, nullptr, 0, 0) > 0) {
        if (redList.isDialogMessage(message) || desktop.allHosts().isDialogMessage(message))
            continue;
        ::TranslateMessage(&message);
        ::DispatchMessageA(&message);
    }

    desktop.beginClosing();
    redList.destroyWindow();
    desktop.allHosts().destroyWindow();
    DWORD status = 0;
    if (monitor) {
        WinDesktop::waitAnsweringNotices(monitor);
        if (!::GetExitCodeThread(monitor, &status))
            status = 0;
        ::CloseHandle(monitor);
    }
    desktop.removeTrayIcon();
    platform::exitImmediately(static_cast<int>(status));
}
