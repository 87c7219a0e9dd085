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
    const auto opened = platform::openIcmpEndpoint();
    if (!opened.is_error()) {
        platform::closeSocket(opened.value());
        return false;
    }
    if (platform::icmpRefusalRemedies(opened.error()).empty())
        return false;
    showMessageBox(rawSocketAdvice(program), "BeaconVigilor", MessageIcon::Error);
    return true;
}

}  // namespace bv
