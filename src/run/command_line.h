#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace bv {

// Which addresses of a host-list name are pinged (-family).
enum class NameFamilies {
    Default,  // its IPv4 address when it has one, else its IPv6 one
    V4,
    V6,
    Both,  // one host per family the name has
};

// Every setting of a run; the command line is their only source.
struct RunSettings {
    std::string inputFile;
    std::string logFile = "out.txt";
    std::string downFile = "down.txt";
    std::string serialPort;
    std::string serialParameters = "baud=9600 parity=N data=8 stop=1 octs=on";
    std::int32_t pingInterval = 30000;  // milliseconds
    std::int32_t ttl = 20;
    std::int32_t timeOut = 1000;        // milliseconds
    std::int32_t packetSize = 44;       // bytes, ICMP header included
    std::int32_t archiveSize = 0;       // kilobytes; 0 when not given
    std::int32_t maxInFlight = 6;       // echo requests in flight at once
    bool trace = false;                 // -trace: the trace stream on standard output
    // Where the Prometheus metrics are served; port 0 when they are not.
    std::string metricsAddress = "127.0.0.1";
    std::int32_t metricsPort = 0;
    NameFamilies family = NameFamilies::Default;
    std::int32_t windowSize = 20;      // requests each host's round-trip figures cover
    std::int32_t slowMilliseconds = 0;  // -slow: median above it raises the alarm; 0 when off
    std::int32_t lossPercent = 0;       // -loss: loss above it raises the alarm; 0 when off
    bool pathsWatched = true;           // -paths: the paths learnt, outages located on them
};

inline constexpr std::int32_t kMinInFlight = 1;
inline constexpr std::int32_t kMaxInFlight = 1024;

struct ParsedCommandLine {
    RunSettings settings;
    std::string errorText;
    int errorFlag = 0;
    // The trace lines of the parse, for the run to write once it knows
    // whether the trace is wanted.
    std::vector<std::string> traceLines;

    bool runCanStart() const { return !settings.inputFile.empty() && errorFlag == 0; }
};

extern const char* const kUsageText;
// The version the usage text carries.
extern const char* const kProgramVersion;
extern const char* const kUsageCaption;

// Splits a process command line into its arguments; argument 0 is the
// program as the command line names it.
std::vector<std::string> splitCommandLine(const std::string& commandLine);

// Argument 0 is never looked at.
ParsedCommandLine parseCommandLine(const std::vector<std::string>& arguments);

// The arguments for a start of the program at the next login, which has
// another working directory: the files of -in, -out and -red made absolute
// against `directory` (the working directory now), and the default log and
// down files named. Argument 0 is kept as it is.
std::vector<std::string> argumentsForAnotherStart(const std::vector<std::string>& arguments,
    const std::string& directory);

// The usage box's text for a given error text.
std::string usageBoxText(const std::string& errorText);

// The runtime library's atoi rules, saturated at the 32-bit limits.
std::int32_t readNumber(const std::string& text);

}  // namespace bv
