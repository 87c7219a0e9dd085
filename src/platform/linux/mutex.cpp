#include "platform/lock_objects.h"

#include "platform/linux/robust_lock.h"
#include "platform/linux/shared_segment.h"

#include <atomic>
#include <pthread.h>
#include <thread>

namespace bv {

namespace platform {
namespace {

struct MutexBlock {
    pthread_mutex_t mutex;
};

bool initialiseBlock(MutexBlock& block, bool processShared)
{
    return detail::initialiseRobustMutex(block.mutex, processShared, true);
}

}  // namespace

struct Mutex::State {
    std::unique_ptr<detail::SharedSegment> segment;  // named
    std::unique_ptr<MutexBlock> own;                 // private
    MutexBlock* block = nullptr;
    // Kept here so that a release by a thread that does not own the mutex is
    // refused before it reaches the system mutex.
    std::atomic<std::thread::id> owner {};
    int depth = 0;  // touched only by the owner

    ~State()
    {
        if (owner.load() == std::this_thread::get_id()) {
            owner.store(std::thread::id());
            for (; depth > 0; --depth)
                pthread_mutex_unlock(&block->mutex);
        }
        if (own)
            pthread_mutex_destroy(&own->mutex);
    }
};

ErrorOr<std::unique_ptr<Mutex>> Mutex::createPrivate()
{
    auto block = std::make_unique<MutexBlock>();
    if (!initialiseBlock(*block, false))
        return Error::fromLastSystemError("create mutex");
    auto state = std::make_unique<State>();
    state->block = block.get();
    state->own = std::move(block);
    return std::unique_ptr<Mutex>(new Mutex(std::move(state)));
}

ErrorOr<std::unique_ptr<Mutex>> Mutex::openNamed(const std::string& name)
{
    auto segment = detail::SharedSegment::open(name, detail::SegmentKind::Mutex, sizeof(MutexBlock), [](void* memory) {
        return initialiseBlock(*static_cast<MutexBlock*>(memory), true);
    });
    if (!segment)
        return Error::fromLastSystemError("open named mutex");
    auto state = std::make_unique<State>();
    state->block = static_cast<MutexBlock*>(segment->block());
    state->segment = std::move(segment);
    return std::unique_ptr<Mutex>(new Mutex(std::move(state)));
}

Mutex::Mutex(std::unique_ptr<State> state) : state_(std::move(state)) {}

Mutex::~Mutex() = default;

namespace {

std::optional<WaitResult> take(Mutex::State& state, bool waitForIt)
{
    switch (detail::lockRobust(state.block->mutex, waitForIt)) {
    case detail::LockOutcome::Locked:
        state.owner.store(std::this_thread::get_id());
        ++state.depth;
        return WaitResult::Signalled;
    case detail::LockOutcome::OwnerDied:
        // The holder is gone; leave the mutex free so that nobody waits
        // behind it, and tell the caller its wait did not succeed.
        state.owner.store(std::thread::id());
        state.depth = 0;
        pthread_mutex_unlock(&state.block->mutex);
        return WaitResult::Abandoned;
    case detail::LockOutcome::Busy:
        return std::nullopt;
    case detail::LockOutcome::Failed:
        break;
    }
    return WaitResult::Failed;
}

}  // namespace

WaitResult Mutex::wait()
{
    return *take(*state_, true);
}

std::optional<WaitResult> Mutex::tryWait()
{
    return take(*state_, false);
}

bool Mutex::release()
{
    State& state = *state_;
    if (state.owner.load() != std::this_thread::get_id() || state.depth == 0)
        return false;
    if (--state.depth == 0)
        state.owner.store(std::thread::id());
    if (pthread_mutex_unlock(&state.block->mutex) == 0)
        return true;
    ++state.depth;
    state.owner.store(std::this_thread::get_id());
    return false;
}

}  // namespace platform

}  // namespace bv
