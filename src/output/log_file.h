#pragma once

#include "platform/local_time.h"

#include <cstdint>
#include <string>

namespace bv {

class Network;

// Writes the text and one CR LF to the file. A file that cannot be opened
// shows "Log File Error" and ends the process with exit code 1. False when
// the write failed part-way (nothing of it is left in an appended file).
bool writeTextFile(const std::string& text, const std::string& name, bool append);

std::int64_t fileSizeOf(const std::string& name);

// The log file name with the time stamp put before its extension.
std::string archiveName(const std::string& logFile, const platform::LocalTime& time,
    const char* directorySeparators);

// The log writer's thread: a log batch and the down file every 100 ms.
int logWriterThread(Network& network);

}  // namespace bv
