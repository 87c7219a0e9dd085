#pragma once

#include <cstdint>

namespace bv {

namespace platform {

// Calendar time in whole seconds since 1970, kept in 64 bits.
using CalendarTime = std::int64_t;

// The calendar clock and the pause, replaceable so tests can drive time.
class Clock {
public:
    virtual ~Clock() = default;
    virtual CalendarTime now() = 0;
    virtual void sleepMilliseconds(std::int64_t milliseconds) = 0;
};

// The real clock of the system.
Clock& systemClock();

}  // namespace platform

}  // namespace bv
