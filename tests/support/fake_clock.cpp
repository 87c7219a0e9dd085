#include "support/fake_clock.h"

namespace bv {

platform::CalendarTime FakeClock::now()
{
    std::lock_guard lock(mutex_);
    return seconds_;
}

std::int64_t FakeClock::monotonicMilliseconds()
{
    std::lock_guard lock(mutex_);
    return monotonic_;
}

void FakeClock::sleepMilliseconds(std::int64_t milliseconds)
{
    std::function<void(std::int64_t)> hook;
    {
        std::lock_guard lock(mutex_);
        pauses_.push_back(milliseconds);
        monotonic_ += milliseconds > 0 ? milliseconds : 0;
        leftoverMilliseconds_ += milliseconds;
        seconds_ += leftoverMilliseconds_ / 1000;
        leftoverMilliseconds_ %= 1000;
        hook = hook_;
    }
    if (hook)
        hook(milliseconds);
}

void FakeClock::advance(std::int64_t seconds)
{
    std::lock_guard lock(mutex_);
    seconds_ += seconds;
    monotonic_ += seconds * 1000;
}

void FakeClock::set(platform::CalendarTime seconds)
{
    std::lock_guard lock(mutex_);
    seconds_ = seconds;
}

std::vector<std::int64_t> FakeClock::pauses()
{
    std::lock_guard lock(mutex_);
    return pauses_;
}

void FakeClock::onPause(std::function<void(std::int64_t)> hook)
{
    std::lock_guard lock(mutex_);
    hook_ = std::move(hook);
}

}  // namespace bv
