#include "core/host_history.h"

#include <algorithm>
#include <climits>

namespace bv {

namespace {

std::int64_t floorDivide(std::int64_t value, std::int64_t by)
{
    return value >= 0 ? value / by : -((-value + by - 1) / by);
}

std::size_t ringIndex(std::int64_t position, std::size_t size)
{
    const auto length = static_cast<std::int64_t>(size);
    return static_cast<std::size_t>(((position % length) + length) % length);
}

}  // namespace

void HostHistory::answered(std::int64_t now, std::int64_t roundTrip)
{
    const auto clamped = static_cast<std::int32_t>(std::clamp<std::int64_t>(roundTrip, 0, INT32_MAX));
    strip_[stripNext_] = Outcome { static_cast<std::uint32_t>(std::max<std::int64_t>(now, 0)), clamped };
    stripNext_ = (stripNext_ + 1) % kStripLength;
    stripHeld_ = std::min<std::uint32_t>(stripHeld_ + 1, kStripLength);
    ++recorded_;

    const std::int64_t minute = floorDivide(now, 60);
    advanceMinutes(minute);
    // A clock set back writes into the newest minute rather than the past.
    MinuteCell& cell = minutes_[ringIndex(std::max(minute, lastMinute_), kChartMinutes)];
    cell.replies = static_cast<std::uint16_t>(std::min<int>(cell.replies + 1, UINT16_MAX));
    cell.maximum = std::max(cell.maximum, clamped);
    cell.sum = static_cast<std::uint32_t>(std::min<std::int64_t>(std::int64_t(cell.sum) + clamped, UINT32_MAX));
}

void HostHistory::unanswered(std::int64_t now)
{
    strip_[stripNext_] = Outcome { static_cast<std::uint32_t>(std::max<std::int64_t>(now, 0)), -1 };
    stripNext_ = (stripNext_ + 1) % kStripLength;
    stripHeld_ = std::min<std::uint32_t>(stripHeld_ + 1, kStripLength);
    ++recorded_;
}

std::size_t HostHistory::strip(std::array<Outcome, kStripLength>& into) const
{
    for (std::uint32_t back = stripHeld_, at = 0; back >= 1; --back, ++at)
        into[at] = strip_[(stripNext_ + kStripLength - back) % kStripLength];
    return stripHeld_;
}

void HostHistory::advanceMinutes(std::int64_t minute)
{
    if (lastMinute_ >= 0 && minute <= lastMinute_)
        return;
    // The minutes since the newest one written reuse cells of an hour ago.
    const std::int64_t passed = lastMinute_ < 0 ? 0 : std::min<std::int64_t>(minute - lastMinute_, kChartMinutes);
    for (std::int64_t step = 1; step <= passed; ++step)
        minutes_[ringIndex(lastMinute_ + step, kChartMinutes)] = MinuteCell {};
    lastMinute_ = minute;
}

std::size_t HostHistory::chart(std::int64_t now, std::array<Minute, kChartMinutes>& into) const
{
    const std::int64_t minute = floorDivide(now, 60);
    std::size_t count = 0;
    for (std::int64_t each = minute - std::int64_t(kChartMinutes) + 1; each <= minute; ++each) {
        // Cells older than an hour before the newest one were cleared, or
        // belong to minutes this host never wrote.
        if (lastMinute_ < 0 || each > lastMinute_ || each <= lastMinute_ - std::int64_t(kChartMinutes))
            continue;
        const MinuteCell& cell = minutes_[ringIndex(each, kChartMinutes)];
        if (cell.replies == 0)
            continue;
        into[count++] = Minute { each * 60, cell.replies, cell.sum / cell.replies, cell.maximum };
    }
    return count;
}

void HostHistory::advanceSlots(std::int64_t slot)
{
    if (lastSlot_ >= 0 && slot <= lastSlot_)
        return;
    const std::int64_t passed = lastSlot_ < 0 ? 0 : std::min<std::int64_t>(slot - lastSlot_, kSlots);
    for (std::int64_t step = 1; step <= passed; ++step)
        downMilliseconds_[ringIndex(lastSlot_ + step, kSlots)] = 0;
    lastSlot_ = slot;
}

void HostHistory::down(std::int64_t now, std::int64_t milliseconds)
{
    const std::int64_t slot = floorDivide(now, kSlotSeconds);
    advanceSlots(slot);
    std::uint32_t& cell = downMilliseconds_[ringIndex(std::max(slot, lastSlot_), kSlots)];
    cell = static_cast<std::uint32_t>(std::clamp<std::int64_t>(cell + milliseconds, 0, kSlotSeconds * 1000));
}

std::optional<double> HostHistory::uptime(std::int64_t now, std::int64_t span, std::int64_t& seen) const
{
    const std::int64_t slots = std::clamp<std::int64_t>((span + kSlotSeconds - 1) / kSlotSeconds, 1, kSlots);
    const std::int64_t slot = floorDivide(now, kSlotSeconds);
    const std::int64_t from = std::max((slot - slots + 1) * kSlotSeconds, firstSeen_);
    seen = std::max<std::int64_t>(now - from, 0);
    if (seen == 0)
        return std::nullopt;
    std::int64_t down = 0;
    for (std::int64_t each = slot - slots + 1; each <= slot; ++each) {
        if (lastSlot_ >= 0 && each <= lastSlot_ && each > lastSlot_ - std::int64_t(kSlots))
            down += downMilliseconds_[ringIndex(each, kSlots)];
    }
    return 1.0 - std::min<double>(static_cast<double>(down) / 1000.0 / static_cast<double>(seen), 1.0);
}

}  // namespace bv
