#pragma once

#include <cstdint>

namespace bv {

namespace platform {

std::uint32_t currentProcessId();

// Ends the process at once: no destructors, no exit-time handlers.
[[noreturn]] void exitImmediately(int code);

}  // namespace platform

}  // namespace bv
