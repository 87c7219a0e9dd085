#pragma once

#include "platform/error_or.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace bv {

namespace platform {

// Characters that end a directory part in a file name here.
extern const char* const kDirectorySeparators;

// A file read once from its start to its end: a regular file, a pipe or a
// device. A directory is refused: read as a stream it passes for an empty file.
class InputFile {
public:
    InputFile() = default;
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    ErrorOr<void> open(const std::string& name);
    // Bytes read into `buffer`, at most `size`; 0 at the end.
    ErrorOr<std::size_t> read(char* buffer, std::size_t size);
    // Moves to `bytes` before the end (to the start when the file is
    // shorter); the offset it moved to.
    ErrorOr<std::int64_t> seekToLast(std::int64_t bytes);

private:
    // A descriptor or a handle; -1 is none for both.
    std::intptr_t handle_ = -1;
};

// Size in bytes of an existing file, opened for reading and closed again.
ErrorOr<std::int64_t> fileSize(const std::string& name);

// Renames; fails when the new name exists already, also on file systems
// that refuse the system's no-replace rename (NFS, CIFS, FUSE).
ErrorOr<void> renameFileNoReplace(const std::string& from, const std::string& to);

// Writes the bytes to the file, appended or replacing what it held. A write
// that fails part-way puts an appended file back to its old length, so a
// retry never leaves half a batch behind.
ErrorOr<void> writeWholeFile(const std::string& name, const std::string& bytes, bool append);

// Replaces the file's whole content at once, so a reader sees the old bytes
// or the new ones, never a mix: writes "<name>.tmp.<process id>" and renames
// it over the file. Nothing is left behind on failure; ErrorKind::CouldNotOpen
// when the new file cannot be created.
ErrorOr<void> replaceFileContent(const std::string& name, const std::string& bytes);

}  // namespace platform

}  // namespace bv
