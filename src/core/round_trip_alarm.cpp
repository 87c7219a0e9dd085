#include "core/round_trip_alarm.h"

#include "core/decimal_text.h"

#include <algorithm>

namespace bv {

RoundTripAlarm::RoundTripAlarm(std::int32_t slowMilliseconds, std::int32_t lossPercent, std::int32_t windowSize)
    : slowMilliseconds_(std::max(slowMilliseconds, 0))
    , lossPercent_(std::max(lossPercent, 0))
    , windowSize_(std::max(windowSize, 1))
{
}

namespace {

struct Reading {
    bool known;  // false: nothing to judge the figure by
    bool above;  // above the threshold
    bool calm;   // below 80 % of it
};

RoundTripAlarm::Turn step(bool& on, std::int32_t& calmRequests, const Reading& reading, bool enoughToRaise,
    std::uint64_t newlyDecided, std::int32_t windowSize)
{
    if (!on) {
        if (reading.known && reading.above && enoughToRaise) {
            on = true;
            calmRequests = 0;
            return RoundTripAlarm::Turn::Raised;
        }
        return RoundTripAlarm::Turn::None;
    }
    if (!reading.known)
        return RoundTripAlarm::Turn::None;
    if (!reading.calm) {
        calmRequests = 0;
        return RoundTripAlarm::Turn::None;
    }
    calmRequests = static_cast<std::int32_t>(
        std::min<std::uint64_t>(static_cast<std::uint64_t>(calmRequests) + newlyDecided, windowSize));
    if (calmRequests < windowSize)
        return RoundTripAlarm::Turn::None;
    on = false;
    calmRequests = 0;
    return RoundTripAlarm::Turn::Ended;
}

}  // namespace

RoundTripAlarm::Turns RoundTripAlarm::evaluate(RoundTripAlarms& state, const RoundTripFigures& figures) const
{
    const std::uint64_t newlyDecided
        = figures.decidedEver > state.decidedSeen ? figures.decidedEver - state.decidedSeen : 0;
    state.decidedSeen = figures.decidedEver;
    const std::int32_t half = (windowSize_ + 1) / 2;

    Turns turns;
    if (slowMilliseconds_ > 0) {
        const std::int64_t threshold = std::int64_t(slowMilliseconds_) * 1000;
        const Reading reading { figures.hasReplies(), figures.median > threshold, figures.median * 5 < threshold * 4 };
        turns.slow = step(state.slow, state.slowCalmRequests, reading, figures.replies >= half, newlyDecided,
            windowSize_);
    }
    if (lossPercent_ > 0) {
        // lost / requests against percent / 100, in whole numbers.
        const std::int64_t lost = std::int64_t(figures.lost) * 100;
        const std::int64_t limit = std::int64_t(lossPercent_) * figures.requests;
        const Reading reading { figures.requests > 0, lost > limit, lost * 5 < limit * 4 };
        turns.loss = step(state.loss, state.lossCalmRequests, reading, figures.requests >= half, newlyDecided,
            windowSize_);
    }
    return turns;
}

std::string thousandthsText(std::int64_t thousandths)
{
    return decimalText(thousandths, 3);
}

std::string lossPercentText(const RoundTripFigures& figures)
{
    if (figures.requests <= 0)
        return "0";
    const std::int64_t scaled = std::int64_t(figures.lost) * 100000;
    return thousandthsText((scaled + figures.requests / 2) / figures.requests);
}

}  // namespace bv
