#include "platform/linux/robust_lock.h"

#include <cerrno>

namespace bv {

namespace platform::detail {

bool initialiseRobustMutex(pthread_mutex_t& mutex, bool processShared, bool recursive)
{
    pthread_mutexattr_t attributes;
    if (pthread_mutexattr_init(&attributes) != 0)
        return false;
    bool ok = pthread_mutexattr_setrobust(&attributes, PTHREAD_MUTEX_ROBUST) == 0
        && pthread_mutexattr_setpshared(&attributes, processShared ? PTHREAD_PROCESS_SHARED : PTHREAD_PROCESS_PRIVATE) == 0
        && pthread_mutexattr_settype(&attributes, recursive ? PTHREAD_MUTEX_RECURSIVE : PTHREAD_MUTEX_NORMAL) == 0
        && pthread_mutex_init(&mutex, &attributes) == 0;
    pthread_mutexattr_destroy(&attributes);
    return ok;
}

LockOutcome lockRobust(pthread_mutex_t& mutex, bool waitForIt)
{
    const int result = waitForIt ? pthread_mutex_lock(&mutex) : pthread_mutex_trylock(&mutex);
    switch (result) {
    case 0:
        return LockOutcome::Locked;
    case EBUSY:
        return LockOutcome::Busy;
    case EOWNERDEAD:
        if (pthread_mutex_consistent(&mutex) != 0) {
            pthread_mutex_unlock(&mutex);
            return LockOutcome::Failed;
        }
        return LockOutcome::OwnerDied;
    default:
        return LockOutcome::Failed;
    }
}

}  // namespace platform::detail

}  // namespace bv
