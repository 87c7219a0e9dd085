#include "platform/process.h"

#include <cstdlib>
#include <windows.h>

namespace bv {

namespace platform {

std::uint32_t currentProcessId()
{
    return static_cast<std::uint32_t>(::GetCurrentProcessId());
}

void exitImmediately(int code)
{
    std::_Exit(code);
}

}  // namespace platform

}  // namespace bv
