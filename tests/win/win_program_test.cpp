#include "ping/icmp_message.h"
#include "ping/icmp_socket.h"
#include "platform/ipv4.h"

#include "support/http_exchange.h"
#include "support/test_environment.h"
#include "support/win_process.h"
#include "support/wait_for.h"
#include "bv_version.h"

#include <gtest/gtest.h>

#include <winsock2.h>
#include <windows.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using namespace bv;

using namespace std::chrono_literals;

namespace {

constexpr UINT kTrayNotify = 0x8064;

std::string windowsPath(const std::string& path)
{
    return path.size() > 1 && path[0] == '/' ? "Z:" + path : path;
}

// The program, started in a directory of the test's own; its standard
// output and error go to `outputFile` when one is named.
WinProcess startProgram(const std::string& directory, const std::string& arguments, const std::string& outputFile = "",
    const std::string& errorFile = "")
{
    return WinProcess("\"" + windowsPath(BV_WINDOWS_PROGRAM) + "\" " + arguments, directory.c_str(),
        outputFile.empty() ? nullptr : outputFile.c_str(), errorFile.empty() ? nullptr : errorFile.c_str());
}

bool underWine()
{
    const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
    return ntdll && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// Exit from the tray icon's menu, as a user ends the program.
void chooseExitFromTrayMenu(HWND tray)
{
    ASSERT_TRUE(::PostMessageA(tray, kTrayNotify, 0, WM_RBUTTONDOWN));
    HWND menu = nullptr;
    ASSERT_TRUE(waitFor(
        [&] {
            menu = ::FindWindowA("#32768", nullptr);
            return menu != nullptr && ::IsWindowVisible(menu);
        },
        10s));
    ASSERT_TRUE(::PostMessageA(menu, WM_KEYDOWN, 'X', 0));
}

struct EchoTraffic {
    bool request = false;
    bool reply = false;
};

// Watches loopback for echo requests and replies that carry `identifier`.
EchoTraffic watchEchoes(IcmpSocket& socket, std::uint16_t identifier)
{
    EchoTraffic seen;
    const auto deadline = std::chrono::steady_clock::now() + 15s;
    std::vector<std::uint8_t> buffer(65536);
    for (int round = 0; round < 10000 && std::chrono::steady_clock::now() < deadline && !(seen.request && seen.reply);
         ++round) {
        const auto readable = platform::waitForReadable(socket.endpoint(), 500);
        if (readable.is_error())
            break;
        if (!readable.value())
            continue;
        MessageSource sender;
        const int count = receiveMessage(socket.endpoint(), sender, buffer.data(), static_cast<int>(buffer.size()));
        if (count < 28)
            continue;
        const int h = (buffer[0] & 15) * 4;
        if (count < h + 8 || buffer[h + 4] != (identifier & 0xFF) || buffer[h + 5] != (identifier >> 8))
            continue;
        if (buffer[h] == kIcmpEchoRequest)
            seen.request = true;
        if (buffer[h] == kIcmpEchoReply)
            seen.reply = true;
    }
    return seen;
}

struct Value {
    bool present = false;
    DWORD type = 0;
    std::vector<BYTE> bytes;
};

Value programValue(const char* name)
{
    Value value;
    HKEY key = nullptr;
    if (::RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\BeaconVigilor", 0, KEY_READ, &key) != ERROR_SUCCESS)
        return value;
    DWORD size = 0;
    if (::RegQueryValueExA(key, name, nullptr, &value.type, nullptr, &size) == ERROR_SUCCESS) {
        value.bytes.resize(size);
        value.present = ::RegQueryValueExA(key, name, nullptr, &value.type, value.bytes.data(), &size) == ERROR_SUCCESS;
    }
    ::RegCloseKey(key);
    return value;
}

// A port that was free a moment ago on loopback, for the program to take.
std::uint16_t freeLoopbackPort()
{
    WSADATA winsock {};
    if (::WSAStartup(MAKEWORD(2, 2), &winsock) != 0)
        return 0;
    std::uint16_t port = 0;
    const SOCKET probe = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (probe != INVALID_SOCKET) {
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int size = sizeof address;
        if (::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0
            && ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &size) == 0)
            port = ntohs(address.sin_port);
        ::closesocket(probe);
    }
    ::WSACleanup();
    return port;
}

}  // namespace

TEST(WindowsProgram, RunsOnLoopbackWritesItsFilesAndExitsFromTheTrayMenu)
{
    IcmpSocket watcher(20);
    if (watcher.handle() == platform::kInvalidSocket)
        GTEST_SKIP() << "raw sockets refused here (run as root under Wine)";
    ::RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\BeaconVigilor");

    TemporaryDirectory directory;
    writeFile(directory.file("hosts.txt"), "loopback 127.0.0.1 answers\r\n"
                                           "nowhere no-such-host.invalid never resolves\r\n");
    std::string arguments = "-in hosts.txt -pt 5000";
    const char* port = std::getenv("BV_TEST_COM_PORT");
    const char* capture = std::getenv("BV_TEST_COM_CAPTURE");
    const bool serial = port && *port && capture && *capture;
    if (serial)
        arguments += std::string(" -sp ") + port;

    WinProcess program = startProgram(directory.path(), arguments);
    ASSERT_TRUE(program.started());

    // The priming echo and the host's pings go out with the program's
    // identifier, and the replies come back.
    const EchoTraffic traffic = watchEchoes(watcher, static_cast<std::uint16_t>(program.processId() & 0xFFFF));
    EXPECT_TRUE(traffic.request);
    EXPECT_TRUE(traffic.reply);

    // A host that cannot be sent to fails twice and turns red. Its look-up
    // fails at once where a name server answers, later where none does.
    const std::string log = directory.file("out.txt");
    const std::string down = directory.file("down.txt");
    ASSERT_TRUE(waitFor([&] { return readFile(log).find("\tRED\tnowhere\tno-such-host.invalid\t") != std::string::npos; },
        60s))
        << readFile(log);
    ASSERT_TRUE(waitFor([&] { return readFile(down).find("\tRED\tnowhere\t") != std::string::npos; }, 5s));

    const HWND tray = ::FindWindowA("BeaconVigilor", "BeaconVigilor");
    ASSERT_NE(tray, nullptr);
    // The session's end stores the red list's settings before any Exit.
    DWORD_PTR answer = 0;
    ASSERT_TRUE(::SendMessageTimeoutA(tray, WM_QUERYENDSESSION, 0, 0, SMTO_ABORTIFHUNG, 10000, &answer));
    EXPECT_EQ(answer, static_cast<DWORD_PTR>(TRUE));
    EXPECT_TRUE(programValue("WindowPlacement").present);
    ::RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\BeaconVigilor");
    ASSERT_NO_FATAL_FAILURE(chooseExitFromTrayMenu(tray));
    EXPECT_EQ(program.finish(30000), 0);

    const std::string logged = readFile(log);
    const std::size_t line = logged.find("\tRED\tnowhere\t");
    ASSERT_NE(line, std::string::npos);
    const std::size_t end = logged.find("\r\n", line);
    ASSERT_NE(end, std::string::npos);
    EXPECT_EQ(logged.substr(end, 4), "\r\n\r\n") << "a batch ends with an empty line";
    EXPECT_EQ(logged.find("loopback"), std::string::npos) << "the answering host never turned";

    const std::string listed = readFile(down);
    EXPECT_EQ(listed.find("loopback"), std::string::npos);
    ASSERT_GE(listed.size(), 4u);
    EXPECT_EQ(listed.substr(listed.size() - 4), "\r\n\r\n");

    if (serial) {
        const std::size_t previous = logged.rfind('\n', line);
        const std::size_t from = previous == std::string::npos ? 0 : previous + 1;
        const std::string redLine = logged.substr(from, end + 2 - from);
        EXPECT_TRUE(waitFor([&] { return readFile(windowsPath(capture)).find(redLine) != std::string::npos; }, 10s))
            << redLine;
    }

    // The red list window stored its settings on the way out.
    for (int column = 0; column < 5; ++column) {
        const Value width = programValue(("ColumnWidth" + std::to_string(column)).c_str());
        EXPECT_TRUE(width.present && width.type == REG_DWORD && width.bytes.size() == 4) << column;
    }
    const Value placement = programValue("WindowPlacement");
    ASSERT_TRUE(placement.present);
    EXPECT_EQ(placement.type, static_cast<DWORD>(REG_BINARY));
    ASSERT_EQ(placement.bytes.size(), 44u);
    WINDOWPLACEMENT stored {};
    std::memcpy(&stored, placement.bytes.data(), 44);
    EXPECT_EQ(stored.showCmd, 0u) << "stored hidden";
}

TEST(WindowsProgram, BadCommandLineShowsTheUsageBoxThenEnds)
{
    TemporaryDirectory directory;
    WinProcess program = startProgram(directory.path(), "-x");
    ASSERT_TRUE(program.started());
    HWND box = nullptr;
    ASSERT_TRUE(waitFor(
        [&] {
            box = ::FindWindowA(nullptr, "BeaconVigilor Usage");
            return box != nullptr;
        },
        20s));
    char text[2048] = {};
    const HWND message = ::FindWindowExA(box, nullptr, "Static", nullptr);
    // The box's text is its second static control when the icon is the first.
    for (HWND child = message; child != nullptr; child = ::FindWindowExA(box, child, "Static", nullptr)) {
        ::GetWindowTextA(child, text, sizeof text);
        if (std::strlen(text) > 0)
            break;
    }
    EXPECT_EQ(std::string(text).rfind("Unrecognized parameter: -x\n\nBeaconVigilor v. " BV_VERSION, 0), 0u) << text;
    ::PostMessageA(box, WM_COMMAND, IDOK, 0);
    // A bad command line is a failed run, as the headless program says too.
    EXPECT_EQ(program.finish(20000), 1);
}

// Whether an IPv4 ICMP socket opens here, as the program's would; its
// notes are kept off the test's output.
static bool icmpSocketOpens()
{
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const bool opens = IcmpSocket(20).valid();
    testing::internal::GetCapturedStdout();
    testing::internal::GetCapturedStderr();
    return opens;
}

// Under Wine neither IPv6 kind opens (no raw ICMPv6 socket, no IPv6 helper):
// the IPv6 host turns red saying so, the error note says why, and the IPv4
// host beside it goes on answering.
TEST(WindowsProgram, WithoutAnIcmpv6SocketOnlyTheIpv6HostTurnsRed)
{
    if (!underWine())
        GTEST_SKIP() << "Windows opens an ICMPv6 socket";
    if (!icmpSocketOpens())
        GTEST_SKIP() << "no ICMP socket opens here, nor would the program's";
    TemporaryDirectory directory;
    writeFile(directory.file("hosts.txt"), "lo4 127.0.0.1 answers\r\n"
                                           "lo6 ::1 loopback6\r\n");
    const std::string output = directory.file("output.txt");
    const std::string errors = directory.file("errors.txt");
    WinProcess program
        = startProgram(directory.path(), "-in hosts.txt -pt 5000 -trace", windowsPath(output), windowsPath(errors));
    ASSERT_TRUE(program.started());

    const std::string log = directory.file("out.txt");
    ASSERT_TRUE(waitFor([&] { return readFile(log).find("\tRED\tlo6\t::1\t") != std::string::npos; }, 60s))
        << readFile(log) << readFile(errors);
    EXPECT_TRUE(waitFor([&] { return readFile(output).find(" bytes from 127.0.0.1, ") != std::string::npos; }, 20s))
        << "the IPv4 host answered";
    EXPECT_TRUE(waitFor([&] { return readFile(directory.file("down.txt")).find("\tRED\tlo6\t") != std::string::npos; },
        5s));

    const HWND tray = ::FindWindowA("BeaconVigilor", "BeaconVigilor");
    ASSERT_NE(tray, nullptr);
    ASSERT_NO_FATAL_FAILURE(chooseExitFromTrayMenu(tray));
    EXPECT_EQ(program.finish(30000), 0);

    const std::string logged = readFile(log);
    EXPECT_NE(logged.find("\tRED\tlo6\t::1\tloopback6\t\tCould not open an ICMPv6 socket\r\n"),
        std::string::npos)
        << logged;
    EXPECT_EQ(logged.find("\tlo4\t"), std::string::npos) << "the IPv4 host never turned";
    EXPECT_EQ(readFile(directory.file("down.txt")).find("\tlo4\t"), std::string::npos);
    const std::string notes = readFile(errors);
    EXPECT_NE(notes.find("Failed to create raw ICMPv6 socket: 10043 ("), std::string::npos) << notes;
    EXPECT_NE(notes.find("IPv6 hosts cannot be pinged: Could not open an ICMPv6 socket"), std::string::npos) << notes;
}

TEST(WindowsProgram, ServesMetricsTheStatusPageAndItsApiOnLoopback)
{
    if (!icmpSocketOpens())
        GTEST_SKIP() << "no ICMP socket opens here, nor would the program's";
    const std::uint16_t port = freeLoopbackPort();
    ASSERT_NE(port, 0);
    TemporaryDirectory directory;
    writeFile(directory.file("hosts.txt"), "loopback 127.0.0.1 answers\r\n");
    const std::string errors = directory.file("errors.txt");
    WinProcess program = startProgram(directory.path(),
        "-in hosts.txt -pt 5000 -metrics 127.0.0.1:" + std::to_string(port), "", windowsPath(errors));
    ASSERT_TRUE(program.started());
    const auto get = [port](const std::string& target) {
        return bv::exchange(port,
            "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\nConnection: close\r\n\r\n");
    };

    std::string metrics;
    ASSERT_TRUE(waitFor(
        [&] {
            metrics = get("/metrics");
            return !metrics.empty();
        },
        30s))
        << readFile(errors);
    {
        SCOPED_TRACE("metrics");
        EXPECT_EQ(metrics.rfind("HTTP/1.1 200 ", 0), 0u) << metrics;
        EXPECT_NE(metrics.find("Content-Type: text/plain; version=0.0.4; charset=utf-8\r\n"), std::string::npos)
            << metrics;
        EXPECT_NE(bodyOf(metrics).find("beaconvigilor_host_status{name=\"loopback\",address=\"127.0.0.1\"} "),
            std::string::npos)
            << metrics;
        EXPECT_NE(bodyOf(metrics).find("beaconvigilor_build_info{version=\""), std::string::npos) << metrics;
    }
    {
        SCOPED_TRACE("page");
        const std::string page = get("/");
        EXPECT_EQ(page.rfind("HTTP/1.1 200 ", 0), 0u) << page;
        EXPECT_NE(page.find("Content-Type: text/html"), std::string::npos) << page;
        EXPECT_NE(bodyOf(page).find("<td>loopback</td><td>127.0.0.1</td>"), std::string::npos) << page;
    }
    {
        SCOPED_TRACE("api");
        const std::string hosts = get("/api/v1/hosts");
        EXPECT_EQ(hosts.rfind("HTTP/1.1 200 ", 0), 0u) << hosts;
        EXPECT_NE(hosts.find("Content-Type: application/json"), std::string::npos) << hosts;
        EXPECT_NE(bodyOf(hosts).find("\"name\":\"loopback\""), std::string::npos) << hosts;
        EXPECT_NE(bodyOf(hosts).find("\"host\":\"127.0.0.1\""), std::string::npos) << hosts;
    }
    {
        SCOPED_TRACE("a stranger's Host");
        const std::string refused = bv::exchange(port, "GET / HTTP/1.1\r\nHost: example.com\r\nConnection: close\r\n\r\n");
        EXPECT_EQ(refused.rfind("HTTP/1.1 403 ", 0), 0u) << refused;
    }

    const HWND tray = ::FindWindowA("BeaconVigilor", "BeaconVigilor");
    ASSERT_NE(tray, nullptr);
    ASSERT_NO_FATAL_FAILURE(chooseExitFromTrayMenu(tray));
    EXPECT_EQ(program.finish(30000), 0);
    EXPECT_TRUE(get("/metrics").empty()) << "the server ended with the program";
}
