#pragma once

#include "platform/clock.h"

#include <functional>
#include <cstdint>
#include <mutex>
#include <vector>

namespace bv {

// A clock that stands still until a test moves it. A pause moves it by the
// pause's length (the calendar clock in whole seconds, as it sees it) and is
// recorded; a test can hold pauses until it releases them. Setting the
// calendar time leaves the monotonic clock where it is.
class FakeClock final : public platform::Clock {
public:
    explicit FakeClock(platform::CalendarTime start = 1108980907) : seconds_(start) {}

    platform::CalendarTime now() override;
    std::int64_t monotonicMilliseconds() override;
    void sleepMilliseconds(std::int64_t milliseconds) override;

    void advance(std::int64_t seconds);
    void set(platform::CalendarTime seconds);
    std::vector<std::int64_t> pauses();

    // When set, every pause first runs this hook (without the clock's lock).
    void onPause(std::function<void(std::int64_t)> hook);

private:
    std::mutex mutex_;
    platform::CalendarTime seconds_;
    std::int64_t monotonic_ = 1000000;
    std::int64_t leftoverMilliseconds_ = 0;
    std::vector<std::int64_t> pauses_;
    std::function<void(std::int64_t)> hook_;
};

}  // namespace bv
