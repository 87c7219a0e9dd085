#include "platform/lock_objects.h"
#include "platform/process.h"

#include "support/wait_for.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

using namespace bv;

using namespace std::chrono_literals;
using platform::Mutex;
using platform::Semaphore;
using platform::WaitResult;

namespace {

// The object, or null when it could not be had.
template<typename T>
std::unique_ptr<T> made(bv::platform::ErrorOr<std::unique_ptr<T>> result)
{
    return result.is_error() ? nullptr : result.release_value();
}

constexpr const char* kChildVariable = "BV_LOCK_CHILD";

std::string uniqueName(const std::string& base)
{
    return base + ".wintest." + std::to_string(platform::currentProcessId()) + "."
        + ::testing::UnitTest::GetInstance()->current_test_info()->name();
}

// This test program again, running only the child body with its task.
class ChildProcess {
public:
    explicit ChildProcess(const std::string& task)
    {
        char self[MAX_PATH] = {};
        ::GetModuleFileNameA(nullptr, self, MAX_PATH);
        std::string command = std::string("\"") + self + "\" --gtest_filter=LockChild.Body";
        ::SetEnvironmentVariableA(kChildVariable, task.c_str());
        STARTUPINFOA startup {};
        startup.cb = sizeof startup;
        started_ = ::CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                       &info_)
            != 0;
        ::SetEnvironmentVariableA(kChildVariable, nullptr);
    }
    ~ChildProcess()
    {
        if (!started_)
            return;
        if (::WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT)
            ::TerminateProcess(info_.hProcess, 99);
        ::CloseHandle(info_.hThread);
        ::CloseHandle(info_.hProcess);
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool started() const { return started_; }
    // The exit code, or -1 when the child did not end in time.
    long finish()
    {
        if (::WaitForSingleObject(info_.hProcess, 20000) != WAIT_OBJECT_0)
            return -1;
        DWORD code = 0;
        ::GetExitCodeProcess(info_.hProcess, &code);
        return static_cast<long>(code);
    }
    void kill()
    {
        ::TerminateProcess(info_.hProcess, 9);
        ::WaitForSingleObject(info_.hProcess, 20000);
    }

private:
    PROCESS_INFORMATION info_ {};
    bool started_ = false;
};

}  // namespace

// The body of the child processes; an ordinary run of the program skips it.
TEST(LockChild, Body)
{
    const char* task = std::getenv(kChildVariable);
    if (task == nullptr)
        GTEST_SKIP() << "runs only as another test's child";
    const std::string text = task;
    const std::string name = text.substr(text.find(':') + 1);
    if (text.rfind("take-two:", 0) == 0) {
        // Opening with other counts must share the first opener's.
        auto semaphore = made(Semaphore::openNamed(name, 6, 6));
        if (!semaphore)
            std::_Exit(2);
        const bool first = semaphore->tryWait() == WaitResult::Signalled;
        const bool second = semaphore->tryWait() == WaitResult::Signalled;
        const bool third = semaphore->tryWait().has_value();
        std::_Exit(first && second && !third ? 0 : 3);
    }
    if (text.rfind("hold-mutex:", 0) == 0) {
        auto mutex = made(Mutex::openNamed(name));
        if (!mutex || mutex->wait() != WaitResult::Signalled)
            std::_Exit(2);
        ::Sleep(INFINITE);
    }
    if (text.rfind("end-holding:", 0) == 0) {
        auto mutex = made(Mutex::openNamed(name));
        if (!mutex || mutex->wait() != WaitResult::Signalled)
            std::_Exit(2);
        // Ends without releasing, and without destructors.
        std::_Exit(0);
    }
    std::_Exit(4);
}

TEST(WinLockObjects, NamedSemaphoreCountsAreSharedBetweenProcesses)
{
    const std::string name = uniqueName("addresMutexName");
    auto semaphore = made(Semaphore::openNamed(name, 2, 2));
    ASSERT_TRUE(semaphore);
    ChildProcess child("take-two:" + name);
    ASSERT_TRUE(child.started());
    EXPECT_EQ(child.finish(), 0);
    // The child took both counts and ended; counts are not given back by an ending.
    EXPECT_FALSE(semaphore->tryWait().has_value());
    EXPECT_TRUE(semaphore->release());
    EXPECT_TRUE(semaphore->release());
    EXPECT_FALSE(semaphore->release()) << "past the maximum";
    EXPECT_EQ(semaphore->tryWait(), WaitResult::Signalled);
}

TEST(WinLockObjects, KilledHolderLeavesTheMutexAbandonedThenFree)
{
    const std::string name = uniqueName("fileMutexName");
    auto mutex = made(Mutex::openNamed(name));
    ASSERT_TRUE(mutex);
    ChildProcess child("hold-mutex:" + name);
    ASSERT_TRUE(child.started());
    // Held by the child once a try fails here.
    ASSERT_TRUE(waitFor(
        [&] {
            const auto attempt = mutex->tryWait();
            if (attempt)
                mutex->release();
            return !attempt.has_value();
        },
        20s));
    child.kill();
    EXPECT_EQ(mutex->wait(), WaitResult::Abandoned);
    // Left free: another thread can take it at once.
    std::optional<WaitResult> other;
    std::thread([&] {
        other = mutex->tryWait();
        if (other == WaitResult::Signalled)
            mutex->release();
    }).join();
    EXPECT_EQ(other, WaitResult::Signalled);
}

TEST(WinLockObjects, HolderThatEndsWithoutReleaseIsReportedAbandoned)
{
    const std::string name = uniqueName("socketMutexName");
    auto mutex = made(Mutex::openNamed(name));
    ASSERT_TRUE(mutex);
    ChildProcess child("end-holding:" + name);
    ASSERT_TRUE(child.started());
    EXPECT_EQ(child.finish(), 0);
    EXPECT_EQ(mutex->tryWait(), WaitResult::Abandoned);
    EXPECT_EQ(mutex->tryWait(), WaitResult::Signalled);
    EXPECT_TRUE(mutex->release());
}

TEST(WinLockObjects, NamedObjectStartsFreshOnceEveryHandleIsClosed)
{
    const std::string name = uniqueName("addresMutexName");
    {
        auto first = made(Semaphore::openNamed(name, 0, 1));
        ASSERT_TRUE(first);
        auto second = made(Semaphore::openNamed(name, 1, 1));
        ASSERT_TRUE(second);
        EXPECT_FALSE(second->tryWait().has_value()) << "the first opener's count of 0 applies";
    }
    EXPECT_TRUE(platform::removeNamedObject(name));
    auto fresh = made(Semaphore::openNamed(name, 1, 1));
    ASSERT_TRUE(fresh);
    EXPECT_EQ(fresh->tryWait(), WaitResult::Signalled);
}

TEST(WinLockObjects, CountsOwnershipAndBadArguments)
{
    EXPECT_TRUE(Semaphore::createPrivate(2, 1).is_error());
    EXPECT_TRUE(Semaphore::createPrivate(-1, 1).is_error());
    EXPECT_TRUE(Semaphore::createPrivate(0, 0).is_error());
    EXPECT_TRUE(Semaphore::openNamed("", 1, 1).is_error());
    EXPECT_TRUE(Mutex::openNamed(std::string("a\0b", 3)).is_error());

    auto semaphore = made(Semaphore::createPrivate(6, 6));
    ASSERT_TRUE(semaphore);
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(semaphore->wait(), WaitResult::Signalled);
    EXPECT_FALSE(semaphore->tryWait().has_value());
    for (int i = 0; i < 6; ++i)
        EXPECT_TRUE(semaphore->release());
    EXPECT_FALSE(semaphore->release());

    auto mutex = made(Mutex::createPrivate());
    ASSERT_TRUE(mutex);
    EXPECT_FALSE(mutex->release()) << "not owned";
    EXPECT_EQ(mutex->wait(), WaitResult::Signalled);
    EXPECT_EQ(mutex->wait(), WaitResult::Signalled) << "the owner may wait again";
    bool otherGotIt = true;
    bool otherReleased = true;
    std::thread([&] {
        otherGotIt = mutex->tryWait().has_value();
        otherReleased = mutex->release();
    }).join();
    EXPECT_FALSE(otherGotIt);
    EXPECT_FALSE(otherReleased);
    EXPECT_TRUE(mutex->release());
    EXPECT_TRUE(mutex->release());
    EXPECT_FALSE(mutex->release());
}
