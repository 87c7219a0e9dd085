#pragma once

#include "platform/lock_objects.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace bv {

// The object, or null when it could not be had.
template<typename T>
std::unique_ptr<T> made(platform::ErrorOr<std::unique_ptr<T>> result)
{
    return result.is_error() ? nullptr : result.release_value();
}

// Removes the named objects a test made, however the test ends.
class NamedObjects {
public:
    explicit NamedObjects(std::vector<std::string> names) : names_(std::move(names))
    {
        for (const auto& name : names_)
            platform::removeNamedObject(name);
    }
    ~NamedObjects()
    {
        for (const auto& name : names_)
            platform::removeNamedObject(name);
    }
    NamedObjects(const NamedObjects&) = delete;
    NamedObjects& operator=(const NamedObjects&) = delete;
    const std::string& operator[](std::size_t index) const { return names_[index]; }

private:
    std::vector<std::string> names_;
};

// Takes every count the semaphore gives without waiting, at most 100.
inline int takeAll(platform::Semaphore& semaphore)
{
    int taken = 0;
    while (taken < 100 && semaphore.tryWait() == platform::WaitResult::Signalled)
        ++taken;
    return taken;
}

}  // namespace bv
