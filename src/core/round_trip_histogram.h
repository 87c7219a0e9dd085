#pragma once

#include <array>
#include <cstdint>

namespace bv {

// Every reply's round trip of one host, counted in buckets whose upper
// bounds double from 50 µs to about 26 s; its memory is part of it, so a
// reply costs no allocation.
class RoundTripHistogram {
public:
    static constexpr int kBounds = 20;
    static constexpr std::int64_t kFirstBound = 50;  // microseconds

    // The upper bound of bucket `index` in microseconds.
    static constexpr std::int64_t bound(int index) { return kFirstBound << index; }

    void record(std::int64_t microseconds);

    // Replies in bucket `index` alone (not cumulative); kBounds is the
    // bucket above the last bound.
    std::uint64_t bucket(int index) const { return buckets_[static_cast<std::size_t>(index)]; }
    std::uint64_t count() const { return count_; }
    std::int64_t sumMicroseconds() const { return sum_; }

private:
    // 32 bits a bucket, as there is one per host: a host answering every 5 s
    // fills one in 680 years.
    std::array<std::uint32_t, kBounds + 1> buckets_ {};
    std::uint64_t count_ = 0;
    std::int64_t sum_ = 0;
};

}  // namespace bv
