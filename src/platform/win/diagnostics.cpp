#include "platform/diagnostics.h"

#include <windows.h>

namespace bv {

namespace platform::detail {

// A program of the GUI subsystem has standard handles only when whoever
// started it passed them on.
bool standardOutputGoesSomewhere()
{
    const HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    if (out == nullptr || out == INVALID_HANDLE_VALUE)
        return false;
    return ::GetFileType(out) != FILE_TYPE_UNKNOWN;
}

}  // namespace platform::detail

}  // namespace bv
