#pragma once

#include "platform/error_or.h"

namespace bv {

namespace platform {

// System error codes are errno values on Linux. This one has no errno
// counterpart: a datagram that did not fit the caller's buffer. It keeps
// the value the Windows sockets layer uses for the same case.
inline constexpr int kErrorMessageTooLong = 10040;

inline Error messageTooLongError()
{
    return Error(kErrorMessageTooLong, "receive", ErrorKind::MessageTooLong);
}

}  // namespace platform

}  // namespace bv
