#pragma once

#include <pthread.h>

namespace bv {

namespace platform::detail {

// Robust mutexes report a holder that ended instead of blocking forever.
bool initialiseRobustMutex(pthread_mutex_t& mutex, bool processShared, bool recursive);

enum class LockOutcome {
    Locked,
    OwnerDied,  // locked, and already made consistent again
    Busy,       // only when not waiting
    Failed,
};

LockOutcome lockRobust(pthread_mutex_t& mutex, bool waitForIt);

}  // namespace platform::detail

}  // namespace bv
