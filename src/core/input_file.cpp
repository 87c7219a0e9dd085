#include "core/input_file.h"

#include "core/startup_failure.h"
#include "core/monitor_events.h"
#include "platform/files.h"

#include <cstdint>
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

std::string errorText(const InputLine& parts, int lineNumber, const std::string& reason)
{
    return "unable to create address for " + parts.name + " " + parts.hostText + " " + parts.comment + " at line "
        + std::to_string(lineNumber) + reason + "\n";
}

const char* const kParseCaption = "Error parsing input file";

void reportLine(const LineReport& report, const std::string& text, const std::string& caption)
{
    if (report)
        report(text, caption);
    else
        showMessageBox(text, caption, MessageIcon::Error);
}

// Stopping at an over-long line would leave every later host unwatched.
void reportOverlongLine(const LineReport& report, int lineNumber)
{
    reportLine(report,
        "unable to create address at line " + std::to_string(lineNumber)
            + " because the line is longer than 1023 characters\n",
        kParseCaption);
}

// A host list's lines are short: this much without a line end means the file
// is no host list (/dev/zero, data named by mistake). Reading past it could
// take forever and a run would start without the hosts the user meant, so
// the run is not started.
constexpr std::uint64_t kMaxUnendedLine = std::uint64_t { 4 } << 20;

void loadLine(Region& region, std::string& line, int lineNumber, CalendarTime now, const LineReport& report)
{
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    if (line.size() > kMaxInputLineLength) {
        reportOverlongLine(report, lineNumber);
        return;
    }
    if (line.empty() || line[0] == '#')
        return;

    const InputLine parts = splitInputLine(line);
    if (parts.name.empty() || parts.hostText.empty() || parts.name.size() > kMaxFieldLength
        || parts.hostText.size() > kMaxFieldLength) {
        reportLine(report, errorText(parts, lineNumber, " because the line format was not correct"), kParseCaption);
        return;
    }
    const auto numeric = platform::parseHostAddress(parts.hostText);
    if (numeric.is_error()) {
        reportLine(report, errorText(parts, lineNumber, " because " + numeric.error().text()), kParseCaption);
        return;
    }
    if (!numeric.value())
        region.setHasNamedHosts(true);

    std::unique_ptr<Address> record;
    try {
        record = std::make_unique<Address>(parts.name, parts.hostText, parts.comment, region.getInterval(),
            region.getPingTtl(), now);
    } catch (const std::bad_alloc&) {
        reportLine(report, errorText(parts, lineNumber, ""), kParseCaption);
        return;
    }
    if (!numeric.value())
        record->setFamily(region.getNameFamily());
    if (!region.addAddress(record)) {
        InputLine shown { record->getName(), record->getHostText(), record->getComment() };
        reportLine(report, errorText(shown, lineNumber, " because the ip was found earlier in the file"),
            "Duplicate IP in input file");
    }
}

}  // namespace

void loadInputFile(Region& region, const std::string& fileName, CalendarTime now, const LineReport& report)
{
    platform::InputFile file;
    if (const auto opened = file.open(fileName); opened.is_error())
        throw StartupFailure("Could not open input file: " + platform::systemErrorText(opened.error().code()));

    // Only as much of a line is kept as a good line can have, with the CR of
    // a CRLF end; the rest of an over-long line is read past.
    std::string line;
    line.reserve(kMaxInputLineLength + 1);
    bool overlong = false;
    std::uint64_t lineLength = 0;
    int lineNumber = 1;
    char buffer[8192];
    for (;;) {
        const auto read = file.read(buffer, sizeof buffer);
        if (read.is_error())
            throw StartupFailure("Could not read input file: " + platform::systemErrorText(read.error().code()));
        const std::size_t got = read.value();
        if (got == 0)
            break;
        const char* at = buffer;
        const char* const end = buffer + got;
        while (at < end) {
            const char* lineEnd = static_cast<const char*>(std::memchr(at, '\n', static_cast<std::size_t>(end - at)));
            const std::size_t piece = static_cast<std::size_t>((lineEnd != nullptr ? lineEnd : end) - at);
            lineLength += piece;
            if (!overlong && piece <= kMaxInputLineLength + 1 - line.size()) {
                line.append(at, piece);
            } else if (!overlong) {
                overlong = true;
                line.clear();
                reportOverlongLine(report, lineNumber);
            }
            if (lineLength > kMaxUnendedLine)
                throw StartupFailure("Could not read input file: line " + std::to_string(lineNumber)
                    + " has no line end within " + std::to_string(kMaxUnendedLine) + " characters");
            if (lineEnd == nullptr)
                break;
            if (!overlong)
                loadLine(region, line, lineNumber, now, report);
            line.clear();
            overlong = false;
            lineLength = 0;
            ++lineNumber;
            at = lineEnd + 1;
        }
    }
    // A last line without a line end counts like any other.
    if (!line.empty())
        loadLine(region, line, lineNumber, now, report);
}

}  // namespace bv
