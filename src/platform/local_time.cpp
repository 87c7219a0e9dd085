#include "platform/local_time.h"

namespace bv {

namespace platform {

LocalTime localTimeOf(CalendarTime time)
{
    LocalTime result;
    std::tm broken {};
    if (!detail::brokenDownLocalTime(time, broken))
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

}  // namespace bv
