#include "core/decimal_text.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>

namespace bv {

std::string decimalText(std::int64_t value, int decimals)
{
    decimals = std::clamp(decimals, 0, 9);
    std::uint64_t scale = 1;
    for (int digit = 0; digit < decimals; ++digit)
        scale *= 10;
    const bool negative = value < 0;
    const std::uint64_t magnitude = negative ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
    char text[48];
    if (decimals == 0) {
        std::snprintf(text, sizeof text, "%s%" PRIu64, negative ? "-" : "", magnitude);
        return text;
    }
    std::snprintf(text, sizeof text, "%s%" PRIu64 ".%0*" PRIu64, negative ? "-" : "", magnitude / scale, decimals,
        magnitude % scale);
    std::string result = text;
    while (result.back() == '0')
        result.pop_back();
    if (result.back() == '.')
        result.pop_back();
    return result;
}

}  // namespace bv
