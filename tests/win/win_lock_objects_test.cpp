#include "platform/lock_objects.h"
#include "platform/process.h"

#include "support/lock_objects.h"
#include "support/win_process.h"
#include "support/wait_for.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

using namespace bv;

using namespace std::chrono_literals;
using platform::Mutex;
using platform::Semaphore;
using platform::WaitResult;

namespace {

constexpr const char* kChildVariable = "BV_LOCK_CHILD";

std::string uniqueName(const std::string& base)
{
    return base + ".wintest." + std::to_string(platform::currentProcessId()) + "."
        + ::testing::UnitTest::GetInstance()->current_test_info()->name();
}

// The task of the child started while it is in scope, and only then.
class ChildTask {
public:
    explicit ChildTask(const std::string& task) { ::SetEnvironmentVariableA(kChildVariable, task.c_str()); }
    ~ChildTask() { ::SetEnvironmentVariableA(kChildVariable, nullptr); }
    ChildTask(const ChildTask&) = delete;
    ChildTask& operator=(const ChildTask&) = delete;
};

// This test program again, running only the child body with its task.
WinProcess startChild(const std::string& task)
{
    char self[MAX_PATH] = {};
    ::GetModuleFileNameA(nullptr, self, MAX_PATH);
    const ChildTask scoped(task);
    return WinProcess(std::string("\"") + self + "\" --gtest_filter=LockChild.Body");
}

// Says on standard error, which the test's output shows, what the child
// could not do, and ends it.
[[noreturn]] void childFailed(const std::string& what, int status)
{
    std::fprintf(stderr, "%s\n", what.c_str());
    std::fflush(stderr);
    std::_Exit(status);
}

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
            childFailed("the child could not open the semaphore " + name, 2);
        const bool first = semaphore->tryWait() == WaitResult::Signalled;
        const bool second = semaphore->tryWait() == WaitResult::Signalled;
        const bool third = semaphore->tryWait().has_value();
        if (!first || !second || third)
            childFailed("the child did not get exactly the first opener's two counts", 3);
        std::_Exit(0);
    }
    if (text.rfind("hold-mutex:", 0) == 0) {
        auto mutex = made(Mutex::openNamed(name));
        if (!mutex || mutex->wait() != WaitResult::Signalled)
            childFailed("the child could not open and take the mutex " + name, 2);
        ::Sleep(INFINITE);
    }
    if (text.rfind("end-holding:", 0) == 0) {
        auto mutex = made(Mutex::openNamed(name));
        if (!mutex || mutex->wait() != WaitResult::Signalled)
            childFailed("the child could not open and take the mutex " + name, 2);
        // Ends without releasing, and without destructors.
        std::_Exit(0);
    }
    childFailed("the child was given an unknown task: " + text, 4);
}

TEST(WinLockObjects, NamedSemaphoreCountsAreSharedBetweenProcesses)
{
    const std::string name = uniqueName("addresMutexName");
    auto semaphore = made(Semaphore::openNamed(name, 2, 2));
    ASSERT_TRUE(semaphore);
    WinProcess child = startChild("take-two:" + name);
    ASSERT_TRUE(child.started());
    EXPECT_EQ(child.finish(20000), 0);
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
    WinProcess child = startChild("hold-mutex:" + name);
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
    WinProcess child = startChild("end-holding:" + name);
    ASSERT_TRUE(child.started());
    EXPECT_EQ(child.finish(20000), 0);
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
