#include "output/log_file.h"

#include "platform/files.h"

#include <cstdio>

namespace bv {

TextWrite writeTextFile(const std::string& text, const std::string& name, bool append)
{
    int errorCode = 0;
    switch (platform::writeWholeFile(name, text + "\r\n", append, errorCode)) {
    case platform::WriteOutcome::Written:
        return TextWrite::Written;
    case platform::WriteOutcome::NotOpened:
        return TextWrite::NotOpened;
    default:
        return TextWrite::Failed;
    }
}

std::int64_t fileSizeOf(const std::string& name)
{
    return platform::fileSize(name);
}

std::string archiveName(const std::string& logFile, const platform::LocalTime& time, const char* directorySeparators)
{
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, ".%04d-%02d-%02d.%02d-%02d-%02d", time.year, time.month, time.day, time.hour,
        time.minute, time.second);
    const std::size_t dot = logFile.rfind('.');
    const std::size_t separator = logFile.find_last_of(directorySeparators);
    if (dot != std::string::npos && (separator == std::string::npos || dot > separator))
        return logFile.substr(0, dot) + stamp + logFile.substr(dot);
    return logFile + stamp;
}

}  // namespace bv
