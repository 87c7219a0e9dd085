#include "platform/diagnostics.h"

#include <cstdio>
#include <string>

namespace bv {

namespace platform {
namespace {

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
    static const bool wanted = detail::standardOutputGoesSomewhere();
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

}  // namespace bv
