#include "platform/serial_settings.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

using namespace bv;

using platform::SerialLineState;
using platform::applySerialSettingsText;

namespace {

// A line far from every default, so that a value that is not kept shows.
SerialLineState oddLine()
{
    SerialLineState s;
    s.baudRate = 2400;
    s.parity = platform::kParitySpace;
    s.dataBits = 6;
    s.stopBits = platform::kStopTwo;
    s.ctsOutputFlow = true;
    s.dsrOutputFlow = true;
    s.dtrControl = platform::kDtrHandshake;
    s.rtsControl = platform::kRtsToggle;
    s.dsrSensitivity = true;
    s.xonXoff = true;
    s.timeouts = true;
    return s;
}

TEST(SerialSettingsText, KeyFormSetsEveryNamedValue)
{
    SerialLineState s = oddLine();
    ASSERT_TRUE(applySerialSettingsText("baud=9600 parity=N data=8 stop=1 octs=on", s));
    EXPECT_EQ(s.baudRate, 9600u);
    EXPECT_EQ(s.parity, platform::kParityNone);
    EXPECT_EQ(s.dataBits, 8);
    EXPECT_EQ(s.stopBits, platform::kStopOne);
    EXPECT_TRUE(s.ctsOutputFlow);
    // Not named: kept.
    EXPECT_TRUE(s.dsrOutputFlow);
    EXPECT_EQ(s.dtrControl, platform::kDtrHandshake);
    EXPECT_EQ(s.rtsControl, platform::kRtsToggle);
    EXPECT_TRUE(s.dsrSensitivity);
    EXPECT_TRUE(s.xonXoff);
    EXPECT_TRUE(s.timeouts);

    ASSERT_TRUE(applySerialSettingsText(
        "to=off xon=off odsr=off octs=off dtr=on rts=hs idsr=off parity=o data=7 stop=2", s));
    EXPECT_FALSE(s.timeouts);
    EXPECT_FALSE(s.xonXoff);
    EXPECT_FALSE(s.dsrOutputFlow);
    EXPECT_FALSE(s.ctsOutputFlow);
    EXPECT_EQ(s.dtrControl, platform::kDtrOn);
    EXPECT_EQ(s.rtsControl, platform::kRtsHandshake);
    EXPECT_FALSE(s.dsrSensitivity);
    EXPECT_EQ(s.parity, platform::kParityOdd);
    EXPECT_EQ(s.dataBits, 7);
    EXPECT_EQ(s.stopBits, platform::kStopTwo);
    EXPECT_EQ(s.baudRate, 9600u);

    ASSERT_TRUE(applySerialSettingsText("parity=e dtr=off rts=off", s));
    EXPECT_EQ(s.parity, platform::kParityEven);
    EXPECT_EQ(s.dtrControl, platform::kDtrOff);
    EXPECT_EQ(s.rtsControl, platform::kRtsOff);
    ASSERT_TRUE(applySerialSettingsText("parity=m dtr=hs rts=tg data=5 stop=1.5", s));
    EXPECT_EQ(s.parity, platform::kParityMark);
    EXPECT_EQ(s.dtrControl, platform::kDtrHandshake);
    EXPECT_EQ(s.rtsControl, platform::kRtsToggle);
    EXPECT_EQ(s.dataBits, 5);
    EXPECT_EQ(s.stopBits, platform::kStopOneAndHalf);
}

TEST(SerialSettingsText, PartialTextKeepsTheRest)
{
    SerialLineState s = oddLine();
    ASSERT_TRUE(applySerialSettingsText("baud=115200", s));
    SerialLineState expected = oddLine();
    expected.baudRate = 115200;
    EXPECT_EQ(s, expected);

    s = oddLine();
    ASSERT_TRUE(applySerialSettingsText("octs=off", s));
    expected = oddLine();
    expected.ctsOutputFlow = false;
    EXPECT_EQ(s, expected);
}

TEST(SerialSettingsText, KeysAndValuesIgnoreCaseAndBlanks)
{
    SerialLineState s;
    ASSERT_TRUE(applySerialSettingsText("  BAUD=19200\tParity=E  DATA=7 Stop=2 OCTS=ON xon=On  ", s));
    EXPECT_EQ(s.baudRate, 19200u);
    EXPECT_EQ(s.parity, platform::kParityEven);
    EXPECT_EQ(s.dataBits, 7);
    EXPECT_EQ(s.stopBits, platform::kStopTwo);
    EXPECT_TRUE(s.ctsOutputFlow);
    EXPECT_TRUE(s.xonXoff);
    ASSERT_TRUE(applySerialSettingsText("RTS=HS DTR=Off", s));
    EXPECT_EQ(s.rtsControl, platform::kRtsHandshake);
    EXPECT_EQ(s.dtrControl, platform::kDtrOff);
}

TEST(SerialSettingsText, CommaForm)
{
    SerialLineState s = oddLine();
    ASSERT_TRUE(applySerialSettingsText("9600,n,8,1", s));
    EXPECT_EQ(s.baudRate, 9600u);
    EXPECT_EQ(s.parity, platform::kParityNone);
    EXPECT_EQ(s.dataBits, 8);
    EXPECT_EQ(s.stopBits, platform::kStopOne);
    EXPECT_TRUE(s.dsrSensitivity);  // not named

    ASSERT_TRUE(applySerialSettingsText("1200, E, 7, 2", s));
    EXPECT_EQ(s.baudRate, 1200u);
    EXPECT_EQ(s.parity, platform::kParityEven);
    EXPECT_EQ(s.dataBits, 7);
    EXPECT_EQ(s.stopBits, platform::kStopTwo);

    // Fewer fields keep the later ones.
    ASSERT_TRUE(applySerialSettingsText("4800,o", s));
    EXPECT_EQ(s.baudRate, 4800u);
    EXPECT_EQ(s.parity, platform::kParityOdd);
    EXPECT_EQ(s.dataBits, 7);

    ASSERT_TRUE(applySerialSettingsText("9600,n,8,1,x", s));
    EXPECT_TRUE(s.xonXoff);
    EXPECT_FALSE(s.ctsOutputFlow);
    EXPECT_FALSE(s.dsrOutputFlow);
    ASSERT_TRUE(applySerialSettingsText("9600,n,8,1,P", s));
    EXPECT_FALSE(s.xonXoff);
    EXPECT_TRUE(s.ctsOutputFlow);
    EXPECT_EQ(s.rtsControl, platform::kRtsHandshake);

    ASSERT_TRUE(applySerialSettingsText("COM1: 19200,n,8,1", s));
    EXPECT_EQ(s.baudRate, 19200u);
    ASSERT_TRUE(applySerialSettingsText("com2:baud=2400", s));
    EXPECT_EQ(s.baudRate, 2400u);
}

TEST(SerialSettingsText, AbbreviatedBaudRates)
{
    const std::pair<const char*, unsigned> table[] = {
        {"11", 110}, {"15", 150}, {"30", 300}, {"60", 600}, {"12", 1200},
        {"24", 2400}, {"48", 4800}, {"96", 9600}, {"19", 19200}};
    for (const auto& [text, rate] : table) {
        SerialLineState s;
        ASSERT_TRUE(applySerialSettingsText(std::string(text) + ",n,8,1", s)) << text;
        EXPECT_EQ(s.baudRate, rate) << text;
        SerialLineState k;
        ASSERT_TRUE(applySerialSettingsText(std::string("baud=") + text, k)) << text;
        EXPECT_EQ(k.baudRate, rate) << text;
    }
    // At 110 baud two stop bits are the default, unless named.
    SerialLineState s;
    ASSERT_TRUE(applySerialSettingsText("11,n,8", s));
    EXPECT_EQ(s.stopBits, platform::kStopTwo);
    ASSERT_TRUE(applySerialSettingsText("baud=110 stop=1", s));
    EXPECT_EQ(s.stopBits, platform::kStopOne);
}

TEST(SerialSettingsText, RejectedTextsLeaveTheStateAlone)
{
    const char* rejected[] = {
        "", "   ", "\t\r\n", "speed=9600", "baud=abc", "baud=", "=9600", "baud=9601", "baud=14400",
        "baud=-9600", "baud=99999999999999999999", "data=9", "data=4", "data=", "stop=3", "stop=1.0",
        "stop=0", "parity=x", "parity=none", "octs=yes", "octs=", "dtr=tg", "rts=maybe",
        "baud=9600 parity=N data=8 stop=1 octs=on junk", "baud=9600 parity=N garbage=1",
        "baud = 9600", "baud=9600,parity=n", "baud=9600=1", "9600,n,8,1,x,y", "9600,n,8,1,q",
        "9600,,8,1", "9600,n,8,", ",n,8,1", "9600 n 8 1", "9600,n,8,1 octs=on", "COM1:", "COM1",
        "COMX:9600", "9600;n;8;1"};
    for (const char* text : rejected) {
        SerialLineState s = oddLine();
        EXPECT_FALSE(applySerialSettingsText(text, s)) << '"' << text << '"';
        EXPECT_EQ(s, oddLine()) << '"' << text << '"';
    }
    // A zero byte in the middle is garbage too.
    SerialLineState s = oddLine();
    EXPECT_FALSE(applySerialSettingsText(std::string("baud=9600\0data=7", 16), s));
    EXPECT_EQ(s, oddLine());
}

TEST(SerialSettingsText, ArbitraryBytesNeverCrash)
{
    std::mt19937 random(20240611);
    const std::string alphabet = "baudBAUDparitydatastopxonodsroctsdtrrtsidsrhstgonoffnemsxpCOM0123456789.,:= \t";
    int accepted = 0;
    for (int i = 0; i < 20000; ++i) {
        const std::size_t length = random() % 48;
        std::string text;
        for (std::size_t j = 0; j < length; ++j) {
            if (i % 2 == 0)
                text.push_back(static_cast<char>(random() & 0xff));
            else
                text.push_back(alphabet[random() % alphabet.size()]);
        }
        SerialLineState s = oddLine();
        if (applySerialSettingsText(text, s))
            ++accepted;
        else
            EXPECT_EQ(s, oddLine()) << text;
    }
    SUCCEED() << accepted << " random texts were accepted";
}

}  // namespace
