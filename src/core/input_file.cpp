#include "core/input_file.h"

#include "core/startup_failure.h"
#include "platform/files.h"
#include "shell/desktop.h"

#include <cstring>
#include <new>

namespace bv {

bool isWhiteSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

InputLine splitInputLine(const std::string& line)
{
    InputLine parts;
    std::size_t at = 0;
    const std::size_t end = line.size();
    auto skipWhiteSpace = [&] {
        while (at < end && isWhiteSpace(line[at]))
            ++at;
    };
    auto takeField = [&] {
        const std::size_t start = at;
        while (at < end && !isWhiteSpace(line[at]))
            ++at;
        return line.substr(start, at - start);
    };
    skipWhiteSpace();
    parts.name = takeField();
    skipWhiteSpace();
    parts.hostText = takeField();

    std::string rest = line.substr(at, kMaxCommentLength);
    std::size_t first = 0;
    while (first < rest.size() && isWhiteSpace(rest[first]))
        ++first;
    std::size_t last = rest.size();
    while (last > first && isWhiteSpace(rest[last - 1]))
        --last;
    parts.comment = rest.substr(first, last - first);
    return parts;
}

namespace {

std::string errorText(const InputLine& parts, int lineNumber, const char* reason)
{
    return "unable to create address for " + parts.name + " " + parts.hostText + " " + parts.comment + " at line "
        + std::to_string(lineNumber) + reason + "\n";
}

const char* const kParseCaption = "Error parsing input file";

void loadLine(Region& region, std::string& line, int lineNumber, CalendarTime now)
{
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    if (line.size() > kMaxInputLineLength) {
        // Stopping here would leave every later host unwatched.
        showMessageBox("unable to create address at line " + std::to_string(lineNumber)
                + " because the line is longer than 1023 characters\n",
            kParseCaption, MessageIcon::Error);
        return;
    }
    if (line.empty() || line[0] == '#')
        return;

    const InputLine parts = splitInputLine(line);
    if (parts.name.empty() || parts.hostText.empty() || parts.name.size() > kMaxFieldLength
        || parts.hostText.size() > kMaxFieldLength) {
        showMessageBox(errorText(parts, lineNumber, " because the line format was not correct"), kParseCaption,
            MessageIcon::Error);
        return;
    }
    if (platform::parseIpv4(parts.hostText) == platform::kNoAddress)
        region.setHasNamedHosts(true);

    std::unique_ptr<Address> record;
    try {
        record = std::make_unique<Address>(parts.name, parts.hostText, parts.comment, region.getInterval(),
            region.getPingTtl(), now);
    } catch (const std::bad_alloc&) {
        showMessageBox(errorText(parts, lineNumber, ""), kParseCaption, MessageIcon::Error);
        return;
    }
    if (!region.addAddress(record)) {
        InputLine shown { record->getName(), record->getHostText(), record->getComment() };
        showMessageBox(errorText(shown, lineNumber, " because the ip was found earlier in the file"),
            "Duplicate IP in input file", MessageIcon::Error);
    }
}

}  // namespace

void loadInputFile(Region& region, const std::string& fileName, CalendarTime now)
{
    platform::InputFile file;
    if (!file.open(fileName))
        throw StartupFailure("Could not open input file");

    int lineNumber = 1;
    std::string line;
    char buffer[8192];
    long got = 0;
    while ((got = file.read(buffer, sizeof buffer)) > 0) {
        const char* at = buffer;
        const char* const end = buffer + got;
        while (at < end) {
            const char* lineEnd = static_cast<const char*>(std::memchr(at, '\n', static_cast<std::size_t>(end - at)));
            line.append(at, lineEnd != nullptr ? lineEnd : end);
            if (lineEnd == nullptr)
                break;
            loadLine(region, line, lineNumber++, now);
            line.clear();
            at = lineEnd + 1;
        }
    }
    // A last line without a line end counts like any other.
    if (!line.empty())
        loadLine(region, line, lineNumber, now);
}

}  // namespace bv
