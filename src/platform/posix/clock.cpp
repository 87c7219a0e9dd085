#include "platform/system_clock.h"

#include <time.h>

namespace bv {

namespace platform {
namespace {

class SystemClock final : public SystemClockBase {
public:
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
