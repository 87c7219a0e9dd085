#pragma once

#include <functional>
#include <memory>

namespace bv {

namespace platform {

// What the POSIX programs do on SIGINT, SIGTERM, SIGUSR1, SIGUSR2 and
// SIGHUP. An empty handler leaves its signal taken and ignored.
struct SignalHandlers {
    std::function<void()> interrupt {};
    std::function<void()> terminate {};
    std::function<void()> user1 {};
    std::function<void()> user2 {};
    std::function<void()> hangUp {};
};

// Takes those signals on a thread of its own with sigwait, so that what they
// ask for runs as ordinary code rather than in a handler, and ignores
// SIGPIPE, so that a closed pipe fails its write instead of ending the
// process. Made before any other thread starts, since threads inherit the
// blocked signals from the one that starts them; a signal that comes before
// start() waits for it. The signals stay blocked after it is gone: one that
// came then would otherwise end the process. POSIX only; Windows has no
// such signals.
class SignalThread {
public:
    SignalThread();
    // Waits for a handler that is running to return.
    ~SignalThread();
    SignalThread(const SignalThread&) = delete;
    SignalThread& operator=(const SignalThread&) = delete;

    // Starts answering; once.
    void start(SignalHandlers handlers);

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace platform

}  // namespace bv
