#pragma once

#include "platform/wakeup.h"

#include <cstdint>

namespace bv {

namespace platform {

// Calendar time in whole seconds since 1970, kept in 64 bits.
using CalendarTime = std::int64_t;

// The calendar clock, a clock that never goes back, and the pause;
// replaceable so tests can drive time.
class Clock {
public:
    virtual ~Clock() = default;
    // For what the program writes: the log, the down file, the summary.
    virtual CalendarTime now() = 0;
    // For the schedule: due times, time-outs and pauses. Setting the
    // calendar clock does not move it.
    virtual std::int64_t monotonicMilliseconds() = 0;
    // The same clock in microseconds, for round trips the kernel did not time.
    virtual std::int64_t monotonicMicroseconds() { return monotonicMilliseconds() * 1000; }
    virtual void sleepMilliseconds(std::int64_t milliseconds) = 0;
    // A pause that the wake-up cuts short; true when it was raised.
    virtual bool pauseMilliseconds(std::int64_t milliseconds, Wakeup& wakeup)
    {
        if (!wakeup.raised())
            sleepMilliseconds(milliseconds);
        return wakeup.raised();
    }
};

// The real clock of the system.
Clock& systemClock();

}  // namespace platform

}  // namespace bv
