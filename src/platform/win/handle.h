#pragma once

#include <utility>
#include <windows.h>

namespace bv {

namespace platform::detail {

// A kernel handle closed when its owner goes. INVALID_HANDLE_VALUE and null
// both mean none, since the system's calls use either.
class Handle {
public:
    Handle() = default;
    explicit Handle(HANDLE handle) : handle_(handle) {}
    ~Handle() { reset(); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    Handle(Handle&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
    Handle& operator=(Handle&& other) noexcept
    {
        if (this != &other) {
            reset();
            handle_ = std::exchange(other.handle_, nullptr);
        }
        return *this;
    }

    HANDLE get() const { return handle_; }
    bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }

    void reset()
    {
        if (valid()) {
            // Closing must not hide the error of the call that came before.
            const DWORD saved = ::GetLastError();
            ::CloseHandle(handle_);
            ::SetLastError(saved);
        }
        handle_ = nullptr;
    }

private:
    HANDLE handle_ = nullptr;
};

}  // namespace platform::detail

}  // namespace bv
