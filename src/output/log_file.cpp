#include "output/log_file.h"

#include "platform/files.h"

#include <cstdio>

namespace bv {

namespace {

TextWrite textWriteOf(const platform::ErrorOr<void>& written)
{
    if (!written.is_error())
        return TextWrite::Written;
    return written.error().is(platform::ErrorKind::CouldNotOpen) ? TextWrite::NotOpened : TextWrite::Failed;
}

}  // namespace

TextWrite writeTextFile(const std::string& text, const std::string& name, bool append)
{
    return textWriteOf(platform::writeWholeFile(name, text + "\r\n", append));
}

TextWrite replaceTextFile(const std::string& text, const std::string& name)
{
    return textWriteOf(platform::replaceFileContent(name, text + "\r\n"));
}

std::int64_t fileSizeOf(const std::string& name)
{
    const auto size = platform::fileSize(name);
    return size.is_error() ? -1 : size.value();
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
