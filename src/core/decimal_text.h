#pragma once

#include <cstdint>
#include <string>

namespace bv {

// A whole number of units of 10^-decimals as an exact decimal, trailing
// zeros and a bare point trimmed: (412, 3) "0.412", (250000, 6) "0.25",
// (-1500, 3) "-1.5". `decimals` from 0 to 9.
std::string decimalText(std::int64_t value, int decimals);

}  // namespace bv
