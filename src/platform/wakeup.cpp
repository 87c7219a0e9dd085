#include "platform/wakeup.h"

#include <chrono>

namespace bv::platform {

void Wakeup::raise()
{
    {
        std::lock_guard lock(mutex_);
        raised_ = true;
    }
    changed_.notify_all();
}

void Wakeup::reset()
{
    std::lock_guard lock(mutex_);
    raised_ = false;
}

bool Wakeup::raised() const
{
    std::lock_guard lock(mutex_);
    return raised_;
}

bool Wakeup::waitMilliseconds(std::int64_t milliseconds)
{
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(milliseconds > 0 ? milliseconds : 0),
        [this] { return raised_; });
}

}  // namespace bv::platform
