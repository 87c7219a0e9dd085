#include "session_support.h"
#include "support/process_tag.h"
#include "support/shell_quoted.h"

#include <QApplication>
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace bv {

namespace {

std::string commandLine(const std::vector<std::string>& command)
{
    std::string line;
    for (const std::string& word : command)
        line += (line.empty() ? "" : " ") + shellQuoted(word);
    return line;
}

// Namespaces of tests that run at the same time, even of several builds,
// stay apart by the process id.
std::string uniqueName()
{
    static int made = 0;
    return "bvqt" + processTag() + "n" + std::to_string(made++);
}

}  // namespace

bool processUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        // Conditions that ask X tools would otherwise spin.
        usleep(50 * 1000);
    }
    return true;
}

std::optional<std::string> capture(const std::vector<std::string>& command)
{
    const std::string line = commandLine(command) + " 2>/dev/null";
    FILE* pipe = popen(line.c_str(), "r");
    if (!pipe)
        return std::nullopt;
    std::string output;
    std::array<char, 4096> chunk {};
    for (std::size_t got; (got = fread(chunk.data(), 1, chunk.size(), pipe)) > 0;)
        output.append(chunk.data(), got);
    const int status = pclose(pipe);
    if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return std::nullopt;
    return output;
}

bool succeeds(const std::vector<std::string>& command)
{
    return capture(command).has_value();
}

std::string programPath(const std::string& name)
{
    const auto found = capture({ "sh", "-c", "command -v \"$0\"", name });
    if (!found)
        return {};
    std::string path = *found;
    while (!path.empty() && (path.back() == '\n' || path.back() == ' '))
        path.pop_back();
    return path;
}

std::string sessionUnavailableReason()
{
    if (geteuid() != 0)
        return "needs root: network namespaces";
    for (const char* tool : { "ip", "nft", "xdotool" })
        if (programPath(tool).empty())
            return std::string("needs ") + tool;
    if (!std::getenv("DISPLAY"))
        return "needs an X display (run under xvfb-run -a)";
    return {};
}

PrivateNamespace::PrivateNamespace()
    : name_(uniqueName())
{
    const std::string rules = "table ip bvqt {\n"
                              "  set dropped { type ipv4_addr; }\n"
                              "  set refused { type ipv4_addr; }\n"
                              "  chain out {\n"
                              "    type filter hook output priority 0;\n"
                              "    icmp type echo-request ip daddr @dropped drop\n"
                              "    icmp type echo-request ip daddr @refused reject with icmp type host-unreachable\n"
                              "  }\n"
                              "}\n";
    const bool made = succeeds({ "ip", "netns", "add", name_ })
        && succeeds({ "ip", "-n", name_, "link", "set", "lo", "up" })
        && succeeds({ "sh", "-c", "printf '%s' \"$1\" | ip netns exec \"$0\" nft -f -", name_, rules });
    if (!made)
        failure_ = "the namespace " + name_ + " could not be made";
}

PrivateNamespace::~PrivateNamespace()
{
    succeeds({ "ip", "netns", "del", name_ });
}

bool PrivateNamespace::silence(const std::string& address)
{
    return succeeds({ "ip", "netns", "exec", name_, "nft", "add", "element", "ip", "bvqt", "dropped",
        "{ " + address + " }" });
}

bool PrivateNamespace::refuse(const std::string& address)
{
    return succeeds({ "ip", "netns", "exec", name_, "nft", "add", "element", "ip", "bvqt", "refused",
        "{ " + address + " }" });
}

std::vector<std::string> visibleWindows(const std::vector<std::string>& search)
{
    std::vector<std::string> command { "xdotool", "search", "--onlyvisible" };
    command.insert(command.end(), search.begin(), search.end());
    std::vector<std::string> ids;
    // xdotool ends with 1 when it finds nothing.
    if (const auto found = capture(command)) {
        std::istringstream lines(*found);
        for (std::string id; std::getline(lines, id);)
            if (!id.empty())
                ids.push_back(id);
    }
    return ids;
}

std::optional<WindowBox> windowBox(const std::string& id)
{
    const auto shell = capture({ "xdotool", "getwindowgeometry", "--shell", id });
    if (!shell)
        return std::nullopt;
    WindowBox box;
    box.id = id;
    std::istringstream lines(*shell);
    for (std::string line; std::getline(lines, line);) {
        const auto equals = line.find('=');
        if (equals == std::string::npos)
            continue;
        const std::string key = line.substr(0, equals);
        const int value = std::atoi(line.c_str() + equals + 1);
        if (key == "X")
            box.x = value;
        else if (key == "Y")
            box.y = value;
        else if (key == "WIDTH")
            box.width = value;
        else if (key == "HEIGHT")
            box.height = value;
    }
    if (box.width <= 0 || box.height <= 0)
        return std::nullopt;
    return box;
}

QImage grabScreen(int x, int y, int width, int height)
{
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return {};
    return screen->grabWindow(0, x, y, width, height).toImage();
}

QColor centreColour(const WindowBox& box)
{
    const QImage image = grabScreen(box.x + box.width / 2, box.y + box.height / 2, 1, 1);
    return image.isNull() ? QColor() : image.pixelColor(0, 0);
}

DesktopProgram::DesktopProgram(const PrivateNamespace& space, const std::string& hostList, Options options)
{
    writeFile(directory_.file("hosts.txt"), hostList);
    if (!options.notices) {
        succeeds({ "mkdir", "-p", directory_.file("config/BeaconVigilor") });
        writeFile(settingsFile(), "[General]\nShowNotices=false\n");
    }
    std::vector<std::string> command { programPath("ip"), "netns", "exec", space.name(), "env" };
    if (!options.dbus)
        command.push_back("--unset=DBUS_SESSION_BUS_ADDRESS");
    // A browser named by the user would stand in for the desktop's opener.
    command.insert(command.end(), { "--unset=BROWSER", "--unset=DEFAULT_BROWSER",
                                      "XDG_CONFIG_HOME=" + directory_.file("config"), "QT_QPA_PLATFORM=xcb" });
    command.insert(command.end(), options.environment.begin(), options.environment.end());
    command.push_back(BV_QT_PROGRAM);
    if (options.arguments)
        command.insert(command.end(), options.arguments->begin(), options.arguments->end());
    else
        command.insert(command.end(), { "-in", directory_.file("hosts.txt"), "-out", directory_.file("out.txt"),
                                          "-red", directory_.file("down.txt"), "-pt", "5000" });
    run_ = std::make_unique<ProgramRun>(directory_.path(), command);
}

}  // namespace bv
