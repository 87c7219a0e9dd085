#include "platform/files.h"

#include <cerrno>
#include <cstdio>
#include <optional>
#include <string>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace bv {

namespace platform {

const char* const kDirectorySeparators = "/";

ErrorOr<std::int64_t> fileSize(const std::string& name)
{
    const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return Error::fromLastSystemError("open", ErrorKind::CouldNotOpen);
    struct stat status {};
    const bool known = fstat(fd, &status) == 0;
    const int code = errno;
    ::close(fd);
    if (!known)
        return Error(code, "fstat");
    return static_cast<std::int64_t>(status.st_size);
}

InputFile::~InputFile()
{
    if (handle_ >= 0)
        ::close(static_cast<int>(handle_));
}

ErrorOr<void> InputFile::open(const std::string& name)
{
    if (handle_ >= 0)
        return Error(EBUSY, "open", ErrorKind::CouldNotOpen);
    const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return Error::fromLastSystemError("open", ErrorKind::CouldNotOpen);
    struct stat status {};
    if (fstat(fd, &status) == 0 && S_ISDIR(status.st_mode)) {
        ::close(fd);
        return Error(EISDIR, "open", ErrorKind::CouldNotOpen);
    }
    handle_ = fd;
    return {};
}

ErrorOr<std::size_t> InputFile::read(char* buffer, std::size_t size)
{
    if (handle_ < 0)
        return Error(EBADF, "read");
    while (true) {
        const ssize_t got = ::read(static_cast<int>(handle_), buffer, size);
        if (got >= 0)
            return static_cast<std::size_t>(got);
        if (errno != EINTR)
            return Error::fromLastSystemError("read");
    }
}

ErrorOr<std::int64_t> InputFile::seekToLast(std::int64_t bytes)
{
    if (handle_ < 0)
        return Error(EBADF, "lseek");
    const int fd = static_cast<int>(handle_);
    const off_t end = ::lseek(fd, 0, SEEK_END);
    if (end < 0)
        return Error::fromLastSystemError("lseek");
    const off_t at = end > bytes ? end - static_cast<off_t>(bytes) : 0;
    if (::lseek(fd, at, SEEK_SET) < 0)
        return Error::fromLastSystemError("lseek");
    return static_cast<std::int64_t>(at);
}

ErrorOr<void> writeWholeFile(const std::string& name, const std::string& bytes, bool append)
{
    // A replaced file is written over and then cut to its new length, not
    // emptied first: on ext4, emptying a file and writing it again forces
    // its blocks to disk at close, and the down file is replaced ten times a
    // second.
    const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (append ? O_APPEND : 0);
    const int fd = ::open(name.c_str(), flags, 0644);
    if (fd < 0)
        return Error::fromLastSystemError("open", ErrorKind::CouldNotOpen);
    int errorCode = 0;
    const char* step = nullptr;
    struct stat before {};
    const off_t oldLength = fstat(fd, &before) == 0 ? before.st_size : -1;
    std::size_t done = 0;
    bool failed = false;
    while (done < bytes.size()) {
        const ssize_t written = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            errorCode = written < 0 ? errno : ENOSPC;
            step = "write";
            failed = true;
            break;
        }
        done += static_cast<std::size_t>(written);
    }
    // The log must survive a crash; the down file is rewritten ten times a second.
    if (!failed && append && fsync(fd) != 0 && errno != EINVAL) {
        errorCode = errno;
        step = "fsync";
        failed = true;
    }
    if (failed && append && oldLength >= 0)
        (void)!ftruncate(fd, oldLength);
    // Devices and pipes have no length to cut (EINVAL); after a failed
    // write the file keeps what of the new text was written.
    if (!append && ftruncate(fd, static_cast<off_t>(done)) != 0 && errno != EINVAL && !failed) {
        errorCode = errno;
        step = "ftruncate";
        failed = true;
    }
    if (::close(fd) != 0 && !failed) {
        errorCode = errno;
        step = "close";
        failed = true;
    }
    if (failed)
        return Error(errorCode, step);
    return {};
}

ErrorOr<void> replaceFileContent(const std::string& name, const std::string& bytes)
{
    // A device, a pipe or a link is written through, never renamed over:
    // "-red /dev/null" must not replace the device with a file.
    struct stat existing {};
    if (::lstat(name.c_str(), &existing) == 0 && !S_ISREG(existing.st_mode))
        return writeWholeFile(name, bytes, false);
    // Beside the file, so the rename stays within one file system and is atomic.
    const std::string temporary = name + ".tmp." + std::to_string(getpid());
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return Error::fromLastSystemError("open", ErrorKind::CouldNotOpen);
    std::optional<Error> failed;
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t written = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            failed = Error(written < 0 ? errno : ENOSPC, "write");
            break;
        }
        done += static_cast<std::size_t>(written);
    }
    // No fsync: the bytes need only reach the system for readers to see
    // them, and the down file is replaced ten times a second.
    if (::close(fd) != 0 && !failed)
        failed = Error::fromLastSystemError("close");
    if (!failed && std::rename(temporary.c_str(), name.c_str()) != 0)
        failed = Error::fromLastSystemError("rename");
    if (failed) {
        (void)::unlink(temporary.c_str());
        return *failed;
    }
    return {};
}

}  // namespace platform

}  // namespace bv
