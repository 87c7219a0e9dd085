#include "platform/local_time.h"

#include <ctime>
#include <time.h>

namespace platform {

LocalTime localTimeOf(CalendarTime time)
{
    LocalTime result;
    const time_t value = static_cast<time_t>(time);
    tm broken {};
    if (localtime_r(&value, &broken) == nullptr)
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
