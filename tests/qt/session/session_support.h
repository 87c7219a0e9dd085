#pragma once

// What the desktop sessions of the real program need: a private network
// namespace whose loopback addresses stand for the hosts, X tools, and the
// program started inside the namespace.

#include "support/program_run.h"
#include "support/test_environment.h"

#include <QColor>
#include <QImage>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace bv {

// The tray icon's green and red.
inline const QColor kTrayGreen(0, 200, 0);
inline const QColor kTrayRed(230, 0, 0);

// Runs the GUI loop of this process until `condition` holds or `limit` passes.
bool processUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit);

// A command's standard output, or nothing when it did not exit with 0.
std::optional<std::string> capture(const std::vector<std::string>& command);
bool succeeds(const std::vector<std::string>& command);
// The full path of a program on PATH, or empty.
std::string programPath(const std::string& name);

// A network namespace of its own with only its loopback up; echo requests
// to the addresses given to `silence` are dropped there, and those to the
// addresses given to `refuse` refused.
class PrivateNamespace {
public:
    PrivateNamespace();
    ~PrivateNamespace();
    PrivateNamespace(const PrivateNamespace&) = delete;
    PrivateNamespace& operator=(const PrivateNamespace&) = delete;

    // Empty when it stands; otherwise why it could not be made.
    const std::string& failure() const { return failure_; }
    const std::string& name() const { return name_; }
    bool silence(const std::string& address);
    // Echo requests to `address` are answered with host unreachable there.
    bool refuse(const std::string& address);

private:
    std::string name_;
    std::string failure_;
};

// Why the sessions cannot run here, or empty.
std::string sessionUnavailableReason();

struct WindowBox {
    std::string id;
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

// The ids of the mapped windows that xdotool finds with these arguments.
std::vector<std::string> visibleWindows(const std::vector<std::string>& search);
std::optional<WindowBox> windowBox(const std::string& id);
// The screen as it is now, or a part of it.
QImage grabScreen(int x, int y, int width, int height);
QColor centreColour(const WindowBox& box);

// The monitor's desktop program in the namespace, with its files in a
// directory of its own and its settings under that directory.
class DesktopProgram {
public:
    struct Options {
        bool dbus = false;  // keep the session bus, so that Qt may use the D-Bus tray
        // Off, the settings start with Show Notices off: on an X tray the
        // notice is a balloon of the program's own that may cover the icon.
        bool notices = false;
        // Variables to set, such as a PATH that holds a stand-in opener.
        std::vector<std::string> environment;
        // The arguments instead of the usual list and files, which are
        // named relative to the program's directory then.
        std::optional<std::vector<std::string>> arguments;
    };
    DesktopProgram(const PrivateNamespace& space, const std::string& hostList, Options options);

    ProgramRun& run() { return *run_; }
    std::string file(const std::string& name) const { return directory_.file(name); }
    const std::string& directory() const { return directory_.path(); }
    std::string settingsFile() const { return directory_.file("config/BeaconVigilor/BeaconVigilor.conf"); }

private:
    TemporaryDirectory directory_;
    std::unique_ptr<ProgramRun> run_;
};

}  // namespace bv
