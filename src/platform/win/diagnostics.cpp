#include "platform/diagnostics.h"

#include <cstdio>
#include <string>
#include <windows.h>

namespace platform {
namespace {

// A program of the GUI subsystem has standard handles only when whoever
// started it passed them on.
bool standardOutputGoesSomewhere()
{
    const HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    if (out == nullptr || out == INVALID_HANDLE_VALUE)
        return false;
    return ::GetFileType(out) != FILE_TYPE_UNKNOWN;
}

void writeLine(std::FILE* stream, std::string_view line)
{
    std::string text;
    text.reserve(line.size() + 1);
    text.append(line);
    text.push_back('\n');
    std::fwrite(text.data(), 1, text.size(), stream);
    std::fflush(stream);
}

}  // namespace

bool traceWanted()
{
    static const bool wanted = standardOutputGoesSomewhere();
    return wanted;
}

void traceLine(std::string_view line)
{
    if (traceWanted())
        writeLine(stdout, line);
}

void errorLine(std::string_view line)
{
    writeLine(stderr, line);
}

}  // namespace platform
