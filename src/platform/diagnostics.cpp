#include "platform/diagnostics.h"

#include <atomic>
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

// The trace stream is the process's standard output: one switch for it.
std::atomic<bool> traceOn { true };

}  // namespace

bool traceWanted()
{
    static const bool goesSomewhere = detail::standardOutputGoesSomewhere();
    return goesSomewhere && traceOn.load(std::memory_order_relaxed);
}

void setTraceEnabled(bool enabled)
{
    traceOn.store(enabled, std::memory_order_relaxed);
}

bool traceEnabled()
{
    return traceOn.load(std::memory_order_relaxed);
}

void outputLine(std::string_view line)
{
    writeLine(stdout, line);
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
