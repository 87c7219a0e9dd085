#pragma once

#include "platform/ip_address.h"

#include <stdexcept>
#include <string>

namespace bv::test {

// An address from its text, either family; a test's own typo throws.
inline platform::IpAddress ip(const std::string& text)
{
    const auto parsed = platform::parseHostAddress(text);
    if (parsed.is_error() || !parsed.value())
        throw std::invalid_argument("no address: " + text);
    return *parsed.value();
}

}  // namespace bv::test
