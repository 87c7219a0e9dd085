#pragma once

#include "platform/clock.h"

namespace bv::platform {

// What the system clock is on every system; each backend adds its sleep.
class SystemClockBase : public Clock {
public:
    CalendarTime now() override;
    std::int64_t monotonicMilliseconds() override;
    std::int64_t monotonicMicroseconds() override;
    bool pauseMilliseconds(std::int64_t milliseconds, Wakeup& wakeup) override;
};

}  // namespace bv::platform
