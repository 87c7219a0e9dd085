#pragma once

#include "platform/raw_socket.h"

#include <atomic>
#include <memory>
#include <optional>

namespace bv {

// Owner of one family's ICMP socket of a run: the raw socket, or the kind an
// ordinary user may open when the raw one is refused. Construction never
// fails: when no socket can be opened the endpoint stays invalid and every
// send and receive on it reports its own error.
class IcmpSocket {
public:
    explicit IcmpSocket(int timeToLive, platform::AddressFamily family = platform::AddressFamily::V4);
    // That kind of socket alone, for the tests of each kind.
    IcmpSocket(int timeToLive, platform::IcmpSocketKind only,
        platform::AddressFamily family = platform::AddressFamily::V4);
    ~IcmpSocket();
    IcmpSocket(const IcmpSocket&) = delete;
    IcmpSocket& operator=(const IcmpSocket&) = delete;

    // The system's socket; kInvalidSocket for the Windows ICMP helper.
    platform::SocketHandle handle() const { return socket_.socket; }
    const platform::IcmpEndpoint& endpoint() const { return socket_; }
    bool valid() const { return socket_.valid(); }
    // The identifier of the run's echo requests and of the replies it takes.
    std::uint16_t echoIdentifier() const;
    // Whether the kernel stamps this socket's sends and arrivals.
    bool kernelStamps() const { return kernelStamps_; }
    // The kernel's stamp of the send that just went out, when it has one
    // already. For the sender alone, after each send that succeeded.
    std::optional<std::int64_t> takeSendStamp();

private:
    bool startLayer();
    void setUp(int timeToLive);

    platform::IcmpEndpoint socket_;
    bool layerStarted_ = false;
    bool kernelStamps_ = false;
    // The kernel's number of the next send, which its stamp will carry.
    std::uint32_t nextSend_ = 0;
};

// The run's sockets: the IPv4 one, opened with the run as it always was, and
// the IPv6 one, opened when the first IPv6 request goes out, so that a run
// without IPv6 hosts opens none and a system without IPv6 writes no note.
class IcmpSockets {
public:
    IcmpSockets(int timeToLive, std::optional<platform::IcmpSocketKind> only);
    ~IcmpSockets();

    IcmpSocket& ipv4() { return *ipv4_; }
    // The family's socket, the IPv6 one opened now when it is not yet; null
    // when it cannot be (the note saying why is written once). For the
    // sender alone.
    IcmpSocket* forSending(platform::AddressFamily family);
    // The family's socket once it is open; null before, and when it failed.
    IcmpSocket* opened(platform::AddressFamily family) const;
    // Why the IPv6 socket did not open, for the hosts' error text.
    static constexpr const char* kNoIpv6SocketText = "Could not open an ICMPv6 socket";

private:
    int timeToLive_;
    std::optional<platform::IcmpSocketKind> only_;
    std::unique_ptr<IcmpSocket> ipv4_;
    std::unique_ptr<IcmpSocket> ipv6_;
    std::atomic<IcmpSocket*> ipv6Open_ { nullptr };
    bool ipv6Tried_ = false;
};

}  // namespace bv
