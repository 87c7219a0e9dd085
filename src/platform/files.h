#pragma once

#include <cstdint>
#include <string>

namespace bv {

namespace platform {

// Characters that end a directory part in a file name here.
extern const char* const kDirectorySeparators;

// Size in bytes of an existing file, opened for reading and closed again;
// -1 when it cannot be opened or its size read.
std::int64_t fileSize(const std::string& name);

// Renames; fails when the new name exists already.
bool renameFileNoReplace(const std::string& from, const std::string& to);

enum class WriteOutcome { Written, NotOpened, Failed };

// Writes the bytes to the file, appended or replacing what it held. A write
// that fails part-way puts an appended file back to its old length, so a
// retry never leaves half a batch behind.
WriteOutcome writeWholeFile(const std::string& name, const std::string& bytes, bool append, int& errorCode);

}  // namespace platform

}  // namespace bv
