// The real desktop program on an X display, its hosts on the loopback of a
// namespace of its own: the docked tray icon, its double click and menu,
// the window it shows without a tray, and how each way out ends.

#include "session_support.h"

#include "support/test_environment.h"

#include <QSettings>
#include <QSystemTrayIcon>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <string>
#include <vector>

using namespace bv;

namespace {

using namespace std::chrono_literals;

// 127.0.0.3 is silenced: two unanswered requests of 10 s each make it red.
const char kHosts[] = "home\t127.0.0.1\tanswers\n"
                      "lost\t127.0.0.3\tsilenced in the namespace\n";

// Rows of text in an image: runs of pixel lines that hold near-black pixels.
int textBands(const QImage& image)
{
    int bands = 0;
    bool inside = false;
    for (int y = 0; y < image.height(); ++y) {
        bool dark = false;
        for (int x = 0; x < image.width() && !dark; ++x) {
            const QColor colour = image.pixelColor(x, y);
            dark = colour.red() < 90 && colour.green() < 90 && colour.blue() < 90;
        }
        if (dark && !inside)
            ++bands;
        inside = dark;
    }
    return bands;
}

// The program's one docked icon, found once it shows `colour`.
std::optional<WindowBox> dockedIcon(const QColor& colour)
{
    std::optional<WindowBox> icon;
    const bool found = processUntil(
        [&] {
            const auto ids = visibleWindows({ "--classname", "beaconvigilor" });
            icon = ids.size() == 1 ? windowBox(ids[0]) : std::nullopt;
            return icon && centreColour(*icon) == colour;
        },
        20s);
    return found ? icon : std::nullopt;
}

class Session : public testing::Test {
protected:
    void SetUp() override
    {
        const std::string reason = sessionUnavailableReason();
        if (!reason.empty())
            GTEST_SKIP() << reason;
        ASSERT_EQ(space.failure(), "");
        ASSERT_TRUE(space.silence("127.0.0.3"));
    }

    // A tray host docked at the bottom right, once it is up.
    static void startTrayHost(std::unique_ptr<ProgramRun>& host)
    {
        const std::string trayer = programPath("trayer");
        if (trayer.empty())
            GTEST_SKIP() << "needs trayer";
        host = std::make_unique<ProgramRun>("/", std::vector<std::string> { trayer, "--edge", "bottom", "--align",
            "right", "--widthtype", "pixel", "--width", "100", "--heighttype", "pixel", "--height", "32" });
        ASSERT_TRUE(processUntil([] { return QSystemTrayIcon::isSystemTrayAvailable(); }, 10s)) << "no tray host";
    }

    // The program's own windows that are mapped now.
    static std::vector<std::string> programWindows()
    {
        return visibleWindows({ "--classname", "beaconvigilor" });
    }

    static std::optional<WindowBox> redListWindow()
    {
        const auto ids = visibleWindows({ "--name", "^BeaconVigilor Red List$" });
        return ids.size() == 1 ? windowBox(ids[0]) : std::nullopt;
    }

    // Waits for one more of the program's windows than `before`: a popup menu.
    static bool popupOpened(std::size_t before)
    {
        return processUntil([&] { return programWindows().size() > before; }, 10s);
    }

    static void expectSettingsStored(const DesktopProgram& program, bool visible)
    {
        ASSERT_TRUE(fileExists(program.settingsFile()));
        QSettings stored(QString::fromStdString(program.settingsFile()), QSettings::IniFormat);
        for (int column = 0; column < 5; ++column)
            EXPECT_TRUE(stored.contains(QString("ColumnWidth%1").arg(column))) << column;
        EXPECT_FALSE(stored.contains("ColumnWidth5"));
        const QByteArray placement = stored.value("WindowPlacement").toByteArray();
        ASSERT_FALSE(placement.isEmpty());
        EXPECT_EQ(placement[0], visible ? '1' : '0');
    }

    PrivateNamespace space;
};

TEST_F(Session, DockedIconTurnsRedDoubleClickShowsTheRowAndMenuExitStoresTheSettings)
{
    std::unique_ptr<ProgramRun> host;
    startTrayHost(host);
    if (IsSkipped() || HasFatalFailure())
        return;

    DesktopProgram program(space, kHosts, {});
    const std::optional<WindowBox> icon = dockedIcon(kTrayGreen);
    ASSERT_TRUE(icon) << program.run().errors();
    EXPECT_EQ(program.run().errors().find("no system tray"), std::string::npos);

    // Two time-outs of 10 s after the first request at 5 s, and a sweep pass.
    ASSERT_TRUE(processUntil([&] { return centreColour(*icon) == kTrayRed; }, 60s))
        << centreColour(*icon).name().toStdString() << "\n"
        << program.run().output().substr(0, 3000) << program.run().errors() << readFile(program.file("down.txt"));

    const std::string at = std::to_string(icon->x + icon->width / 2) + " " + std::to_string(icon->y + icon->height / 2);
    // A single left click opens the menu too, once no second click follows.
    const std::size_t alone = programWindows().size();
    ASSERT_TRUE(succeeds({ "sh", "-c", "xdotool mousemove $0 click 1", at }));
    ASSERT_TRUE(popupOpened(alone));
    ASSERT_TRUE(succeeds({ "xdotool", "key", "Escape" }));
    ASSERT_TRUE(processUntil([&] { return programWindows().size() == alone; }, 10s));

    ASSERT_TRUE(succeeds({ "sh", "-c", "xdotool mousemove $0 click --repeat 2 --delay 120 1", at }));
    std::optional<WindowBox> list;
    ASSERT_TRUE(processUntil([&] { return (list = redListWindow()).has_value(); }, 10s));
    // The header and one row: the red host's.
    ASSERT_TRUE(processUntil(
        [&] { return textBands(grabScreen(list->x + 4, list->y + 4, 100, list->height - 8)) == 2; }, 10s));
    EXPECT_TRUE(fileExists(program.file("down.txt")));
    EXPECT_NE(readFile(program.file("down.txt")).find("lost"), std::string::npos);

    // The right button opens the tray menu; "x" is E&xit.
    const std::size_t before = programWindows().size();
    ASSERT_TRUE(succeeds({ "sh", "-c", "xdotool mousemove $0 click 3", at }));
    ASSERT_TRUE(popupOpened(before));
    ASSERT_TRUE(succeeds({ "xdotool", "key", "x" }));
    EXPECT_EQ(program.run().waitForExit(30s), 0) << program.run().errors();
    expectSettingsStored(program, true);
    // The turn to red reached the log before the end.
    EXPECT_NE(readFile(program.file("out.txt")).find("\tRED\tlost\t"), std::string::npos);
}

std::size_t windowsNamed(const std::string& title)
{
    return visibleWindows({ "--name", "^" + title + "$" }).size();
}

TEST_F(Session, MenuOpensFilesByAbsoluteAddressAndItsBoxesBlockNothing)
{
    std::unique_ptr<ProgramRun> host;
    startTrayHost(host);
    if (IsSkipped() || HasFatalFailure())
        return;

    // The desktop's opener is a stand-in that notes what it is handed.
    TemporaryDirectory tools;
    const std::string opened = tools.file("opened.txt");
    writeFile(tools.file("xdg-open"), "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" + opened + "'\n");
    ASSERT_TRUE(succeeds({ "chmod", "+x", tools.file("xdg-open") }));
    const char* path = std::getenv("PATH");
    DesktopProgram::Options options;
    options.environment = { "PATH=" + tools.path() + ":" + (path ? path : "/usr/bin:/bin") };
    // The default file names, relative ones.
    options.arguments = std::vector<std::string> { "-in", "hosts.txt", "-pt", "5000" };
    DesktopProgram program(space, kHosts, options);
    const std::optional<WindowBox> icon = dockedIcon(kTrayGreen);
    ASSERT_TRUE(icon.has_value()) << program.run().errors();
    const std::string at = std::to_string(icon->x + icon->width / 2) + " " + std::to_string(icon->y + icon->height / 2);
    // Opens the menu, presses `key` in it, and waits until the menu is gone.
    // A press that comes while the last menu is still winding down is lost,
    // so the click is made again.
    const auto choose = [&](const char* key) {
        const std::vector<std::string> before = programWindows();
        std::string menu;
        for (int attempt = 0; attempt < 5 && menu.empty(); ++attempt) {
            if (!succeeds({ "sh", "-c", "xdotool mousemove $0 click 3", at }))
                return false;
            processUntil([&] {
                for (const std::string& id : programWindows())
                    if (std::find(before.begin(), before.end(), id) == before.end())
                        menu = id;
                return !menu.empty();
            }, 2s);
        }
        return !menu.empty() && succeeds({ "xdotool", "key", key }) && processUntil([&] {
            const auto now = programWindows();
            return std::find(now.begin(), now.end(), menu) == now.end();
        }, 10s);
    };

    std::string expected;
    for (const auto& [key, name] : { std::pair { "l", "out.txt" }, { "d", "down.txt" }, { "i", "hosts.txt" } }) {
        ASSERT_TRUE(choose(key)) << key;
        expected += "file://" + program.file(name) + "\n";
        EXPECT_TRUE(processUntil([&] { return fileExists(opened) && readFile(opened) == expected; }, 10s))
            << (fileExists(opened) ? readFile(opened) : "nothing opened");
    }

    // The boxes leave the icon and its menu usable, and About opens twice.
    ASSERT_TRUE(choose("p"));
    ASSERT_TRUE(processUntil([] { return windowsNamed("BeaconVigilor Properties") == 1; }, 10s));
    ASSERT_TRUE(choose("a"));
    ASSERT_TRUE(processUntil([] { return windowsNamed("About BeaconVigilor") == 1; }, 10s));
    ASSERT_TRUE(choose("a"));
    EXPECT_TRUE(processUntil([] { return windowsNamed("About BeaconVigilor") == 2; }, 10s));

    ASSERT_TRUE(choose("x"));
    EXPECT_EQ(program.run().waitForExit(30s), 0) << program.run().errors();
}

TEST_F(Session, EmptyHostListTurnsTheDockedIconRed)
{
    std::unique_ptr<ProgramRun> host;
    startTrayHost(host);
    if (IsSkipped() || HasFatalFailure())
        return;
    // No host counted at all is the worst case, not the best.
    DesktopProgram program(space, "# no hosts\n", {});
    const std::optional<WindowBox> icon = dockedIcon(kTrayRed);
    ASSERT_TRUE(icon) << program.run().errors();
    program.run().signal(SIGTERM);
    EXPECT_EQ(program.run().waitForExit(30s), 0) << program.run().errors();
    expectSettingsStored(program, false);
}

TEST_F(Session, WithoutTrayTheRedListIsTheMainWindowAndItsMenuExits)
{
    DesktopProgram program(space, kHosts, {});
    std::optional<WindowBox> window;
    ASSERT_TRUE(processUntil([&] { return (window = redListWindow()).has_value(); }, 20s)) << program.run().errors();
    const std::string errors = program.run().errors();
    const auto said = errors.find("no system tray");
    ASSERT_NE(said, std::string::npos) << errors;
    EXPECT_EQ(errors.find("no system tray", said + 1), std::string::npos);

    // The menu bar's first menu holds the tray menu's commands.
    const std::size_t before = programWindows().size();
    const std::string at = std::to_string(window->x + 30) + " " + std::to_string(window->y + 10);
    ASSERT_TRUE(succeeds({ "sh", "-c", "xdotool mousemove $0 click 1", at }));
    ASSERT_TRUE(popupOpened(before));
    ASSERT_TRUE(succeeds({ "xdotool", "key", "x" }));
    EXPECT_EQ(program.run().waitForExit(30s), 0) << program.run().errors();
    expectSettingsStored(program, true);
}

TEST_F(Session, FromTheMenuTheRememberedHostListIsWatchedWithoutAsking)
{
    DesktopProgram::Options options;
    options.arguments = std::vector<std::string> { "--from-menu", "-trace" };
    TemporaryDirectory lists;
    const std::string list = lists.file("office hosts.txt");
    writeFile(list, kHosts);
    TemporaryDirectory config;
    ASSERT_TRUE(succeeds({ "mkdir", "-p", config.file("BeaconVigilor") }));
    writeFile(config.file("BeaconVigilor/BeaconVigilor.conf"), "[General]\nHostList=" + list + "\n");
    options.environment = { "XDG_CONFIG_HOME=" + config.path() };
    DesktopProgram program(space, "", options);
    ASSERT_TRUE(program.run().waitForOutputLines("infile=" + list, 1, 20s)) << program.run().errors();
    EXPECT_TRUE(processUntil([&] { return redListWindow().has_value(); }, 20s)) << program.run().errors();
    EXPECT_EQ(windowsNamed("Choose a Host List"), 0u);
    program.run().signal(SIGTERM);
    EXPECT_EQ(program.run().waitForExit(30s), 0) << program.run().errors();
}

TEST_F(Session, TermAndIntWindDownLikeExit)
{
    for (int signal : { SIGTERM, SIGINT }) {
        DesktopProgram program(space, kHosts, {});
        ASSERT_TRUE(processUntil([&] { return redListWindow().has_value(); }, 20s)) << program.run().errors();
        program.run().signal(signal);
        EXPECT_EQ(program.run().waitForExit(30s), 0) << signal << program.run().errors();
        expectSettingsStored(program, true);
    }
}

// Signals `signal` until the error stream gains `text` after one of them.
bool answersWith(ProgramRun& run, int signal, const std::string& text, std::chrono::seconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (int tries = 0; tries < 30 && std::chrono::steady_clock::now() < deadline; ++tries) {
        const std::size_t before = run.errors().size();
        run.signal(signal);
        if (processUntil([&] { return run.errors().find(text, before) != std::string::npos; }, 2s))
            return true;
    }
    return false;
}

// As the headless program: SIGHUP reads the host list anew and SIGUSR2
// writes the ping engine's counts, and neither ends the program.
TEST_F(Session, HangUpReloadsTheHostListAndUser2WritesTheEngineCounts)
{
    DesktopProgram program(space, kHosts, {});
    ASSERT_TRUE(processUntil([&] { return redListWindow().has_value(); }, 20s)) << program.run().errors();
    ASSERT_TRUE(answersWith(program.run(), SIGUSR1, "Total number of addresses: 2", 30s)) << program.run().errors();

    const std::size_t before = program.run().errors().size();
    program.run().signal(SIGUSR2);
    ASSERT_TRUE(processUntil(
        [&] { return program.run().errors().find("Requests sent: ", before) != std::string::npos; }, 10s))
        << program.run().errors();
    unsigned long sent = 0, matched = 0, awaiting = 0, lost = 0;
    EXPECT_EQ(std::sscanf(program.run().errors().c_str() + program.run().errors().find("Requests sent: ", before),
                  "Requests sent: %lu, replies matched: %lu, awaiting a reply: %lu, hosts with a lost request: %lu",
                  &sent, &matched, &awaiting, &lost),
        4)
        << program.run().errors();

    writeFile(program.file("hosts.txt"), std::string(kHosts) + "added\t127.0.0.2\tcame with the reload\n");
    program.run().signal(SIGHUP);
    EXPECT_TRUE(answersWith(program.run(), SIGUSR1, "Total number of addresses: 3", 30s)) << program.run().errors();
    EXPECT_EQ(program.run().errors().find("Could not reload"), std::string::npos) << program.run().errors();

    program.run().signal(SIGTERM);
    EXPECT_EQ(program.run().waitForExit(30s), 0) << program.run().errors();
}

}  // namespace

TEST(WithoutDisplay, SaysSoAndEndsWithMinusOne)
{
    TemporaryDirectory directory;
    ProgramRun run(directory.path(), { "/usr/bin/env", "-u", "DISPLAY", "-u", "WAYLAND_DISPLAY", "-u", "QT_QPA_PLATFORM",
                                         BV_QT_PROGRAM, "-in", "hosts.txt" });
    EXPECT_EQ(run.waitForExit(30s), 255);
    EXPECT_EQ(run.errors(), "Fatal Error: Qt initialization failed: no display (DISPLAY and WAYLAND_DISPLAY are unset); "
                            "beaconvigilor-headless runs without one\n");
    EXPECT_EQ(run.output(), "");
}
