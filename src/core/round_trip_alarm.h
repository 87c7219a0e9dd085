#pragma once

#include "core/address.h"
#include "core/round_trips.h"

#include <cstdint>
#include <string>

namespace bv {

// The -slow and -loss alarms of one host, decided from its window's
// figures alone. An alarm is raised when its figure is above its threshold
// while at least half the window's requests are decided (so that the
// first spike of a run cannot raise it), and ends only once the figure has
// stayed below 80 % of the threshold for a whole window of newly decided
// requests. It never touches the host's status.
class RoundTripAlarm {
public:
    enum class Turn { None, Raised, Ended };
    struct Turns {
        Turn slow = Turn::None;
        Turn loss = Turn::None;
        bool any() const { return slow != Turn::None || loss != Turn::None; }
    };

    // A zero threshold leaves that alarm off.
    RoundTripAlarm(std::int32_t slowMilliseconds, std::int32_t lossPercent, std::int32_t windowSize);

    bool enabled() const { return slowMilliseconds_ > 0 || lossPercent_ > 0; }
    std::int32_t slowMilliseconds() const { return slowMilliseconds_; }
    std::int32_t lossPercent() const { return lossPercent_; }

    // Updates the host's alarm state with its figures now.
    Turns evaluate(RoundTripAlarms& state, const RoundTripFigures& figures) const;

private:
    std::int32_t slowMilliseconds_;
    std::int32_t lossPercent_;
    std::int32_t windowSize_;
};

// A whole number of thousandths with at most three decimals, trailing
// zeros trimmed: 250000 "250", 412 "0.412", 1500 "1.5".
std::string thousandthsText(std::int64_t thousandths);
// Microseconds as milliseconds in that form.
inline std::string millisecondsText(std::int64_t microseconds) { return thousandthsText(microseconds); }
// The window's loss in percent in that form (rounded to a thousandth).
std::string lossPercentText(const RoundTripFigures& figures);

}  // namespace bv
