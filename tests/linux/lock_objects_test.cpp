#include "platform/lock_objects.h"
#include "support/lock_objects.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <functional>
#include <future>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace bv;

using platform::Mutex;
using platform::Semaphore;
using platform::WaitResult;

namespace {

constexpr auto kDeadline = std::chrono::seconds(30);

std::string uniqueName(const std::string& base, const std::string& test)
{
    return base + "-" + std::to_string(getpid()) + "-" + test;
}

// A forked child running `body`, with a pipe each way. The child gets only
// the ends it needs and leaves with _exit and body's result.
class Child {
public:
    class Channel {
    public:
        Channel(int in, int out) : in_(in), out_(out) {}
        void send(char c) const { (void)!write(out_, &c, 1); }
        // Blocks; 0 when the parent has gone.
        char receive() const
        {
            char c = 0;
            while (true) {
                const ssize_t got = read(in_, &c, 1);
                if (got == 1)
                    return c;
                if (got == 0 || errno != EINTR)
                    return 0;
            }
        }

    private:
        int in_;
        int out_;
    };

    explicit Child(const std::function<int(const Channel&)>& body)
    {
        int toChild[2];
        int fromChild[2];
        if (pipe2(toChild, O_CLOEXEC) != 0 || pipe2(fromChild, O_CLOEXEC) != 0)
            return;
        pid_ = fork();
        if (pid_ == 0) {
            close(toChild[1]);
            close(fromChild[0]);
            _exit(body(Channel(toChild[0], fromChild[1])));
        }
        close(toChild[0]);
        close(fromChild[1]);
        toChild_ = toChild[1];
        fromChild_ = fromChild[0];
        if (pid_ > 0)
            pidDescriptor_ = static_cast<int>(syscall(SYS_pidfd_open, pid_, 0));
    }

    ~Child()
    {
        if (pid_ > 0 && !reaped_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        for (int descriptor : { toChild_, fromChild_, pidDescriptor_ })
            if (descriptor >= 0)
                close(descriptor);
    }

    bool started() const { return pid_ > 0 && pidDescriptor_ >= 0; }

    void send(char c) const { (void)!write(toChild_, &c, 1); }

    // The next byte from the child, or 0 when none comes in time.
    char receive() const
    {
        pollfd ready { fromChild_, POLLIN, 0 };
        const int milliseconds = static_cast<int>(std::chrono::milliseconds(kDeadline).count());
        if (poll(&ready, 1, milliseconds) != 1)
            return 0;
        char c = 0;
        return read(fromChild_, &c, 1) == 1 ? c : 0;
    }

    // The child's exit code; -1 when it did not end in time or not normally.
    int finish()
    {
        pollfd ended { pidDescriptor_, POLLIN, 0 };
        const int milliseconds = static_cast<int>(std::chrono::milliseconds(kDeadline).count());
        if (poll(&ended, 1, milliseconds) != 1)
            return -1;
        return reap();
    }

    // Kills the child and waits for it: it ends without any clean-up.
    bool killNow()
    {
        if (kill(pid_, SIGKILL) != 0)
            return false;
        const int status = reapStatus();
        return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
    }

private:
    int reapStatus()
    {
        int status = 0;
        while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        reaped_ = true;
        return status;
    }

    int reap()
    {
        const int status = reapStatus();
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    pid_t pid_ = -1;
    int toChild_ = -1;
    int fromChild_ = -1;
    int pidDescriptor_ = -1;
    bool reaped_ = false;
};

// Runs a blocking wait on another thread; `unblock` frees it should the
// wait not end in time, so the test can still join the thread.
template <typename Object>
WaitResult waitOnThread(Object& object, bool releaseAfterwards, const std::function<void()>& whileWaiting,
                        const std::function<void()>& unblock, bool& endedInTime)
{
    std::promise<WaitResult> done;
    auto result = done.get_future();
    std::thread waiter([&] {
        const WaitResult r = object.wait();
        if (releaseAfterwards && r == WaitResult::Signalled)
            object.release();
        done.set_value(r);
    });
    whileWaiting();
    endedInTime = result.wait_for(kDeadline) == std::future_status::ready;
    if (!endedInTime)
        unblock();
    waiter.join();
    return result.get();
}

}  // namespace

TEST(PrivateSemaphore, CountsMaximumAndWaking)
{
    EXPECT_TRUE(Semaphore::createPrivate(4, 3).is_error());
    EXPECT_TRUE(Semaphore::createPrivate(-1, 3).is_error());
    EXPECT_TRUE(Semaphore::createPrivate(0, 0).is_error());

    auto semaphore = made(Semaphore::createPrivate(2, 3));
    ASSERT_NE(semaphore, nullptr);
    EXPECT_EQ(semaphore->wait(), WaitResult::Signalled);
    EXPECT_EQ(semaphore->tryWait(), WaitResult::Signalled);
    EXPECT_EQ(semaphore->tryWait(), std::nullopt);
    EXPECT_TRUE(semaphore->release());
    EXPECT_TRUE(semaphore->release());
    EXPECT_TRUE(semaphore->release());
    EXPECT_FALSE(semaphore->release()) << "released past the maximum";
    EXPECT_EQ(takeAll(*semaphore), 3) << "a failed release must change nothing";

    bool endedInTime = false;
    const WaitResult woken = waitOnThread(
        *semaphore, false, [&] { EXPECT_TRUE(semaphore->release()); }, [&] { semaphore->release(); }, endedInTime);
    EXPECT_TRUE(endedInTime) << "a waiter was not woken by a release";
    EXPECT_EQ(woken, WaitResult::Signalled);
    EXPECT_EQ(semaphore->tryWait(), std::nullopt) << "the waiter did not take the released count";
}

TEST(PrivateMutex, OwnershipRecursionAndAbandonment)
{
    auto mutex = made(Mutex::createPrivate());
    ASSERT_NE(mutex, nullptr);
    EXPECT_FALSE(mutex->release()) << "released a mutex nobody owns";

    ASSERT_EQ(mutex->wait(), WaitResult::Signalled);
    EXPECT_EQ(mutex->wait(), WaitResult::Signalled) << "the owner may wait again";
    std::thread([&] {
        EXPECT_EQ(mutex->tryWait(), std::nullopt) << "another thread got an owned mutex";
        EXPECT_FALSE(mutex->release()) << "a thread that does not own it released it";
    }).join();
    EXPECT_TRUE(mutex->release());
    std::thread([&] { EXPECT_EQ(mutex->tryWait(), std::nullopt) << "free after one of two releases"; }).join();
    EXPECT_TRUE(mutex->release());
    EXPECT_FALSE(mutex->release());

    // A thread that ends holding it abandons it.
    std::thread([&] { EXPECT_EQ(mutex->wait(), WaitResult::Signalled); }).join();
    EXPECT_EQ(mutex->wait(), WaitResult::Abandoned);
    EXPECT_FALSE(mutex->release()) << "an abandoned wait must not leave the caller owning it";
    std::thread([&] {
        EXPECT_EQ(mutex->tryWait(), WaitResult::Signalled) << "the abandoned mutex was not left free";
        EXPECT_TRUE(mutex->release());
    }).join();
    EXPECT_EQ(mutex->wait(), WaitResult::Signalled);
    EXPECT_TRUE(mutex->release());
}

TEST(NamedObjects, RefuseBadNamesAndAnotherKind)
{
    const NamedObjects names({ uniqueName("addresMutexName", "kind") });
    EXPECT_TRUE(Semaphore::openNamed("", 6, 6).is_error());
    EXPECT_TRUE(Semaphore::openNamed("a/b", 6, 6).is_error());
    EXPECT_TRUE(Mutex::openNamed("a/b").is_error());
    EXPECT_TRUE(Semaphore::openNamed(names[0], 7, 6).is_error());

    auto semaphore = made(Semaphore::openNamed(names[0], 6, 6));
    ASSERT_NE(semaphore, nullptr);
    EXPECT_TRUE(Mutex::openNamed(names[0]).is_error()) << "a semaphore's name opened as a mutex";
}

TEST(NamedSemaphore, TwoProcessesShareSixCounts)
{
    const NamedObjects names({ uniqueName("addresMutexName", "shared") });
    auto semaphore = made(Semaphore::openNamed(names[0], 6, 6));
    ASSERT_NE(semaphore, nullptr);

    Child child([&](const Child::Channel& parent) {
        // Counts given by a later opener do not apply.
        auto own = made(Semaphore::openNamed(names[0], 0, 1));
        if (!own)
            return 10;
        for (int i = 0; i < 4; ++i)
            if (own->wait() != WaitResult::Signalled)
                return 11;
        parent.send('T');
        while (true) {
            const char command = parent.receive();
            if (command == 'R') {
                if (!own->release())
                    return 12;
                parent.send('r');
            } else {
                return command == 'Q' ? 0 : 13;
            }
        }
    });
    ASSERT_TRUE(child.started());
    ASSERT_EQ(child.receive(), 'T');

    EXPECT_EQ(semaphore->wait(), WaitResult::Signalled);
    EXPECT_EQ(semaphore->tryWait(), WaitResult::Signalled);
    EXPECT_EQ(semaphore->tryWait(), std::nullopt) << "the two processes hold more than six counts";

    bool endedInTime = false;
    char reply = 0;
    const WaitResult third = waitOnThread(
        *semaphore, false,
        [&] {
            child.send('R');
            reply = child.receive();
        },
        [&] { semaphore->release(); }, endedInTime);
    EXPECT_EQ(reply, 'r');
    EXPECT_TRUE(endedInTime) << "a release in the other process did not wake the waiter";
    EXPECT_EQ(third, WaitResult::Signalled);
    EXPECT_EQ(semaphore->tryWait(), std::nullopt);

    child.send('Q');
    EXPECT_EQ(child.finish(), 0);
}

TEST(NamedMutex, HeldByAnotherProcess)
{
    const NamedObjects names({ uniqueName("fileMutexName", "held") });
    auto mutex = made(Mutex::openNamed(names[0]));
    ASSERT_NE(mutex, nullptr);

    Child child([&](const Child::Channel& parent) {
        auto own = made(Mutex::openNamed(names[0]));
        if (!own)
            return 10;
        if (own->wait() != WaitResult::Signalled)
            return 11;
        parent.send('H');
        if (parent.receive() != 'R')
            return 12;
        parent.send('r');
        if (!own->release())
            return 13;
        return parent.receive() == 'Q' ? 0 : 14;
    });
    ASSERT_TRUE(child.started());
    ASSERT_EQ(child.receive(), 'H');

    EXPECT_EQ(mutex->tryWait(), std::nullopt) << "got the mutex while the other process holds it";
    bool endedInTime = false;
    char reply = 0;
    const WaitResult result = waitOnThread(
        *mutex, true,
        [&] {
            child.send('R');
            reply = child.receive();
        },
        [&] { child.killNow(); }, endedInTime);
    EXPECT_EQ(reply, 'r');
    EXPECT_TRUE(endedInTime) << "the other process's release did not wake the waiter";
    EXPECT_EQ(result, WaitResult::Signalled);

    child.send('Q');
    EXPECT_EQ(child.finish(), 0);
    EXPECT_EQ(mutex->wait(), WaitResult::Signalled);
    EXPECT_TRUE(mutex->release());
}

TEST(NamedMutex, AbandonedByKilledProcessAndClosedWhileOwned)
{
    const NamedObjects names({ uniqueName("socketMutexName", "killed") });
    auto mutex = made(Mutex::openNamed(names[0]));
    ASSERT_NE(mutex, nullptr);

    Child child([&](const Child::Channel& parent) {
        auto own = made(Mutex::openNamed(names[0]));
        if (!own || own->wait() != WaitResult::Signalled)
            return 10;
        parent.send('H');
        parent.receive();
        return 11;
    });
    ASSERT_TRUE(child.started());
    ASSERT_EQ(child.receive(), 'H');
    ASSERT_TRUE(child.killNow());

    EXPECT_EQ(mutex->wait(), WaitResult::Abandoned);
    EXPECT_EQ(mutex->wait(), WaitResult::Signalled) << "the abandoned mutex was not made usable again";
    EXPECT_TRUE(mutex->release());

    // Closing a mutex this thread owns gives it up rather than abandoning it.
    auto second = made(Mutex::openNamed(names[0]));
    ASSERT_NE(second, nullptr);
    ASSERT_EQ(second->wait(), WaitResult::Signalled);
    second.reset();
    std::thread([&] {
        EXPECT_EQ(mutex->tryWait(), WaitResult::Signalled);
        EXPECT_TRUE(mutex->release());
    }).join();
}

TEST(NamedObjects, FreshAfterEveryUserWasKilled)
{
    const NamedObjects names({ uniqueName("addresMutexName", "crash"), uniqueName("fileMutexName", "crash") });
    // The test process itself never opens them, so the children are all
    // their users.
    auto holder = [&](int counts, bool takeMutex) {
        return [&names, counts, takeMutex](const Child::Channel& parent) {
            auto semaphore = made(Semaphore::openNamed(names[0], 6, 6));
            auto mutex = made(Mutex::openNamed(names[1]));
            if (!semaphore || !mutex)
                return 10;
            for (int i = 0; i < counts; ++i)
                if (semaphore->wait() != WaitResult::Signalled)
                    return 11;
            if (takeMutex && mutex->wait() != WaitResult::Signalled)
                return 12;
            parent.send('H');
            parent.receive();
            return 13;
        };
    };
    // Reports what a new opener finds: free counts, then how its mutex wait went.
    auto inspector = [&names](const Child::Channel& parent) {
        auto semaphore = made(Semaphore::openNamed(names[0], 6, 6));
        auto mutex = made(Mutex::openNamed(names[1]));
        if (!semaphore || !mutex)
            return 10;
        parent.send(static_cast<char>('0' + takeAll(*semaphore)));
        const auto result = mutex->tryWait();
        parent.send(!result ? 'B' : *result == WaitResult::Signalled ? 'S' : *result == WaitResult::Abandoned ? 'A' : 'F');
        return 0;
    };

    Child first(holder(4, true));
    ASSERT_TRUE(first.started());
    ASSERT_EQ(first.receive(), 'H');
    Child second(holder(2, false));
    ASSERT_TRUE(second.started());
    ASSERT_EQ(second.receive(), 'H');
    ASSERT_TRUE(first.killNow());

    {
        // One user is still alive: the object stays as the dead one left it.
        Child look(inspector);
        ASSERT_TRUE(look.started());
        EXPECT_EQ(look.receive(), '0');
        EXPECT_EQ(look.receive(), 'A');
        EXPECT_EQ(look.finish(), 0);
    }

    ASSERT_TRUE(second.killNow());
    Child look(inspector);
    ASSERT_TRUE(look.started());
    EXPECT_EQ(look.receive(), '6') << "counts held by killed processes survived them";
    EXPECT_EQ(look.receive(), 'S') << "the mutex of a killed process was not fresh";
    EXPECT_EQ(look.finish(), 0);
}
