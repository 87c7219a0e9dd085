#include "platform/signal_thread.h"

#include <atomic>
#include <csignal>
#include <pthread.h>
#include <signal.h>
#include <thread>

namespace bv {

namespace platform {

struct SignalThread::State {
    SignalHandlers handlers;
    sigset_t taken {};
    std::atomic<bool> stopping { false };
    std::thread thread;

    void answer()
    {
        while (true) {
            int received = 0;
            if (sigwait(&taken, &received) != 0)
                continue;
            if (stopping.load())
                return;
            const std::function<void()>* handler = nullptr;
            switch (received) {
            case SIGINT:
                handler = &handlers.interrupt;
                break;
            case SIGTERM:
                handler = &handlers.terminate;
                break;
            case SIGUSR1:
                handler = &handlers.user1;
                break;
            case SIGUSR2:
                handler = &handlers.user2;
                break;
            case SIGHUP:
                handler = &handlers.hangUp;
                break;
            default:
                break;
            }
            if (handler && *handler)
                (*handler)();
        }
    }
};

SignalThread::SignalThread()
    : state_(std::make_unique<State>())
{
    sigemptyset(&state_->taken);
    for (int signal : { SIGINT, SIGTERM, SIGUSR1, SIGUSR2, SIGHUP })
        sigaddset(&state_->taken, signal);
    pthread_sigmask(SIG_BLOCK, &state_->taken, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

void SignalThread::start(SignalHandlers handlers)
{
    if (state_->thread.joinable())
        return;
    state_->handlers = std::move(handlers);
    state_->thread = std::thread([state = state_.get()] { state->answer(); });
}

SignalThread::~SignalThread()
{
    if (!state_->thread.joinable())
        return;
    state_->stopping.store(true);
    // Any signal of the set wakes the wait; the thread sees the flag and ends.
    pthread_kill(state_->thread.native_handle(), SIGHUP);
    state_->thread.join();
}

}  // namespace platform

}  // namespace bv
