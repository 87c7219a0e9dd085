#include "platform/linux/rename_no_replace.h"

#include "platform/files.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <optional>
#include <unistd.h>

namespace bv {

namespace platform {

namespace detail {
namespace {

int systemRenameNoReplace(const char* from, const char* to)
{
    return renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE);
}

int systemLink(const char* from, const char* to)
{
    return ::link(from, to);
}

}  // namespace

RenameCalls systemRenameCalls()
{
    return { &systemRenameNoReplace, &systemLink };
}

RenameCalls renameCalls { &systemRenameNoReplace, &systemLink };

}  // namespace detail

namespace {

// A hard link cannot replace: it fails with EEXIST when `to` exists.
// Unsupported here, nullopt.
std::optional<ErrorOr<void>> renameByLink(const std::string& from, const std::string& to)
{
    if (detail::renameCalls.link(from.c_str(), to.c_str()) != 0) {
        if (errno == EPERM || errno == EOPNOTSUPP || errno == ENOSYS)
            return std::nullopt;
        return ErrorOr<void>(Error::fromLastSystemError("link"));
    }
    if (::unlink(from.c_str()) != 0) {
        const Error failed = Error::fromLastSystemError("unlink");
        (void)::unlink(to.c_str());
        return ErrorOr<void>(failed);
    }
    return ErrorOr<void>();
}

// The name is taken by an exclusive create first, so the rename can only
// replace the empty file made here, never an archive made by anyone else.
ErrorOr<void> renameOverReservation(const std::string& from, const std::string& to)
{
    const int fd = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0)
        return Error::fromLastSystemError("reserve");
    ::close(fd);
    if (std::rename(from.c_str(), to.c_str()) != 0) {
        const Error failed = Error::fromLastSystemError("rename");
        (void)::unlink(to.c_str());
        return failed;
    }
    return {};
}

}  // namespace

ErrorOr<void> renameFileNoReplace(const std::string& from, const std::string& to)
{
    if (detail::renameCalls.renameNoReplace(from.c_str(), to.c_str()) == 0)
        return {};
    // EINVAL: the file system refuses the flag; ENOSYS: the kernel predates it.
    if (errno != EINVAL && errno != ENOSYS)
        return Error::fromLastSystemError("rename");
    if (auto linked = renameByLink(from, to))
        return std::move(*linked);
    return renameOverReservation(from, to);
}

}  // namespace platform

}  // namespace bv
