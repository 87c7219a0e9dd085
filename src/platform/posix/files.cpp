#include "platform/files.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace bv {

namespace platform {

const char* const kDirectorySeparators = "/";

std::int64_t fileSize(const std::string& name)
{
    const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct stat status {};
    const bool known = fstat(fd, &status) == 0;
    ::close(fd);
    return known ? static_cast<std::int64_t>(status.st_size) : -1;
}

InputFile::~InputFile()
{
    if (handle_ >= 0)
        ::close(static_cast<int>(handle_));
}

bool InputFile::open(const std::string& name)
{
    if (handle_ >= 0)
        return false;
    const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat status {};
    if (fstat(fd, &status) == 0 && S_ISDIR(status.st_mode)) {
        ::close(fd);
        errno = EISDIR;
        return false;
    }
    handle_ = fd;
    return true;
}

long InputFile::read(char* buffer, std::size_t size)
{
    if (handle_ < 0)
        return -1;
    while (true) {
        const ssize_t got = ::read(static_cast<int>(handle_), buffer, size);
        if (got < 0 && errno == EINTR)
            continue;
        return static_cast<long>(got);
    }
}

WriteOutcome writeWholeFile(const std::string& name, const std::string& bytes, bool append, int& errorCode)
{
    // A replaced file is written over and then cut to its new length, not
    // emptied first: on ext4, emptying a file and writing it again forces
    // its blocks to disk at close, and the down file is replaced ten times a
    // second.
    const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (append ? O_APPEND : 0);
    const int fd = ::open(name.c_str(), flags, 0644);
    if (fd < 0) {
        errorCode = errno;
        return WriteOutcome::NotOpened;
    }
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
            failed = true;
            break;
        }
        done += static_cast<std::size_t>(written);
    }
    // The log must survive a crash; the down file is rewritten ten times a second.
    if (!failed && append && fsync(fd) != 0 && errno != EINVAL) {
        errorCode = errno;
        failed = true;
    }
    if (failed && append && oldLength >= 0)
        (void)!ftruncate(fd, oldLength);
    // Devices and pipes have no length to cut (EINVAL); after a failed
    // write the file keeps what of the new text was written.
    if (!append && ftruncate(fd, static_cast<off_t>(done)) != 0 && errno != EINVAL && !failed) {
        errorCode = errno;
        failed = true;
    }
    if (::close(fd) != 0 && !failed) {
        errorCode = errno;
        failed = true;
    }
    return failed ? WriteOutcome::Failed : WriteOutcome::Written;
}

}  // namespace platform

}  // namespace bv
