#include "shell/qt/raw_socket_advice.h"

#include "platform/raw_socket.h"
#include "core/monitor_events.h"

namespace bv {

std::string rawSocketAdvice(const std::string& program)
{
    return "BeaconVigilor may open neither a raw ICMP socket nor an ICMP datagram socket, so every host will fail "
           "its pings.\n\n"
        + platform::pingRightsRemedies(program) + "\n\nThen start it again.";
}

bool adviseWhenRawSocketRefused(const std::string& program)
{
    int errorCode = 0;
    int fallbackError = 0;
    const platform::IcmpEndpoint socket = platform::openIcmpEndpoint(errorCode, fallbackError);
    if (socket.valid()) {
        platform::closeSocket(socket);
        return false;
    }
    if (platform::icmpRefusalRemedies(errorCode, fallbackError).empty())
        return false;
    showMessageBox(rawSocketAdvice(program), "BeaconVigilor", MessageIcon::Error);
    return true;
}

}  // namespace bv
