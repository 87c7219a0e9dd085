#include "platform/files.h"

#include <cstdio>
#include <fcntl.h>

namespace bv {

namespace platform {

bool renameFileNoReplace(const std::string& from, const std::string& to)
{
    return renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0;
}

}  // namespace platform

}  // namespace bv
