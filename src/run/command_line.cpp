#include "run/command_line.h"

#include "core/input_file.h"
#include "platform/diagnostics.h"
#include "platform/ip_address.h"

#include "bv_version.h"

#include <algorithm>
#include <limits>
#include <optional>

namespace bv {

const char* const kUsageCaption = "BeaconVigilor Usage";

const char* const kProgramVersion = kVersion;

const char* const kUsageText =
    "BeaconVigilor v. " BV_VERSION "\r\n"
    "Usage: BeaconVigilor -in <input file> [-out <output file> -red <down ip file> -pt <target time in seconds "
    "between pings> -ttl <time to live> -to <time out> -size <size of ping packet (incl header)> -sp <com port for "
    "logging> -spp <com port paramaters> -archive <size to archive at in kb>]\r\n"
    "options:\r\n"
    "-pt  default 30000ms, minimum 5000ms\r\n"
    "-ttl  default 20, min 1, max 255\r\n"
    "-to  default 1000ms\r\n"
    "-size default 44 bytes\r\n"
    "-spp default baud=9600 parity=N data=8 stop=1 octs=on\r\n"
    "-archive min 1 kb\r\n"
    "-max <requests in flight> default 6, min 1, max 1024; copies of the program started with the same -max share "
    "one pool of that many, copies with different values have a pool each\r\n"
    "-trace the trace stream on standard output (without it, a line at the start and one per logged change)\r\n"
    "-metrics [address:]port serves Prometheus metrics at /metrics, on 127.0.0.1 unless an address is given ([::1] for IPv6)\r\n"
    "-family 4|6|both which addresses of a host name are pinged: by default its IPv4 one, or its IPv6 one when it has "
    "no IPv4 address; 4 or 6 that family only; both one host per family, the IPv6 one named with \" (IPv6)\"\r\n"
    "-window <requests> default 20, min 1, max 1000: how many of a host's latest requests its round-trip figures and "
    "loss cover\r\n"
    "-slow <ms> an alarm while a host's median round trip over the window is above it (off by default)\r\n"
    "-loss <percent> an alarm while a host's loss over the window is above it, 1 to 99 (off by default)\r\n"
    "-paths on|off learn the path to each host and, when hosts go down, say behind which hop (on by default)";

std::vector<std::string> splitCommandLine(const std::string& commandLine)
{
    std::vector<std::string> arguments;
    std::size_t at = 0;
    const std::size_t end = commandLine.size();
    while (true) {
        while (at < end && isWhiteSpace(commandLine[at]))
            ++at;
        if (at >= end)
            break;
        if (commandLine[at] == '"') {
            const std::size_t start = at + 1;
            const std::size_t close = commandLine.find('"', start);
            if (close == std::string::npos) {
                arguments.push_back(commandLine.substr(start));
                break;
            }
            arguments.push_back(commandLine.substr(start, close - start));
            at = close + 1;
        } else {
            const std::size_t start = at;
            while (at < end && !isWhiteSpace(commandLine[at]))
                ++at;
            arguments.push_back(commandLine.substr(start, at - start));
            if (at < end)
                ++at;  // the terminator took the white-space character's place
        }
    }
    return arguments;
}

std::int32_t readNumber(const std::string& text)
{
    std::size_t at = 0;
    while (at < text.size() && isWhiteSpace(text[at]))
        ++at;
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
        negative = text[at] == '-';
        ++at;
    }
    std::int64_t value = 0;
    const std::int64_t limit = std::int64_t(std::numeric_limits<std::int32_t>::max()) + 1;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
        value = value * 10 + (text[at] - '0');
        if (value > limit)
            value = limit;
        ++at;
    }
    if (negative)
        value = -value;
    if (value > std::numeric_limits<std::int32_t>::max())
        value = std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(value);
}

namespace {

enum class Option { In, Out, Red, Pt, Ttl, To, Size, Sp, Spp, Archive, Max, Metrics, Family, Window, Slow, Loss, Paths };

struct OptionName {
    const char* text;
    Option option;
    const char* missingPrefix;
};

const OptionName kOptions[] = {
    { "-in", Option::In, "No file specified for " },
    { "-out", Option::Out, "No file specified for " },
    { "-red", Option::Red, "No file specified for " },
    { "-pt", Option::Pt, "No value specified for " },
    { "-ttl", Option::Ttl, "No value specified for " },
    { "-to", Option::To, "No value specified for " },
    { "-size", Option::Size, "No value specified for " },
    { "-sp", Option::Sp, "No value specified for " },
    { "-spp", Option::Spp, "No value specified for " },
    { "-archive", Option::Archive, "No value specified for " },
    { "-max", Option::Max, "No value specified for " },
    { "-metrics", Option::Metrics, "No value specified for " },
    { "-family", Option::Family, "No value specified for " },
    { "-window", Option::Window, "No value specified for " },
    { "-slow", Option::Slow, "No value specified for " },
    { "-loss", Option::Loss, "No value specified for " },
    { "-paths", Option::Paths, "No value specified for " },
};

// Only digits, nothing else: a count given wrong must not quietly become
// another count.
bool readCount(const std::string& text, std::int32_t& count)
{
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    count = static_cast<std::int32_t>(std::stol(text));
    return true;
}

void readBoundedCount(const std::string& value, std::int32_t lowest, std::int32_t highest, const char* wrongText,
    std::int32_t& setting, ParsedCommandLine& parsed)
{
    std::int32_t count = 0;
    if (readCount(value, count) && count >= lowest && count <= highest) {
        setting = count;
    } else {
        parsed.errorText = wrongText + value;
        parsed.errorFlag = 1;
    }
}

// Four numbers from 0 to 255 with dots between, nothing else: the
// system's parser would also take forms no one means.
bool isDottedQuad(const std::string& text)
{
    std::size_t at = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (at >= text.size() || text[at] != '.')
                return false;
            ++at;
        }
        const std::size_t start = at;
        int value = 0;
        while (at < text.size() && at - start < 3 && text[at] >= '0' && text[at] <= '9')
            value = value * 10 + (text[at++] - '0');
        if (at == start || value > 255)
            return false;
    }
    return at == text.size();
}

// [address:]port, the address dotted IPv4 or bracketed IPv6 as in a URL;
// the message for what is wrong, or nothing.
std::string readMetricsEndpoint(const std::string& value, RunSettings& settings)
{
    std::size_t colon = value.rfind(':');
    std::optional<std::string> address;
    if (!value.empty() && value.front() == '[') {
        const std::size_t close = value.find(']');
        const auto bytes = close == std::string::npos ? std::nullopt : platform::parseIpv6Text(value.substr(1, close - 1));
        if (!bytes || close + 1 >= value.size() || value[close + 1] != ':')
            return "-metrics address must be an IPv6 address in brackets such as [::1]: " + value;
        // Kept in the compact text, which the server and the page's link read.
        address = platform::addressText(platform::IpAddress::fromIpv6(bytes->data()));
        colon = close + 1;
    } else if (colon != std::string::npos) {
        if (!isDottedQuad(value.substr(0, colon)))
            return "-metrics address must be an IPv4 address such as 127.0.0.1: " + value;
        address = value.substr(0, colon);
    }
    const std::string port = colon == std::string::npos ? value : value.substr(colon + 1);
    std::int32_t number = 0;
    if (!readCount(port, number) || number < 1 || number > 65535)
        return "-metrics port must be a whole number from 1 to 65535: " + value;
    if (address)
        settings.metricsAddress = *address;
    settings.metricsPort = number;
    return std::string();
}

}  // namespace

ParsedCommandLine parseCommandLine(const std::vector<std::string>& arguments)
{
    ParsedCommandLine parsed;
    RunSettings& settings = parsed.settings;
    for (std::size_t index = 1; index < arguments.size(); ++index) {
        const std::string& argument = arguments[index];
        if (argument == "-trace") {
            settings.trace = true;
            continue;
        }
        const OptionName* match = nullptr;
        for (const OptionName& candidate : kOptions) {
            if (argument == candidate.text) {
                match = &candidate;
                break;
            }
        }
        if (!match) {
            parsed.errorText = "Unrecognized parameter: " + argument;
            parsed.errorFlag = 1;
            continue;
        }
        if (index + 1 >= arguments.size()) {
            parsed.errorText = std::string(match->missingPrefix) + match->text;
            parsed.errorFlag = 1;
            break;
        }
        const std::string& value = arguments[++index];
        switch (match->option) {
        case Option::In:
            settings.inputFile = value;
            parsed.traceLines.push_back("infile=" + value);
            break;
        case Option::Out:
            settings.logFile = value;
            parsed.traceLines.push_back("outfile=" + value);
            break;
        case Option::Red:
            settings.downFile = value;
            parsed.traceLines.push_back("outfile=" + value);
            break;
        case Option::Pt:
            settings.pingInterval = readNumber(value);
            if (settings.pingInterval < 5000)
                settings.pingInterval = 5000;
            break;
        case Option::Ttl:
            settings.ttl = readNumber(value);
            if (settings.ttl < 1 || settings.ttl > 255)
                parsed.errorFlag = 1;
            break;
        case Option::To:
            // Below 1 ms the receiver's wait would only spin a processor.
            settings.timeOut = std::max(readNumber(value), std::int32_t(1));
            break;
        case Option::Size:
            settings.packetSize = readNumber(value);
            if (settings.packetSize > 1032)
                parsed.errorFlag = 1;
            break;
        case Option::Sp:
            settings.serialPort = value;
            break;
        case Option::Spp:
            settings.serialParameters = value;
            break;
        case Option::Archive: {
            const std::int32_t size = readNumber(value);
            if (size >= 1) {
                settings.archiveSize = size;
            } else {
                parsed.errorText = "-archive size is too small";
                parsed.errorFlag = 1;
            }
            break;
        }
        case Option::Max: {
            std::int32_t count = 0;
            if (readCount(value, count) && count >= kMinInFlight && count <= kMaxInFlight) {
                settings.maxInFlight = count;
            } else {
                parsed.errorText = "-max must be a whole number from 1 to 1024: " + value;
                parsed.errorFlag = 1;
            }
            break;
        }
        case Option::Metrics: {
            const std::string wrong = readMetricsEndpoint(value, settings);
            if (!wrong.empty()) {
                parsed.errorText = wrong;
                parsed.errorFlag = 1;
            }
            break;
        }
        case Option::Family:
            if (value == "4") {
                settings.family = NameFamilies::V4;
            } else if (value == "6") {
                settings.family = NameFamilies::V6;
            } else if (value == "both") {
                settings.family = NameFamilies::Both;
            } else {
                parsed.errorText = "-family must be 4, 6 or both: " + value;
                parsed.errorFlag = 1;
            }
            break;
        case Option::Window:
            readBoundedCount(value, 1, 1000, "-window must be a whole number from 1 to 1000: ", settings.windowSize,
                parsed);
            break;
        case Option::Slow:
            readBoundedCount(value, 1, 3600000, "-slow must be a whole number of milliseconds from 1 to 3600000: ",
                settings.slowMilliseconds, parsed);
            break;
        case Option::Loss:
            readBoundedCount(value, 1, 99, "-loss must be a whole percentage from 1 to 99: ", settings.lossPercent,
                parsed);
            break;
        case Option::Paths:
            if (value == "on" || value == "off") {
                settings.pathsWatched = value == "on";
            } else {
                parsed.errorText = "-paths must be on or off: " + value;
                parsed.errorFlag = 1;
            }
            break;
        }
    }
    return parsed;
}

namespace {

bool isAbsolutePath(const std::string& path)
{
    const bool drive = path.size() >= 2 && path[1] == ':'
        && ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
    return drive || (!path.empty() && (path[0] == '/' || path[0] == '\\'));
}

std::string inDirectory(const std::string& directory, const std::string& name)
{
    if (isAbsolutePath(name) || directory.empty())
        return name;
    const char separator = directory.find('\\') != std::string::npos && directory.find('/') == std::string::npos ? '\\' : '/';
    const char last = directory.back();
    return directory + (last == '/' || last == '\\' ? "" : std::string(1, separator)) + name;
}

}  // namespace

std::vector<std::string> argumentsForAnotherStart(const std::vector<std::string>& arguments,
    const std::string& directory)
{
    std::vector<std::string> result;
    bool logNamed = false;
    bool downNamed = false;
    for (std::size_t index = 0; index < arguments.size(); ++index) {
        const std::string& argument = arguments[index];
        result.push_back(argument);
        // Every option but -trace takes a value, which may look like an option.
        if (index == 0 || argument == "-trace" || index + 1 >= arguments.size())
            continue;
        const std::string& value = arguments[++index];
        const bool file = argument == "-in" || argument == "-out" || argument == "-red";
        result.push_back(file ? inDirectory(directory, value) : value);
        logNamed |= argument == "-out";
        downNamed |= argument == "-red";
    }
    const RunSettings defaults;
    if (!logNamed)
        result.insert(result.end(), { "-out", inDirectory(directory, defaults.logFile) });
    if (!downNamed)
        result.insert(result.end(), { "-red", inDirectory(directory, defaults.downFile) });
    return result;
}

std::string usageBoxText(const std::string& errorText)
{
    return errorText + "\n\n" + kUsageText;
}

}  // namespace bv
