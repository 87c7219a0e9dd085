#pragma once

#include <atomic>
#include <string>

namespace bv {

class Address;

// The interface through which the monitor reaches the desktop, and the
// desktop stops the monitor.

enum class TrayState { Start, Green, Yellow, Red, ShuttingDown };
enum class MessageIcon { Information, Error };

class Desktop {
public:
    virtual ~Desktop() = default;

    virtual void setTrayState(TrayState state) = 0;
    // Delivered synchronously: they return once the red list has handled them.
    virtual void addressChanged(Address& address) = 0;
    virtual void addressStillRed(Address& address) = 0;
    // Blocks until the user has dismissed the box.
    virtual void showMessageBox(const std::string& text, const std::string& caption, MessageIcon icon) = 0;
    // Ends the desktop's message loop.
    virtual void quit() = 0;
};

// The desktop the process runs with; the headless one until a shell installs
// its own.
Desktop& currentDesktop();

// Installs a desktop for its lifetime and puts the previous one back after.
class DesktopInstallation {
public:
    explicit DesktopInstallation(Desktop& desktop);
    ~DesktopInstallation();
    DesktopInstallation(const DesktopInstallation&) = delete;
    DesktopInstallation& operator=(const DesktopInstallation&) = delete;

private:
    Desktop* previous_;
};

extern std::atomic<bool> exitRequested;

void requestExit();
void setTrayGreen();
void setTrayYellow();
void setTrayRed();
void setTrayShuttingDown();
void notifyAddressChanged(Address* address);
void notifyAddressStillRed(Address* address);
// An empty caption stands for the platform's default caption.
void showMessageBox(const std::string& text, const std::string& caption, MessageIcon icon);

}  // namespace bv
