#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace bv {

namespace platform {

// Characters that end a directory part in a file name here.
extern const char* const kDirectorySeparators;

// Size in bytes of an existing file, opened for reading and closed again;
// -1 when it cannot be opened or its size read.
std::int64_t fileSize(const std::string& name);

// A file read once from its start to its end: a regular file, a pipe or a
// device. A directory is refused: read as a stream it passes for an empty file.
class InputFile {
public:
    InputFile() = default;
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    bool open(const std::string& name);
    // Bytes read into `buffer`, at most `size`; 0 at the end, -1 on an error.
    long read(char* buffer, std::size_t size);

private:
    // A descriptor or a handle; -1 is none for both.
    std::intptr_t handle_ = -1;
};

// Renames; fails when the new name exists already.
bool renameFileNoReplace(const std::string& from, const std::string& to);

enum class WriteOutcome { Written, NotOpened, Failed };

// Writes the bytes to the file, appended or replacing what it held. A write
// that fails part-way puts an appended file back to its old length, so a
// retry never leaves half a batch behind.
WriteOutcome writeWholeFile(const std::string& name, const std::string& bytes, bool append, int& errorCode);

}  // namespace platform

}  // namespace bv
