#include "platform/diagnostics.h"

#include <sys/stat.h>
#include <unistd.h>

namespace bv {

namespace platform::detail {

bool standardOutputGoesSomewhere()
{
    struct stat out {};
    if (fstat(STDOUT_FILENO, &out) != 0)
        return false;
    struct stat null {};
    if (stat("/dev/null", &null) == 0 && S_ISCHR(out.st_mode) && out.st_rdev == null.st_rdev)
        return false;
    return true;
}

}  // namespace platform::detail

}  // namespace bv
