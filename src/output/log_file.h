#pragma once

#include "platform/local_time.h"

#include <cstdint>
#include <string>

namespace bv {

enum class TextWrite {
    Written,
    NotOpened,  // the run shows "Log File Error" and ends
    Failed,     // part-way; nothing of it is left in an appended file
};

// Writes the text and one CR LF to the file, appended or replacing it.
TextWrite writeTextFile(const std::string& text, const std::string& name, bool append);

// The same, replacing the file as a whole: a reader sees the old content or
// the new, never a mix.
TextWrite replaceTextFile(const std::string& text, const std::string& name);

// -1 when the file cannot be opened or its size read.
std::int64_t fileSizeOf(const std::string& name);

// The log file name with the time stamp put before its extension.
std::string archiveName(const std::string& logFile, const platform::LocalTime& time,
    const char* directorySeparators);

}  // namespace bv
