#include "platform/local_time.h"

namespace bv {

namespace platform::detail {

bool brokenDownLocalTime(CalendarTime time, std::tm& broken)
{
    const std::time_t value = static_cast<std::time_t>(time);
    // The Microsoft runtime's thread-safe form.
    return localtime_s(&broken, &value) == 0;
}

}  // namespace platform::detail

}  // namespace bv
