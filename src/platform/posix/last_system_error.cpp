#include "platform/last_system_error.h"

#include <cerrno>
#include <cstring>

namespace bv {

namespace platform {
namespace {

// strerror_r comes in two flavours depending on the feature macros; each
// overload handles one of them.
[[maybe_unused]] std::string textFrom(int result, const char* buffer, int code)
{
    if (result != 0)
        return "Unknown error " + std::to_string(code);
    return buffer;
}

[[maybe_unused]] std::string textFrom(const char* result, const char*, int)
{
    return result;
}

}  // namespace

int lastSystemError()
{
    return errno;
}

void setLastSystemError(int code)
{
    errno = code;
}

void setInvalidArgumentError()
{
    errno = EINVAL;
}

std::string systemErrorText(int code)
{
    char buffer[256] = {};
    return textFrom(strerror_r(code, buffer, sizeof buffer), buffer, code);
}

}  // namespace platform

}  // namespace bv
