#pragma once

#include "platform/ip_address.h"
#include "platform/raw_socket.h"

#include <array>
#include <cstdint>
#include <vector>

namespace bv {

// Sends the path learner's probes and the outage checks, and reads their
// answers, on sockets of its own whose echo identifier is not that of the
// hosts' requests: neither is taken for the other, and another copy's
// probes are not taken for ours. Quiet: where no socket opens there are
// just no paths.
class PathProber {
public:
    struct Answer {
        std::uint16_t sequence = 0;
        platform::IpAddress from;   // the router whose hop limit ran out, or the one probed
        platform::IpAddress about;  // whom the probe was sent to
        bool timeExceeded = false;  // else an echo reply
    };

    PathProber() = default;
    ~PathProber();
    PathProber(const PathProber&) = delete;
    PathProber& operator=(const PathProber&) = delete;

    // False when it did not go out: no socket for the family, or the send failed.
    bool send(const platform::IpAddress& destination, int hopLimit, std::uint16_t sequence);
    // The answers that came within the wait.
    std::vector<Answer> receive(unsigned waitMilliseconds);
    // Whether any socket is open: without one, nothing will come.
    bool anyOpen() const;

private:
    struct Family {
        platform::IcmpEndpoint endpoint;
        bool tried = false;
        int hopLimit = -1;
        std::uint16_t identifier = 0;
    };
    Family* open(platform::AddressFamily family);
    void read(Family& family, std::vector<Answer>& answers);

    std::array<Family, 2> families_ {};
};

}  // namespace bv
