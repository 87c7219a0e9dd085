#include "output/cereal.h"
#include "platform/last_system_error.h"
#include "platform/serial_port.h"

#include "support/test_environment.h"
#include "support/wait_for.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>

using namespace bv;

using namespace std::chrono_literals;
using testing::HasSubstr;
using testing::Not;

namespace {

// scripts/windows-tests.sh maps a COM port to one end of a socat pty pair
// and captures what arrives at the other end in a file.
struct PortUnderTest {
    std::string port;
    std::string capture;
};

bool portUnderTest(PortUnderTest& out)
{
    const char* port = std::getenv("BV_TEST_COM_PORT");
    const char* capture = std::getenv("BV_TEST_COM_CAPTURE");
    if (port == nullptr || capture == nullptr || *port == '\0' || *capture == '\0')
        return false;
    out.port = port;
    // The capture is named as the Linux side knows it; Wine shows / as Z:.
    out.capture = capture[0] == '/' ? std::string("Z:") + capture : capture;
    return true;
}

bool captured(const PortUnderTest& under, const std::string& bytes)
{
    return waitFor([&] { return readFile(under.capture).find(bytes) != std::string::npos; }, 10s);
}

}  // namespace

TEST(WinSerialPort, BytesArriveExactlyAndTheCountIsTheirs)
{
    PortUnderTest under;
    if (!portUnderTest(under))
        GTEST_SKIP() << "no COM port mapped to a pty";
    platform::SerialPort port;
    ASSERT_FALSE(port.open(under.port).is_error());
    const std::string batch = "Mon Feb 21 10:15:07 2005\tRED\trouter-2\t10.0.0.2\tcore switch\t\tTimed out\r\n";
    const auto written = port.write(batch.data(), batch.size());
    ASSERT_FALSE(written.is_error()) << written.error().message();
    EXPECT_EQ(written.value(), batch.size());
    port.close();
    EXPECT_TRUE(captured(under, batch));
}

TEST(WinSerialPort, DefaultSettingsReplaceWhatThePortHad)
{
    PortUnderTest under;
    if (!portUnderTest(under))
        GTEST_SKIP() << "no COM port mapped to a pty";
    Cereal cereal;
    ASSERT_TRUE(cereal.open(under.port));
    ASSERT_TRUE(cereal.configure("baud=19200 parity=N data=8 stop=2"));
    // The settings follow the system's text directly, with nothing put between.
    platform::setInvalidArgumentError();
    const int code = platform::lastSystemError();
    const std::string systemText = platform::systemErrorText(code);
    platform::setLastSystemError(code);
    EXPECT_EQ(cereal.errorDescription(), systemText + "Your current settings: Baud rate=19200 parity=0 stop=2");

    EXPECT_TRUE(cereal.configure("baud=9600 parity=N data=8 stop=1 octs=on"));
    platform::setLastSystemError(code);
    EXPECT_EQ(cereal.errorDescription(), systemText + "Your current settings: Baud rate=9600 parity=0 stop=0");

    EXPECT_FALSE(cereal.configure("baud=fast"));
    platform::setLastSystemError(code);
    EXPECT_EQ(cereal.errorDescription(), systemText + "Your current settings: Baud rate=9600 parity=0 stop=0")
        << "left as it was";

    const std::string text = "one\r\ntwo\r\n";
    EXPECT_EQ(cereal.write(text.data(), static_cast<int>(text.size())), static_cast<int>(text.size()));
    cereal.close();
    EXPECT_TRUE(captured(under, text));
}

// Wine does not refuse a second open of a port held without sharing, as
// Windows does, so only the reopen after a close is checked here.
TEST(WinSerialPort, ClosedPortOpensAgainAndAbsentPortTellsWhy)
{
    PortUnderTest under;
    if (!portUnderTest(under))
        GTEST_SKIP() << "no COM port mapped to a pty";
    Cereal port;
    for (int round = 0; round < 3; ++round) {
        ASSERT_TRUE(port.open(under.port));
        port.close();
    }
    EXPECT_EQ(port.write("x", 1), -1) << "closed";

    Cereal absent;
    EXPECT_FALSE(absent.open("COM9"));
    const std::string why = absent.errorDescription();
    EXPECT_FALSE(why.empty());
    EXPECT_THAT(why, Not(HasSubstr("Your current settings")));
    EXPECT_EQ(absent.write("x", 1), -1);
}
