#include "platform/lock_objects.h"

#include "platform/win/handle.h"

#include <windows.h>

namespace bv {

// The kernel's own objects: a named one is shared by every process of the
// session that opens it, vanishes with its last handle, and a mutex whose
// owner ended holding it is reported abandoned to the next waiter.
namespace platform {
namespace {

bool countsAcceptable(int initial, int maximum)
{
    return maximum >= 1 && initial >= 0 && initial <= maximum;
}

// WAIT_ABANDONED hands the mutex to the waiter; the interface promises it
// is left free instead.
WaitResult resultOf(DWORD waited, HANDLE mutex)
{
    switch (waited) {
    case WAIT_OBJECT_0:
        return WaitResult::Signalled;
    case WAIT_ABANDONED:
        if (mutex != nullptr)
            ::ReleaseMutex(mutex);
        return WaitResult::Abandoned;
    default:
        return WaitResult::Failed;
    }
}

}  // namespace

struct Semaphore::State {
    detail::Handle handle;
};

struct Mutex::State {
    detail::Handle handle;
};

Semaphore::Semaphore(std::unique_ptr<State> state) : state_(std::move(state)) {}
Semaphore::~Semaphore() = default;

ErrorOr<std::unique_ptr<Semaphore>> Semaphore::createPrivate(int initial, int maximum)
{
    if (!countsAcceptable(initial, maximum))
        return Error(ERROR_INVALID_PARAMETER, "semaphore counts");
    auto state = std::make_unique<State>();
    state->handle = detail::Handle(::CreateSemaphoreA(nullptr, initial, maximum, nullptr));
    if (!state->handle.valid())
        return Error::fromLastSystemError("CreateSemaphoreA");
    return std::unique_ptr<Semaphore>(new Semaphore(std::move(state)));
}

ErrorOr<std::unique_ptr<Semaphore>> Semaphore::openNamed(const std::string& name, int initial, int maximum)
{
    if (!countsAcceptable(initial, maximum))
        return Error(ERROR_INVALID_PARAMETER, "semaphore counts");
    if (name.empty() || name.find('\0') != std::string::npos)
        return Error(ERROR_INVALID_NAME, "semaphore name");
    auto state = std::make_unique<State>();
    // When the object exists already its own counts stay.
    state->handle = detail::Handle(::CreateSemaphoreA(nullptr, initial, maximum, name.c_str()));
    if (!state->handle.valid())
        return Error::fromLastSystemError("CreateSemaphoreA");
    return std::unique_ptr<Semaphore>(new Semaphore(std::move(state)));
}

WaitResult Semaphore::wait()
{
    return resultOf(::WaitForSingleObject(state_->handle.get(), INFINITE), nullptr);
}

std::optional<WaitResult> Semaphore::tryWait()
{
    const DWORD waited = ::WaitForSingleObject(state_->handle.get(), 0);
    if (waited == WAIT_TIMEOUT)
        return std::nullopt;
    return resultOf(waited, nullptr);
}

bool Semaphore::release()
{
    return ::ReleaseSemaphore(state_->handle.get(), 1, nullptr) != 0;
}

Mutex::Mutex(std::unique_ptr<State> state) : state_(std::move(state)) {}
Mutex::~Mutex() = default;

ErrorOr<std::unique_ptr<Mutex>> Mutex::createPrivate()
{
    auto state = std::make_unique<State>();
    state->handle = detail::Handle(::CreateMutexA(nullptr, FALSE, nullptr));
    if (!state->handle.valid())
        return Error::fromLastSystemError("CreateMutexA");
    return std::unique_ptr<Mutex>(new Mutex(std::move(state)));
}

ErrorOr<std::unique_ptr<Mutex>> Mutex::openNamed(const std::string& name)
{
    if (name.empty() || name.find('\0') != std::string::npos)
        return Error(ERROR_INVALID_NAME, "mutex name");
    auto state = std::make_unique<State>();
    state->handle = detail::Handle(::CreateMutexA(nullptr, FALSE, name.c_str()));
    if (!state->handle.valid())
        return Error::fromLastSystemError("CreateMutexA");
    return std::unique_ptr<Mutex>(new Mutex(std::move(state)));
}

WaitResult Mutex::wait()
{
    return resultOf(::WaitForSingleObject(state_->handle.get(), INFINITE), state_->handle.get());
}

std::optional<WaitResult> Mutex::tryWait()
{
    const DWORD waited = ::WaitForSingleObject(state_->handle.get(), 0);
    if (waited == WAIT_TIMEOUT)
        return std::nullopt;
    return resultOf(waited, state_->handle.get());
}

bool Mutex::release()
{
    return ::ReleaseMutex(state_->handle.get()) != 0;
}

bool removeNamedObject(const std::string&)
{
    // Nothing to remove: the system drops a named object with its last handle.
    return true;
}

}  // namespace platform

}  // namespace bv
