#include "platform/last_system_error.h"

#include <windows.h>

namespace bv {

namespace platform {

int lastSystemError()
{
    return static_cast<int>(::GetLastError());
}

void setLastSystemError(int code)
{
    ::SetLastError(static_cast<DWORD>(code));
}

void setInvalidArgumentError()
{
    ::SetLastError(ERROR_INVALID_PARAMETER);
}

std::string systemErrorText(int code)
{
    char buffer[260] = {};
    const DWORD length = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        static_cast<DWORD>(code), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), buffer, sizeof buffer, nullptr);
    if (length == 0)
        return "Unknown error " + std::to_string(code);
    std::string text(buffer, length);
    // The system's texts end with a line break, which the callers add themselves.
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

}  // namespace platform

}  // namespace bv
