#include "platform/local_time.h"

#include <ctime>

namespace platform {

LocalTime localTimeOf(CalendarTime time)
{
    LocalTime result;
    const std::time_t value = static_cast<std::time_t>(time);
    std::tm broken {};
    // The Microsoft runtime's thread-safe form.
    if (localtime_s(&broken, &value) != 0)
        return result;
    result.year = broken.tm_year + 1900;
    result.month = broken.tm_mon + 1;
    result.day = broken.tm_mday;
    result.hour = broken.tm_hour;
    result.minute = broken.tm_min;
    result.second = broken.tm_sec;
    result.weekday = broken.tm_wday;
    return result;
}

}  // namespace platform
