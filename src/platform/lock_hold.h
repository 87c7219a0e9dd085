#pragma once

#include "platform/diagnostics.h"
#include "platform/lock_objects.h"

#include <optional>
#include <string_view>
#include <utility>

namespace bv::platform {

// One count of a semaphore or the ownership of a mutex, taken by a wait
// without time limit and given back when the hold ends. A failed give-back
// is written to the error stream with the note the hold was made with.
template <typename Lock>
class Hold {
public:
    Hold(Lock& lock, std::string_view releaseNote)
        : lock_(&lock)
        , note_(releaseNote)
        , result_(lock.wait())
    {
        if (result_ != WaitResult::Signalled)
            lock_ = nullptr;
    }
    // A count or the ownership if one is free now; nothing otherwise.
    static std::optional<Hold> tryTake(Lock& lock, std::string_view releaseNote)
    {
        const std::optional<WaitResult> result = lock.tryWait();
        if (!result)
            return std::nullopt;
        return std::optional<Hold>(std::in_place, lock, releaseNote, *result);
    }
    // For one already taken (or not) by the caller's own wait.
    Hold(Lock& lock, std::string_view releaseNote, WaitResult result)
        : lock_(result == WaitResult::Signalled ? &lock : nullptr)
        , note_(releaseNote)
        , result_(result)
    {
    }
    ~Hold() { release(); }
    Hold(Hold&& other) noexcept
        : lock_(std::exchange(other.lock_, nullptr))
        , note_(other.note_)
        , result_(other.result_)
    {
    }
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;
    Hold& operator=(Hold&&) = delete;

    bool held() const { return lock_ != nullptr; }
    explicit operator bool() const { return held(); }
    WaitResult result() const { return result_; }

    // Gives back now; the note, when given, replaces the hold's own.
    void release(std::string_view note = {})
    {
        if (lock_ && !lock_->release())
            errorLine(note.empty() ? note_ : note);
        lock_ = nullptr;
    }
    // The count or ownership stays taken, to be given back by someone else
    // (a request in flight keeps its count until it is answered).
    void keep() { lock_ = nullptr; }

private:
    Lock* lock_;
    std::string_view note_;
    WaitResult result_;
};

using MutexHold = Hold<Mutex>;
using CountHold = Hold<Semaphore>;

}  // namespace bv::platform
