#include "platform/serial_settings.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace bv {

namespace platform {
namespace {

using Text = std::string_view;

constexpr std::array<std::uint32_t, 30> kBaudRates = {
    50, 75, 110, 134, 150, 200, 300, 600, 1200, 1800, 2400, 4800, 9600, 19200, 38400,
    57600, 115200, 230400, 460800, 500000, 576000, 921600, 1000000, 1152000, 1500000,
    2000000, 2500000, 3000000, 3500000, 4000000};

// The mode command lets the first two digits stand for the whole rate.
struct Abbreviation {
    std::uint32_t shortForm;
    std::uint32_t rate;
};
constexpr std::array<Abbreviation, 9> kAbbreviations = {{
    {11, 110}, {15, 150}, {30, 300}, {60, 600}, {12, 1200},
    {24, 2400}, {48, 4800}, {96, 9600}, {19, 19200}}};

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

char lower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool sameNoCase(Text a, Text b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (lower(a[i]) != lower(b[i]))
            return false;
    }
    return true;
}

Text trim(Text t)
{
    while (!t.empty() && isBlank(t.front()))
        t.remove_prefix(1);
    while (!t.empty() && isBlank(t.back()))
        t.remove_suffix(1);
    return t;
}

std::optional<std::uint32_t> number(Text t)
{
    if (t.empty() || t.size() > 9)
        return std::nullopt;
    std::uint32_t value = 0;
    for (char c : t) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + static_cast<std::uint32_t>(c - '0');
    }
    return value;
}

// What one text sets, so that rules which look at several keys (110 baud
// implies two stop bits) can be applied at the end.
struct Reading {
    SerialLineState state;
    bool baudNamed = false;
    bool stopNamed = false;
};

bool readBaud(Text v, Reading& r)
{
    auto value = number(v);
    if (!value)
        return false;
    for (const auto& a : kAbbreviations) {
        if (*value == a.shortForm)
            value = a.rate;
    }
    if (!isSupportedBaudRate(*value))
        return false;
    r.state.baudRate = *value;
    r.baudNamed = true;
    return true;
}

bool readParity(Text v, Reading& r)
{
    if (v.size() != 1)
        return false;
    switch (lower(v[0])) {
    case 'n': r.state.parity = kParityNone; return true;
    case 'o': r.state.parity = kParityOdd; return true;
    case 'e': r.state.parity = kParityEven; return true;
    case 'm': r.state.parity = kParityMark; return true;
    case 's': r.state.parity = kParitySpace; return true;
    default: return false;
    }
}

bool readData(Text v, Reading& r)
{
    if (v.size() != 1 || v[0] < '5' || v[0] > '8')
        return false;
    r.state.dataBits = v[0] - '0';
    return true;
}

bool readStop(Text v, Reading& r)
{
    if (v == "1")
        r.state.stopBits = kStopOne;
    else if (v == "1.5")
        r.state.stopBits = kStopOneAndHalf;
    else if (v == "2")
        r.state.stopBits = kStopTwo;
    else
        return false;
    r.stopNamed = true;
    return true;
}

bool readOnOff(Text v, bool& out)
{
    if (sameNoCase(v, "on"))
        out = true;
    else if (sameNoCase(v, "off"))
        out = false;
    else
        return false;
    return true;
}

bool readDtr(Text v, Reading& r)
{
    if (sameNoCase(v, "on"))
        r.state.dtrControl = kDtrOn;
    else if (sameNoCase(v, "off"))
        r.state.dtrControl = kDtrOff;
    else if (sameNoCase(v, "hs"))
        r.state.dtrControl = kDtrHandshake;
    else
        return false;
    return true;
}

bool readRts(Text v, Reading& r)
{
    if (sameNoCase(v, "on"))
        r.state.rtsControl = kRtsOn;
    else if (sameNoCase(v, "off"))
        r.state.rtsControl = kRtsOff;
    else if (sameNoCase(v, "hs"))
        r.state.rtsControl = kRtsHandshake;
    else if (sameNoCase(v, "tg"))
        r.state.rtsControl = kRtsToggle;
    else
        return false;
    return true;
}

bool readPair(Text key, Text value, Reading& r)
{
    if (sameNoCase(key, "baud")) return readBaud(value, r);
    if (sameNoCase(key, "parity")) return readParity(value, r);
    if (sameNoCase(key, "data")) return readData(value, r);
    if (sameNoCase(key, "stop")) return readStop(value, r);
    if (sameNoCase(key, "to")) return readOnOff(value, r.state.timeouts);
    if (sameNoCase(key, "xon")) return readOnOff(value, r.state.xonXoff);
    if (sameNoCase(key, "odsr")) return readOnOff(value, r.state.dsrOutputFlow);
    if (sameNoCase(key, "octs")) return readOnOff(value, r.state.ctsOutputFlow);
    if (sameNoCase(key, "dtr")) return readDtr(value, r);
    if (sameNoCase(key, "rts")) return readRts(value, r);
    if (sameNoCase(key, "idsr")) return readOnOff(value, r.state.dsrSensitivity);
    return false;
}

bool readKeyForm(Text t, Reading& r)
{
    while (!t.empty()) {
        std::size_t end = 0;
        while (end < t.size() && !isBlank(t[end]))
            ++end;
        const Text token = t.substr(0, end);
        t.remove_prefix(end);
        t = trim(t);
        const std::size_t eq = token.find('=');
        if (eq == Text::npos || eq == 0)
            return false;
        if (!readPair(token.substr(0, eq), token.substr(eq + 1), r))
            return false;
    }
    return true;
}

bool readFlowLetter(Text v, Reading& r)
{
    if (v.size() != 1)
        return false;
    SerialLineState& s = r.state;
    switch (lower(v[0])) {
    case 'x':
        s.xonXoff = true;
        s.ctsOutputFlow = false;
        s.dsrOutputFlow = false;
        if (s.rtsControl == kRtsHandshake)
            s.rtsControl = kRtsOn;
        if (s.dtrControl == kDtrHandshake)
            s.dtrControl = kDtrOn;
        return true;
    case 'p':
        // Hardware flow as a serial line here knows it: RTS/CTS.
        s.xonXoff = false;
        s.ctsOutputFlow = true;
        s.rtsControl = kRtsHandshake;
        return true;
    default:
        return false;
    }
}

bool readCommaForm(Text t, Reading& r)
{
    std::vector<Text> fields;
    while (true) {
        const std::size_t comma = t.find(',');
        fields.push_back(trim(t.substr(0, comma)));
        if (comma == Text::npos)
            break;
        t.remove_prefix(comma + 1);
        if (fields.size() == 5)
            return false;
    }
    using Reader = bool (*)(Text, Reading&);
    constexpr std::array<Reader, 5> readers = {readBaud, readParity, readData, readStop, readFlowLetter};
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (fields[i].empty() || !readers[i](fields[i], r))
            return false;
    }
    return true;
}

// The mode command allows the device to be named first ("COM1:").
Text withoutDeviceName(Text t)
{
    if (t.size() < 4 || !sameNoCase(t.substr(0, 3), "com"))
        return t;
    std::size_t i = 3;
    while (i < t.size() && t[i] >= '0' && t[i] <= '9')
        ++i;
    if (i == 3)
        return t;
    if (i < t.size() && t[i] == ':')
        ++i;
    else if (i < t.size() && !isBlank(t[i]))
        return t;
    return trim(t.substr(i));
}

}  // namespace

bool isSupportedBaudRate(std::uint32_t baudRate)
{
    for (auto rate : kBaudRates) {
        if (rate == baudRate)
            return true;
    }
    return false;
}

bool applySerialSettingsText(const std::string& text, SerialLineState& state)
{
    const Text t = withoutDeviceName(trim(text));
    if (t.empty())
        return false;
    Reading r{state};
    const bool read = t.find('=') != Text::npos ? readKeyForm(t, r) : readCommaForm(t, r);
    if (!read)
        return false;
    // The mode command's rule: at 110 baud the stop bits default to two.
    if (r.baudNamed && !r.stopNamed && r.state.baudRate == 110)
        r.state.stopBits = kStopTwo;
    state = r.state;
    return true;
}

}  // namespace platform

}  // namespace bv
