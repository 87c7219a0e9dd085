#include "platform/lock_objects.h"

#include "platform/linux/robust_lock.h"
#include "platform/linux/shared_segment.h"

#include <cerrno>
#include <pthread.h>
#include <semaphore.h>

namespace bv {

namespace platform {
namespace {

// The count lives in a POSIX semaphore rather than behind a condition
// variable: a waiter killed inside a process-shared condition variable can
// leave signallers blocked for good, while a killed sem_wait leaves nothing
// behind. The guard only keeps releases from passing the maximum.
struct SemaphoreBlock {
    pthread_mutex_t guard;
    sem_t count;
    int maximum;
};

bool countsAcceptable(int initial, int maximum)
{
    return maximum >= 1 && initial >= 0 && initial <= maximum && maximum <= SEM_VALUE_MAX;
}

bool initialiseBlock(SemaphoreBlock& block, bool processShared, int initial, int maximum)
{
    if (!detail::initialiseRobustMutex(block.guard, processShared, false))
        return false;
    if (sem_init(&block.count, processShared ? 1 : 0, static_cast<unsigned>(initial)) != 0) {
        pthread_mutex_destroy(&block.guard);
        return false;
    }
    block.maximum = maximum;
    return true;
}

}  // namespace

struct Semaphore::State {
    std::unique_ptr<detail::SharedSegment> segment;  // named
    std::unique_ptr<SemaphoreBlock> own;             // private
    SemaphoreBlock* block = nullptr;

    ~State()
    {
        if (own) {
            sem_destroy(&own->count);
            pthread_mutex_destroy(&own->guard);
        }
    }
};

ErrorOr<std::unique_ptr<Semaphore>> Semaphore::createPrivate(int initial, int maximum)
{
    if (!countsAcceptable(initial, maximum))
        return Error(EINVAL, "semaphore counts");
    auto block = std::make_unique<SemaphoreBlock>();
    if (!initialiseBlock(*block, false, initial, maximum))
        return Error::fromLastSystemError("create semaphore");
    auto state = std::make_unique<State>();
    state->block = block.get();
    state->own = std::move(block);
    return std::unique_ptr<Semaphore>(new Semaphore(std::move(state)));
}

ErrorOr<std::unique_ptr<Semaphore>> Semaphore::openNamed(const std::string& name, int initial, int maximum)
{
    if (!countsAcceptable(initial, maximum))
        return Error(EINVAL, "semaphore counts");
    auto segment = detail::SharedSegment::open(name, detail::SegmentKind::Semaphore, sizeof(SemaphoreBlock),
                                               [initial, maximum](void* memory) {
                                                   return initialiseBlock(*static_cast<SemaphoreBlock*>(memory), true,
                                                                          initial, maximum);
                                               });
    if (!segment)
        return Error::fromLastSystemError("open named semaphore");
    auto state = std::make_unique<State>();
    state->block = static_cast<SemaphoreBlock*>(segment->block());
    state->segment = std::move(segment);
    return std::unique_ptr<Semaphore>(new Semaphore(std::move(state)));
}

Semaphore::Semaphore(std::unique_ptr<State> state) : state_(std::move(state)) {}

Semaphore::~Semaphore() = default;

WaitResult Semaphore::wait()
{
    while (sem_wait(&state_->block->count) != 0) {
        if (errno != EINTR)
            return WaitResult::Failed;
    }
    return WaitResult::Signalled;
}

std::optional<WaitResult> Semaphore::tryWait()
{
    while (sem_trywait(&state_->block->count) != 0) {
        if (errno == EAGAIN)
            return std::nullopt;
        if (errno != EINTR)
            return WaitResult::Failed;
    }
    return WaitResult::Signalled;
}

bool Semaphore::release()
{
    SemaphoreBlock& block = *state_->block;
    // A process that died holding the guard was only ever between reading
    // and raising the count, so the count itself is sound.
    const detail::LockOutcome locked = detail::lockRobust(block.guard, true);
    if (locked != detail::LockOutcome::Locked && locked != detail::LockOutcome::OwnerDied)
        return false;
    int value = 0;
    // Waiters only lower the count meanwhile, so checking first is safe.
    const bool ok = sem_getvalue(&block.count, &value) == 0 && value < block.maximum && sem_post(&block.count) == 0;
    pthread_mutex_unlock(&block.guard);
    return ok;
}

}  // namespace platform

}  // namespace bv
