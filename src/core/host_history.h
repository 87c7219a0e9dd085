#pragma once

#include <array>
#include <cstdint>
#include <optional>

namespace bv {

// What the status page shows of one host's past, kept small for ten
// thousand hosts (about 1.8 KB each): the fate of its latest requests, its
// round trips of the last hour by the minute, and how long it was down in
// each ten minutes of the last day. Times are calendar seconds. Guarded by
// the run's vector mutex.
class HostHistory {
public:
    static constexpr std::size_t kStripLength = 60;
    static constexpr std::size_t kChartMinutes = 60;
    static constexpr std::int64_t kSlotSeconds = 600;
    static constexpr std::size_t kSlots = 24 * 3600 / kSlotSeconds;

    // One request of the strip: answered with its round trip, or not.
    struct Outcome {
        std::uint32_t at = 0;         // when its fate was known
        std::int32_t roundTrip = -1;  // microseconds; -1 when it was not answered
        bool answered() const { return roundTrip >= 0; }
    };

    // A minute of the chart that had replies.
    struct Minute {
        std::int64_t start = 0;  // a multiple of 60
        std::uint32_t replies = 0;
        std::int64_t mean = 0;     // microseconds
        std::int64_t maximum = 0;  // microseconds
    };

    explicit HostHistory(std::int64_t firstSeen) : firstSeen_(firstSeen) {}

    void answered(std::int64_t now, std::int64_t roundTrip);
    void unanswered(std::int64_t now);

    // Requests whose fate was recorded since the history began: what
    // changes whenever the strip does.
    std::uint32_t recorded() const { return recorded_; }
    // The strip's requests, oldest first; how many there are.
    std::size_t strip(std::array<Outcome, kStripLength>& into) const;
    // The minutes of the hour up to `now` that had replies, oldest first.
    std::size_t chart(std::int64_t now, std::array<Minute, kChartMinutes>& into) const;

    // The sweep's account: the host was down (red) for `milliseconds` up to `now`.
    void down(std::int64_t now, std::int64_t milliseconds);
    // The share of the last `span` seconds (at most a day, counted in whole
    // ten minutes) that the host was not down, of the part the run saw;
    // nothing when it saw none. `seen` gets that part in seconds.
    std::optional<double> uptime(std::int64_t now, std::int64_t span, std::int64_t& seen) const;

private:
    struct MinuteCell {
        std::uint16_t replies = 0;
        std::int32_t maximum = 0;
        std::uint32_t sum = 0;  // microseconds; a minute holds at most a dozen requests
    };

    // Clears the cells of the minutes and slots that passed unwritten.
    void advanceMinutes(std::int64_t minute);
    void advanceSlots(std::int64_t slot);

    std::array<Outcome, kStripLength> strip_ {};
    std::uint32_t stripNext_ = 0;
    std::uint32_t stripHeld_ = 0;
    std::uint32_t recorded_ = 0;
    std::array<MinuteCell, kChartMinutes> minutes_ {};
    std::int64_t lastMinute_ = -1;  // now / 60 of the newest cell
    std::array<std::uint32_t, kSlots> downMilliseconds_ {};
    std::int64_t lastSlot_ = -1;  // now / kSlotSeconds of the newest slot
    std::int64_t firstSeen_ = 0;
};

}  // namespace bv
