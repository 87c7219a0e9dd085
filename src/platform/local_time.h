#pragma once

#include "platform/clock.h"

#include <ctime>

namespace bv {

namespace platform {

// A calendar time broken down in the local time zone.
struct LocalTime {
    int year = 1970;
    int month = 1;    // 1 to 12
    int day = 1;      // 1 to 31
    int hour = 0;
    int minute = 0;
    int second = 0;
    int weekday = 4;  // 0 Sunday to 6 Saturday
};

// Thread-safe; a time the system cannot convert gives the epoch's fields.
LocalTime localTimeOf(CalendarTime time);

namespace detail {
// Each backend: the runtime's thread-safe conversion; false when it fails.
bool brokenDownLocalTime(CalendarTime time, std::tm& broken);
}  // namespace detail

}  // namespace platform

}  // namespace bv
