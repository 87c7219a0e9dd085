#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace bv::platform {

// A pause that an event can cut short: raised once, it stays raised until
// reset, and every wait returns at once meanwhile.
class Wakeup {
public:
    void raise();
    void reset();
    bool raised() const;
    // True when raised before the time ran out.
    bool waitMilliseconds(std::int64_t milliseconds);

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool raised_ = false;
};

}  // namespace bv::platform
