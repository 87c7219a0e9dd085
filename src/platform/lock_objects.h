#pragma once

#include "platform/error_or.h"

#include <memory>
#include <optional>
#include <string>

namespace bv {

// The run's lock objects: counting semaphores and mutexes, private to the
// process or named. A named object is shared by every process of the
// program that runs at the same time under the same user, and by no other
// user. The first process creates it with the counts it gives; later ones
// open it as it is. Once every process that used a named object has ended,
// however it ended, the next one starts with a fresh object.
namespace platform {

enum class WaitResult {
    Signalled,
    Abandoned,  // a mutex whose owner ended holding it; made usable and left free
    Failed,
};

class Semaphore {
public:
    // An Error when the counts are out of range (0 <= initial <= maximum,
    // maximum >= 1) or the object cannot be had.
    static ErrorOr<std::unique_ptr<Semaphore>> createPrivate(int initial, int maximum);
    static ErrorOr<std::unique_ptr<Semaphore>> openNamed(const std::string& name, int initial, int maximum);

    ~Semaphore();
    Semaphore(const Semaphore&) = delete;
    Semaphore& operator=(const Semaphore&) = delete;

    // Takes one count, waiting without time limit.
    WaitResult wait();
    // Takes one count if one is free now; nothing when none is.
    std::optional<WaitResult> tryWait();
    // Gives one count back; past the maximum it fails and changes nothing.
    bool release();

    struct State;

private:
    explicit Semaphore(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};

// Not initially owned. As with the Windows kernel's mutex, the owning thread
// may wait again and then releases as often as it waited. After Abandoned
// the caller does not own the mutex.
class Mutex {
public:
    static ErrorOr<std::unique_ptr<Mutex>> createPrivate();
    static ErrorOr<std::unique_ptr<Mutex>> openNamed(const std::string& name);

    // Give up ownership first: closing a mutex the calling thread still owns
    // releases it; one owned by another thread of this process must not be
    // closed.
    ~Mutex();
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;

    WaitResult wait();
    // Nothing when another thread or process owns it now.
    std::optional<WaitResult> tryWait();
    // Fails for a thread that does not own the mutex.
    bool release();

    struct State;

private:
    explicit Mutex(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};

// Removes the system's record of a named object of this user so the next
// opener creates it anew; handles still open keep working. For tests and
// tools: the program itself never removes its objects.
bool removeNamedObject(const std::string& name);

}  // namespace platform

}  // namespace bv
