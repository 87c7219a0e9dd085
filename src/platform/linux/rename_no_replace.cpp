#include "platform/files.h"

#include <cstdio>
#include <fcntl.h>

namespace bv {

namespace platform {

ErrorOr<void> renameFileNoReplace(const std::string& from, const std::string& to)
{
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) != 0)
        return Error::fromLastSystemError("rename");
    return {};
}

}  // namespace platform

}  // namespace bv
