#include "platform/system_clock.h"

#include <chrono>
#include <ctime>

namespace bv::platform {

CalendarTime SystemClockBase::now()
{
    return static_cast<CalendarTime>(std::time(nullptr));
}

std::int64_t SystemClockBase::monotonicMilliseconds()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::int64_t SystemClockBase::monotonicMicroseconds()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool SystemClockBase::pauseMilliseconds(std::int64_t milliseconds, Wakeup& wakeup)
{
    return wakeup.waitMilliseconds(milliseconds);
}

}  // namespace bv::platform
