#include "platform/system_clock.h"

#include <windows.h>

namespace bv {

namespace platform {
namespace {

class SystemClock final : public SystemClockBase {
public:
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
