#pragma once

#include <string>

namespace bv {

// The calling thread's last system error, as the failing call left it.
namespace platform {

int lastSystemError();

// Puts a saved code back, so that clean-up calls made after a failure do not
// hide the failure from whoever asks next.
void setLastSystemError(int code);

// Records "invalid argument" for a request refused before reaching the system.
void setInvalidArgumentError();

// The system's message text for a code.
std::string systemErrorText(int code);

}  // namespace platform

}  // namespace bv
