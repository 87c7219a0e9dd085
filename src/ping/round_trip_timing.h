#pragma once

#include "core/round_trips.h"

#include <cstdint>
#include <optional>

namespace bv {

// One request's round trip, in microseconds, and whether the kernel timed
// both its ends.
struct RoundTrip {
    std::int64_t microseconds = 0;
    bool byKernel = false;
};

// The kernel's figure when it stamped both ends and the figure fits inside
// the program's own times around the system calls (a calendar step between
// the stamps cannot fit); else the program's own, never below 0.
RoundTrip roundTripOf(
    const RoundTripWindow::SendMoment& sent, std::optional<std::int64_t> kernelArrival, std::int64_t receivedAt);

}  // namespace bv
