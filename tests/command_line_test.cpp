#include "run/command_line.h"

#include "bv_version.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace bv;

namespace {

ParsedCommandLine parse(std::vector<std::string> arguments)
{
    arguments.insert(arguments.begin(), "BeaconVigilor.exe");
    return parseCommandLine(arguments);
}

using Arguments = std::vector<std::string>;

}  // namespace

TEST(SplitCommandLine, QuotingAndWhiteSpace)
{
    EXPECT_EQ(splitCommandLine("\"C:\\Program Files\\BV\\bv.exe\" -in"),
        (Arguments { "C:\\Program Files\\BV\\bv.exe", "-in" }));
    EXPECT_EQ(splitCommandLine("bv -in \"my hosts.txt"), (Arguments { "bv", "-in", "my hosts.txt" }));
    EXPECT_EQ(splitCommandLine("bv ab\"cd ef"), (Arguments { "bv", "ab\"cd", "ef" }));
    EXPECT_EQ(splitCommandLine("bv \"\" x"), (Arguments { "bv", "", "x" }));
    EXPECT_EQ(splitCommandLine("  bv \t\r\n -in \v\f  x  "), (Arguments { "bv", "-in", "x" }));
    // The closing quote ends the argument even when a word follows it directly.
    EXPECT_EQ(splitCommandLine("\"ab\"cd"), (Arguments { "ab", "cd" }));
    EXPECT_TRUE(splitCommandLine("").empty());
    EXPECT_TRUE(splitCommandLine(" \t ").empty());
    EXPECT_EQ(splitCommandLine("\""), (Arguments { "" }));
}

TEST(ParseCommandLine, DefaultsAndUsage)
{
    ParsedCommandLine none = parse({});
    EXPECT_EQ(none.errorText, "");
    EXPECT_EQ(none.errorFlag, 0);
    EXPECT_FALSE(none.runCanStart());
    const std::string versionLine = "\n\nBeaconVigilor v. " BV_VERSION "\r";
    EXPECT_EQ(usageBoxText(none.errorText).substr(0, versionLine.size()), versionLine);

    ParsedCommandLine plain = parse({ "-in", "hosts.txt" });
    ASSERT_TRUE(plain.runCanStart());
    EXPECT_EQ(plain.settings.inputFile, "hosts.txt");
    EXPECT_EQ(plain.settings.logFile, "out.txt");
    EXPECT_EQ(plain.settings.downFile, "down.txt");
    EXPECT_EQ(plain.settings.serialPort, "");
    EXPECT_EQ(plain.settings.serialParameters, "baud=9600 parity=N data=8 stop=1 octs=on");
    EXPECT_EQ(plain.settings.pingInterval, 30000);
    EXPECT_EQ(plain.settings.ttl, 20);
    EXPECT_EQ(plain.settings.timeOut, 1000);
    EXPECT_EQ(plain.settings.packetSize, 44);
    EXPECT_EQ(plain.settings.archiveSize, 0);
}

TEST(ParseCommandLine, UsageTextIsExact)
{
    const std::string usage = kUsageText;
    EXPECT_EQ(std::count(usage.begin(), usage.end(), '\n'), 16);
    // The program's own options come after the original ones.
    EXPECT_NE(usage.find("\r\n-archive min 1 kb\r\n-max <requests in flight> default 6, min 1, max 1024; "),
        std::string::npos);
    EXPECT_NE(usage.find("pool each\r\n-trace "), std::string::npos);
    EXPECT_NE(usage.find("per logged change)\r\n-metrics [address:]port serves"), std::string::npos);
    EXPECT_NE(usage.find("([::1] for IPv6)\r\n-family 4|6|both which addresses"), std::string::npos);
    EXPECT_NE(usage.find("named with \" (IPv6)\"\r\n-window <requests> default 20, min 1, max 1000: "), std::string::npos);
    EXPECT_NE(usage.find("\r\n-slow <ms> an alarm while"), std::string::npos);
    EXPECT_NE(usage.find("\r\n-loss <percent> an alarm while a host's loss over the window is above it, 1 to 99 (off "
                         "by default)\r\n"),
        std::string::npos);
    const std::string last = "\r\n-paths on|off learn the path to each host and, when hosts go down, say behind which hop "
                             "(on by default)";
    EXPECT_EQ(usage.find(last), usage.size() - last.size()) << "the last option";
    EXPECT_EQ(usage.rfind(std::string("BeaconVigilor v. ") + kProgramVersion + "\r\n", 0), 0u);
    EXPECT_NE(usage.find("\r\n-spp default baud=9600 parity=N data=8 stop=1 octs=on\r\n"), std::string::npos);
    EXPECT_NE(usage.find("-sp <com port for logging> -spp <com port paramaters> -archive <size to archive at in kb>]\r\n"
                         "options:\r\n-pt  default 30000ms, minimum 5000ms\r\n-ttl  default 20, min 1, max 255\r\n"
                         "-to  default 1000ms\r\n-size default 44 bytes\r\n"),
        std::string::npos);
    EXPECT_EQ(std::string(kUsageCaption), "BeaconVigilor Usage");
}

TEST(ParseCommandLine, ClampsAndBounds)
{
    EXPECT_EQ(parse({ "-in", "h", "-pt", "1000" }).settings.pingInterval, 5000);
    EXPECT_EQ(parse({ "-in", "h", "-pt", "5000" }).settings.pingInterval, 5000);
    EXPECT_EQ(parse({ "-in", "h", "-pt", "abc" }).settings.pingInterval, 5000);
    EXPECT_EQ(parse({ "-in", "h", "-pt", "12000abc" }).settings.pingInterval, 12000);
    EXPECT_EQ(parse({ "-in", "h", "-pt", "99999999999999" }).settings.pingInterval, 2147483647);

    for (const char* bad : { "0", "256", "-1", "x" }) {
        ParsedCommandLine parsed = parse({ "-in", "h", "-ttl", bad });
        EXPECT_EQ(parsed.errorFlag, 1) << bad;
        EXPECT_EQ(parsed.errorText, "") << bad;
        EXPECT_FALSE(parsed.runCanStart());
    }
    EXPECT_EQ(parse({ "-x", "-in", "h", "-ttl", "0" }).errorText, "Unrecognized parameter: -x");
    EXPECT_TRUE(parse({ "-in", "h", "-ttl", "1" }).runCanStart());
    EXPECT_TRUE(parse({ "-in", "h", "-ttl", "255" }).runCanStart());

    EXPECT_TRUE(parse({ "-in", "h", "-size", "1032" }).runCanStart());
    EXPECT_EQ(parse({ "-in", "h", "-size", "1033" }).errorFlag, 1);
    EXPECT_TRUE(parse({ "-in", "h", "-size", "0" }).runCanStart());

    for (const char* bad : { "0", "-3" }) {
        ParsedCommandLine parsed = parse({ "-in", "h", "-archive", bad });
        EXPECT_EQ(parsed.errorText, "-archive size is too small");
        EXPECT_EQ(parsed.settings.archiveSize, 0);
    }
    EXPECT_EQ(parse({ "-in", "h", "-archive", "1" }).settings.archiveSize, 1);
    // Below 1 ms the receiver would spin: taken as 1 ms.
    for (const char* small : { "-5", "0" }) {
        ParsedCommandLine parsed = parse({ "-in", "h", "-to", small });
        EXPECT_TRUE(parsed.runCanStart());
        EXPECT_EQ(parsed.settings.timeOut, 1);
    }

    EXPECT_EQ(parse({ "-in", "h" }).settings.maxInFlight, 6);
    EXPECT_EQ(parse({ "-in", "h", "-max", "1" }).settings.maxInFlight, 1);
    EXPECT_EQ(parse({ "-in", "h", "-max", "1024" }).settings.maxInFlight, 1024);
    for (const char* bad : { "0", "1025", "-4", "12x", "", " 8", "99999999999" }) {
        ParsedCommandLine parsed = parse({ "-in", "h", "-max", bad });
        EXPECT_FALSE(parsed.runCanStart()) << bad;
        EXPECT_EQ(parsed.errorText, std::string("-max must be a whole number from 1 to 1024: ") + bad);
        EXPECT_EQ(parsed.settings.maxInFlight, 6);
    }

    EXPECT_EQ(parse({ "-in", "h" }).settings.family, NameFamilies::Default);
    EXPECT_EQ(parse({ "-in", "h", "-family", "4" }).settings.family, NameFamilies::V4);
    EXPECT_EQ(parse({ "-in", "h", "-family", "6" }).settings.family, NameFamilies::V6);
    EXPECT_EQ(parse({ "-in", "h", "-family", "both" }).settings.family, NameFamilies::Both);
    for (const char* bad : { "", "46", "Both", "ipv6", "6 " }) {
        ParsedCommandLine parsed = parse({ "-in", "h", "-family", bad });
        EXPECT_FALSE(parsed.runCanStart()) << bad;
        EXPECT_EQ(parsed.errorText, std::string("-family must be 4, 6 or both: ") + bad);
    }
    EXPECT_TRUE(parse({ "-in", "h" }).settings.pathsWatched);
    EXPECT_FALSE(parse({ "-in", "h", "-paths", "off" }).settings.pathsWatched);
    EXPECT_TRUE(parse({ "-in", "h", "-paths", "on" }).settings.pathsWatched);
    EXPECT_EQ(parse({ "-in", "h", "-paths", "no" }).errorText, "-paths must be on or off: no");
    // The round-trip window and the alarms: off by default, bounded, digits only.
    EXPECT_EQ(parse({ "-in", "h" }).settings.windowSize, 20);
    EXPECT_EQ(parse({ "-in", "h" }).settings.slowMilliseconds, 0);
    EXPECT_EQ(parse({ "-in", "h" }).settings.lossPercent, 0);
    const ParsedCommandLine tuned = parse({ "-in", "h", "-window", "1000", "-slow", "250", "-loss", "5" });
    EXPECT_TRUE(tuned.runCanStart());
    EXPECT_EQ(tuned.settings.windowSize, 1000);
    EXPECT_EQ(tuned.settings.slowMilliseconds, 250);
    EXPECT_EQ(tuned.settings.lossPercent, 5);
    EXPECT_EQ(parse({ "-in", "h", "-window", "0" }).errorText, "-window must be a whole number from 1 to 1000: 0");
    EXPECT_EQ(parse({ "-in", "h", "-window", "1001" }).errorText, "-window must be a whole number from 1 to 1000: 1001");
    EXPECT_EQ(parse({ "-in", "h", "-slow", "0.5" }).errorText,
        "-slow must be a whole number of milliseconds from 1 to 3600000: 0.5");
    EXPECT_EQ(parse({ "-in", "h", "-loss", "100" }).errorText, "-loss must be a whole percentage from 1 to 99: 100");
    EXPECT_FALSE(parse({ "-in", "h", "-loss", "-5" }).runCanStart());
}

TEST(ParseCommandLine, MissingValuesUnknownOptionsAndLastErrorWins)
{
    ParsedCommandLine in = parse({ "-in" });
    EXPECT_EQ(in.errorText, "No file specified for -in");
    EXPECT_EQ(in.errorFlag, 1);
    EXPECT_EQ(parse({ "-in", "h", "-red" }).errorText, "No file specified for -red");
    EXPECT_EQ(parse({ "-in", "h", "-pt" }).errorText, "No value specified for -pt");
    EXPECT_EQ(parse({ "-in", "h", "-archive" }).errorText, "No value specified for -archive");

    ParsedCommandLine unknown = parse({ "-x", "-in", "hosts.txt" });
    EXPECT_EQ(unknown.errorText, "Unrecognized parameter: -x");
    EXPECT_EQ(unknown.settings.inputFile, "hosts.txt");
    EXPECT_FALSE(unknown.runCanStart());
    EXPECT_EQ(parse({ "-x", "-y" }).errorText, "Unrecognized parameter: -y");
    // The flag stays set after a later good option.
    EXPECT_EQ(parse({ "-x", "-in", "h", "-pt", "6000" }).errorFlag, 1);

    ParsedCommandLine twice = parse({ "-in", "a.txt", "-in", "b.txt" });
    EXPECT_EQ(twice.settings.inputFile, "b.txt");

    ParsedCommandLine valueLikeOption = parse({ "-in", "h", "-out", "-red", "x" });
    EXPECT_EQ(valueLikeOption.settings.logFile, "-red");
    EXPECT_EQ(valueLikeOption.settings.downFile, "down.txt");
    EXPECT_EQ(valueLikeOption.errorText, "Unrecognized parameter: x");

    ParsedCommandLine upper = parse({ "-IN", "hosts.txt" });
    EXPECT_EQ(upper.errorText, "Unrecognized parameter: hosts.txt");
    EXPECT_TRUE(upper.settings.inputFile.empty());

    ParsedCommandLine all = parse({ "-in", "i", "-out", "o", "-red", "r", "-sp", "/dev/ttyS0", "-spp", "9600,n,8,1",
        "-ttl", "7", "-to", "300", "-size", "100", "-archive", "64", "-pt", "60000" });
    ASSERT_TRUE(all.runCanStart());
    EXPECT_EQ(all.settings.logFile, "o");
    EXPECT_EQ(all.settings.downFile, "r");
    EXPECT_EQ(all.settings.serialPort, "/dev/ttyS0");
    EXPECT_EQ(all.settings.serialParameters, "9600,n,8,1");
    EXPECT_EQ(all.settings.ttl, 7);
    EXPECT_EQ(all.settings.timeOut, 300);
    EXPECT_EQ(all.settings.packetSize, 100);
    EXPECT_EQ(all.settings.archiveSize, 64);
    EXPECT_EQ(all.settings.pingInterval, 60000);
}

// The parse's trace lines wait for the run, which alone knows whether the
// trace is wanted; -trace takes no value, and as a value it is a file name.
TEST(ParseCommandLine, TraceLinesAndTheTraceSwitch)
{
    testing::internal::CaptureStdout();
    const ParsedCommandLine plain = parse({ "-in", "hosts.txt", "-out", "log.txt", "-red", "red.txt" });
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(plain.traceLines, (std::vector<std::string> { "infile=hosts.txt", "outfile=log.txt", "outfile=red.txt" }));
    EXPECT_FALSE(plain.settings.trace);

    const ParsedCommandLine traced = parse({ "-trace", "-in", "-trace", "-pt", "6000", "-trace" });
    EXPECT_TRUE(traced.settings.trace);
    EXPECT_EQ(traced.settings.inputFile, "-trace");
    EXPECT_EQ(traced.settings.pingInterval, 6000);
    EXPECT_EQ(traced.errorFlag, 0);
}

TEST(ParseCommandLine, MetricsEndpoint)
{
    ParsedCommandLine none = parse({ "-in", "h" });
    EXPECT_EQ(none.settings.metricsPort, 0);
    ParsedCommandLine port = parse({ "-in", "h", "-metrics", "9100" });
    ASSERT_TRUE(port.runCanStart()) << port.errorText;
    EXPECT_EQ(port.settings.metricsAddress, "127.0.0.1");
    EXPECT_EQ(port.settings.metricsPort, 9100);
    ParsedCommandLine both = parse({ "-in", "h", "-metrics", "0.0.0.0:65535" });
    ASSERT_TRUE(both.runCanStart()) << both.errorText;
    EXPECT_EQ(both.settings.metricsAddress, "0.0.0.0");
    EXPECT_EQ(both.settings.metricsPort, 65535);

    // An IPv6 address in brackets, as a URL writes it, kept in its compact text.
    ParsedCommandLine v6 = parse({ "-in", "h", "-metrics", "[0:0::1]:9100" });
    ASSERT_TRUE(v6.runCanStart()) << v6.errorText;
    EXPECT_EQ(v6.settings.metricsAddress, "::1");
    EXPECT_EQ(v6.settings.metricsPort, 9100);
    EXPECT_EQ(parse({ "-in", "h", "-metrics", "[::]:80" }).settings.metricsAddress, "::");
    for (const char* bad : { "[::1]", "[::1]9100", "[::1:9100", "[2001:db8:::1]:9100", "[10.0.0.1]:9100", "::1:9100" }) {
        ParsedCommandLine parsed = parse({ "-in", "h", "-metrics", bad });
        EXPECT_FALSE(parsed.runCanStart()) << bad;
        EXPECT_THAT(parsed.errorText, testing::StartsWith("-metrics address must be ")) << bad;
    }

    for (const char* bad : { "0", "65536", "", "x", "9100x", "-1", " 9100", "10.0.0.1:", "10.0.0.1:0", "[::1]:", "[::1]:0" }) {
        ParsedCommandLine parsed = parse({ "-in", "h", "-metrics", bad });
        EXPECT_FALSE(parsed.runCanStart()) << bad;
        EXPECT_EQ(parsed.errorText, std::string("-metrics port must be a whole number from 1 to 65535: ") + bad);
        EXPECT_EQ(parsed.settings.metricsPort, 0);
    }
    for (const char* bad : { "localhost:9100", "10.0.0:9100", "10.0.0.256:9100", "10.0.0.1.2:9100", ":9100",
             "1.2.3.04a:9100", "0x7f.0.0.1:9100", "10.0.0.1:x:9100" }) {
        ParsedCommandLine parsed = parse({ "-in", "h", "-metrics", bad });
        EXPECT_FALSE(parsed.runCanStart()) << bad;
        EXPECT_EQ(parsed.errorText, std::string("-metrics address must be an IPv4 address such as 127.0.0.1: ") + bad);
        EXPECT_EQ(parsed.settings.metricsAddress, "127.0.0.1");
    }
    EXPECT_EQ(parse({ "-in", "h", "-metrics" }).errorText, "No value specified for -metrics");
}

// A start at the next login runs in another directory: the files named
// relatively now, and the default ones, must be found the same then.
TEST(ArgumentsForAnotherStart, FilesBecomeAbsoluteAndTheDefaultsNamed)
{
    EXPECT_EQ(argumentsForAnotherStart({ "bv", "-in", "hosts.txt", "-pt", "-in", "-trace", "-out", "/var/log/out.txt" },
                  "/home/ann"),
        (std::vector<std::string> { "bv", "-in", "/home/ann/hosts.txt", "-pt", "-in", "-trace", "-out",
            "/var/log/out.txt", "-red", "/home/ann/down.txt" }));
    EXPECT_EQ(argumentsForAnotherStart({ "C:\\bv.exe", "-in", "D:\\lists\\h.txt", "-red", "red.txt" }, "C:\\Users\\ann\\"),
        (std::vector<std::string> { "C:\\bv.exe", "-in", "D:\\lists\\h.txt", "-red", "C:\\Users\\ann\\red.txt", "-out",
            "C:\\Users\\ann\\out.txt" }));
    EXPECT_EQ(argumentsForAnotherStart({ "bv", "-in" }, "/x"),
        (std::vector<std::string> { "bv", "-in", "-out", "/x/out.txt", "-red", "/x/down.txt" }));
}
