#include "platform/local_time.h"

#include <time.h>

namespace bv {

namespace platform::detail {

bool brokenDownLocalTime(CalendarTime time, std::tm& broken)
{
    const time_t value = static_cast<time_t>(time);
    return localtime_r(&value, &broken) != nullptr;
}

}  // namespace platform::detail

}  // namespace bv
