#include "shell/desktop.h"

#include "shell/headless_desktop.h"

namespace bv {

std::atomic<bool> exitRequested { false };

namespace {

HeadlessDesktop headlessDesktop;
std::atomic<Desktop*> installedDesktop { &headlessDesktop };

}  // namespace

Desktop& currentDesktop()
{
    return *installedDesktop.load();
}

DesktopInstallation::DesktopInstallation(Desktop& desktop)
    : previous_(installedDesktop.exchange(&desktop))
{
}

DesktopInstallation::~DesktopInstallation()
{
    installedDesktop.store(previous_);
}

void requestExit()
{
    exitRequested.store(true);
    setTrayShuttingDown();
    currentDesktop().quit();
}

void setTrayGreen() { currentDesktop().setTrayState(TrayState::Green); }
void setTrayYellow() { currentDesktop().setTrayState(TrayState::Yellow); }
void setTrayRed() { currentDesktop().setTrayState(TrayState::Red); }
void setTrayShuttingDown() { currentDesktop().setTrayState(TrayState::ShuttingDown); }

void notifyAddressChanged(Address* address)
{
    if (address)
        currentDesktop().addressChanged(*address);
}

void notifyAddressStillRed(Address* address)
{
    if (address)
        currentDesktop().addressStillRed(*address);
}

void showMessageBox(const std::string& text, const std::string& caption, MessageIcon icon)
{
    currentDesktop().showMessageBox(text, caption, icon);
}

}  // namespace bv
