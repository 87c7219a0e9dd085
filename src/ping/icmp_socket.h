#pragma once

#include "platform/raw_socket.h"

namespace bv {

// Owner of the one ICMP socket of a run: the raw socket, or the kind an
// ordinary user may open when the raw one is refused. Construction never
// fails: when no socket can be opened the endpoint stays invalid and every
// send and receive on it reports its own error.
class IcmpSocket {
public:
    explicit IcmpSocket(int timeToLive);
    // That kind of socket alone, for the tests of each kind.
    IcmpSocket(int timeToLive, platform::IcmpSocketKind only);
    ~IcmpSocket();
    IcmpSocket(const IcmpSocket&) = delete;
    IcmpSocket& operator=(const IcmpSocket&) = delete;

    // The system's socket; kInvalidSocket for the Windows ICMP helper.
    platform::SocketHandle handle() const { return socket_.socket; }
    const platform::IcmpEndpoint& endpoint() const { return socket_; }
    // The identifier of the run's echo requests and of the replies it takes.
    std::uint16_t echoIdentifier() const;

private:
    bool startLayer();
    void setUp(int timeToLive);

    platform::IcmpEndpoint socket_;
    bool layerStarted_ = false;
};

}  // namespace bv
