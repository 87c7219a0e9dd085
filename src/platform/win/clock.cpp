#include "platform/clock.h"

#include <chrono>
#include <ctime>
#include <windows.h>

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
        // Sleep takes 32 bits and reserves INFINITE; longer pauses go in parts.
        while (milliseconds > 0) {
            const DWORD part = milliseconds > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<DWORD>(milliseconds);
            ::Sleep(part);
            milliseconds -= part;
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
