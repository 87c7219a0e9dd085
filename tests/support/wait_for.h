#pragma once

#include <chrono>
#include <functional>

// Polls `condition` until it holds or `limit` has passed; true when it held.
bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit);
