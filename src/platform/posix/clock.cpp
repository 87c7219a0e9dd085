#include "platform/clock.h"

#include <chrono>
#include <ctime>
#include <time.h>

namespace bv {

namespace platform {
namespace {

class SystemClock final : public Clock {
public:
    CalendarTime now() override { return static_cast<CalendarTime>(std::time(nullptr)); }

    std::int64_t monotonicMilliseconds() override
    {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }

    bool pauseMilliseconds(std::int64_t milliseconds, Wakeup& wakeup) override
    {
        return wakeup.waitMilliseconds(milliseconds);
    }

    void sleepMilliseconds(std::int64_t milliseconds) override
    {
        if (milliseconds <= 0)
            return;
        timespec rest { static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L };
        while (nanosleep(&rest, &rest) != 0) {
        }
    }
};

}  // namespace

Clock& systemClock()
{
    static SystemClock clock;
    return clock;
}

}  // namespace platform

}  // namespace bv
