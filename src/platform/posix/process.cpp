#include "platform/process.h"

#include <unistd.h>

namespace bv {

namespace platform {

std::uint32_t currentProcessId()
{
    return static_cast<std::uint32_t>(getpid());
}

void exitImmediately(int code)
{
    _exit(code);
}

}  // namespace platform

}  // namespace bv
