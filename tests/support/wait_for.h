#pragma once

#include <chrono>
#include <functional>

namespace bv {

// Polls `condition` until it holds or `limit` has passed; true when it held.
bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit);

}  // namespace bv
