#include "platform/diagnostics.h"

#include <cstdio>
#include <string>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace platform {
namespace {

bool standardOutputGoesSomewhere()
{
    struct stat out {};
    if (fstat(STDOUT_FILENO, &out) != 0)
        return false;
    struct stat null {};
    if (stat("/dev/null", &null) == 0 && S_ISCHR(out.st_mode) && out.st_rdev == null.st_rdev)
        return false;
    return true;
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
