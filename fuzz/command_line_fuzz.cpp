// The process command line: split, parsed and turned into the usage text.

#include "run/command_line.h"
#include "support/fuzz_support.h"

#include <cstring>

using namespace bv;

namespace {

bool holdsWhiteSpace(const std::string& text)
{
    for (char c : text)
        if (c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r')
            return true;
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string line = bytesAsText(data, size);
    const std::vector<std::string> arguments = splitCommandLine(line);

    std::size_t characters = 0;
    bool quotedSeen = false;
    for (const std::string& argument : arguments) {
        characters += argument.size();
        // Only a quoted argument may be empty or hold white space.
        if (argument.empty() || holdsWhiteSpace(argument))
            quotedSeen = true;
    }
    FUZZ_CHECK(characters <= line.size(), line);
    if (quotedSeen)
        FUZZ_CHECK(line.find('"') != std::string::npos, line);
    if (line.find('"') == std::string::npos)
        FUZZ_CHECK(characters + arguments.size() <= line.size() + 1, line);

    const ParsedCommandLine parsed = parseCommandLine(arguments);
    const RunSettings& settings = parsed.settings;
    FUZZ_CHECK(settings.pingInterval >= 5000, line);
    FUZZ_CHECK(settings.archiveSize >= 0, line);
    if (parsed.errorFlag == 0) {
        FUZZ_CHECK(parsed.errorText.empty(), line);
        FUZZ_CHECK(settings.ttl >= 1 && settings.ttl <= 255, line);
        FUZZ_CHECK(settings.packetSize <= 1032, line);
    }
    if (parsed.runCanStart())
        FUZZ_CHECK(!settings.inputFile.empty(), line);
    const std::string box = usageBoxText(parsed.errorText);
    FUZZ_CHECK(box.size() == parsed.errorText.size() + 2 + std::strlen(kUsageText), line);

    // The same bytes as one argument: every value an option can be given.
    const std::vector<std::string> asValue { "program", "-pt", line, "-ttl", line, "-size", line, "-archive", line };
    const ParsedCommandLine numbers = parseCommandLine(asValue);
    FUZZ_CHECK(numbers.settings.pingInterval >= 5000, line);
    const std::int32_t number = readNumber(line);
    if (numbers.errorFlag == 0)
        FUZZ_CHECK(number >= 1 && number <= 255, line);
    return 0;
}
