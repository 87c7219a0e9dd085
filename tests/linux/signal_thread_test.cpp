#include "platform/signal_thread.h"

#include "support/wait_for.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <ctime>
#include <gtest/gtest.h>
#include <map>
#include <mutex>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

using namespace bv;
using namespace std::chrono_literals;

namespace {

// Which handler ran, how often, and on which thread.
class Calls {
public:
    std::function<void()> handler(int signal)
    {
        return [this, signal] {
            std::lock_guard lock(mutex_);
            ++counts_[signal];
            onTestThread_ = onTestThread_ || pthread_equal(pthread_self(), testThread_);
        };
    }
    int count(int signal)
    {
        std::lock_guard lock(mutex_);
        return counts_[signal];
    }
    int total()
    {
        std::lock_guard lock(mutex_);
        int sum = 0;
        for (const auto& [signal, count] : counts_)
            sum += count;
        return sum;
    }
    bool anyOnTestThread()
    {
        std::lock_guard lock(mutex_);
        return onTestThread_;
    }

private:
    std::mutex mutex_;
    std::map<int, int> counts_;
    pthread_t testThread_ = pthread_self();
    bool onTestThread_ = false;
};

bool blocked(int signal)
{
    sigset_t mask;
    pthread_sigmask(SIG_BLOCK, nullptr, &mask);
    return sigismember(&mask, signal) == 1;
}

// Takes a signal left pending for this process, so that the next case starts clean.
bool takePending(int signal)
{
    sigset_t wanted;
    sigemptyset(&wanted);
    sigaddset(&wanted, signal);
    const timespec limit { 5, 0 };
    return sigtimedwait(&wanted, nullptr, &limit) == signal;
}

}  // namespace

// Each signal reaches its own handler, once, on the signal thread; SIGPIPE is
// ignored; the signals stay blocked after the thread is gone.
TEST(SignalThread, EachSignalCallsItsOwnHandlerOnItsThread)
{
    Calls calls;
    {
        platform::SignalThread thread;
        for (int signal : { SIGINT, SIGTERM, SIGUSR1, SIGUSR2, SIGHUP })
            EXPECT_TRUE(blocked(signal)) << signal;
        struct sigaction pipe {};
        sigaction(SIGPIPE, nullptr, &pipe);
        EXPECT_EQ(pipe.sa_handler, SIG_IGN);

        thread.start({ .interrupt = calls.handler(SIGINT),
            .terminate = calls.handler(SIGTERM),
            .user1 = calls.handler(SIGUSR1),
            .user2 = calls.handler(SIGUSR2),
            .hangUp = calls.handler(SIGHUP) });
        int sent = 0;
        for (int signal : { SIGINT, SIGTERM, SIGUSR1, SIGUSR2, SIGHUP }) {
            ASSERT_EQ(kill(getpid(), signal), 0);
            ++sent;
            ASSERT_TRUE(waitFor([&] { return calls.count(signal) == 1; }, 5s)) << signal;
            EXPECT_EQ(calls.total(), sent) << signal;
        }
    }
    EXPECT_FALSE(calls.anyOnTestThread());
    EXPECT_EQ(calls.total(), 5) << "the thread's own stop reaches no handler";

    EXPECT_TRUE(blocked(SIGUSR1));
    ASSERT_EQ(kill(getpid(), SIGUSR1), 0);
    EXPECT_TRUE(takePending(SIGUSR1));
    EXPECT_EQ(calls.total(), 5);
}

// A signal without a handler is taken and dropped; one that comes before
// start() waits for it.
TEST(SignalThread, MissingHandlersIgnoreTheirSignalAndEarlySignalsWait)
{
    Calls calls;
    platform::SignalThread thread;
    ASSERT_EQ(kill(getpid(), SIGUSR2), 0);
    thread.start({ .user1 = calls.handler(SIGUSR1), .user2 = calls.handler(SIGUSR2) });
    EXPECT_TRUE(waitFor([&] { return calls.count(SIGUSR2) == 1; }, 5s));

    ASSERT_EQ(kill(getpid(), SIGHUP), 0);
    ASSERT_EQ(kill(getpid(), SIGUSR1), 0);
    EXPECT_TRUE(waitFor([&] { return calls.count(SIGUSR1) == 1; }, 5s));
    EXPECT_EQ(calls.total(), 2);
}
