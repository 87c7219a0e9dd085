#include "core/round_trip_histogram.h"

#include <algorithm>

namespace bv {

void RoundTripHistogram::record(std::int64_t microseconds)
{
    microseconds = std::max<std::int64_t>(microseconds, 0);
    int index = 0;
    while (index < kBounds && microseconds > bound(index))
        ++index;
    ++buckets_[static_cast<std::size_t>(index)];
    ++count_;
    sum_ += microseconds;
}

}  // namespace bv
