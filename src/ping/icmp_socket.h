#pragma once

#include "platform/raw_socket.h"

namespace bv {

// Owner of the one raw ICMP socket of a run. Construction never fails: when
// the socket cannot be opened the handle stays kInvalidSocket and every send
// and receive on it reports its own error.
class IcmpSocket {
public:
    explicit IcmpSocket(int timeToLive);
    ~IcmpSocket();
    IcmpSocket(const IcmpSocket&) = delete;
    IcmpSocket& operator=(const IcmpSocket&) = delete;

    platform::SocketHandle handle() const { return socket_; }

private:
    platform::SocketHandle socket_ = platform::kInvalidSocket;
    bool layerStarted_ = false;
};

// Waits at most the time-out (0 polls) for a datagram. 1 when the wait
// completed, with readable 1 if a datagram is waiting and 0 otherwise; 0
// when the wait itself failed, readable untouched.
int waitReadable(platform::SocketHandle socket, unsigned timeoutMilliseconds, int& readable);

}  // namespace bv
