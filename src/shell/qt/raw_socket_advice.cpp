#include "shell/qt/raw_socket_advice.h"

#include "platform/raw_socket.h"
#include "core/monitor_events.h"

#include <cerrno>

namespace bv {

namespace {

// Quoted for the shell only when it needs to be, so the usual path reads plainly.
std::string shellWord(const std::string& word)
{
    bool plain = !word.empty();
    for (char c : word) {
        const bool safe = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')
            || c == '/' || c == '.' || c == '_' || c == '-' || c == '+';
        plain = plain && safe;
    }
    if (plain)
        return word;
    std::string quoted = "'";
    for (char c : word) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    return quoted + "'";
}

}  // namespace

std::string rawSocketAdvice(const std::string& program)
{
    return "BeaconVigilor may not open a raw ICMP socket, so every host will fail its pings.\n"
           "\n"
           "Give the program that right once, as root:\n"
           "\n"
           "setcap cap_net_raw+ep "
        + shellWord(program) + "\n\nThen start it again.";
}

bool adviseWhenRawSocketRefused(const std::string& program)
{
    int errorCode = 0;
    const platform::SocketHandle socket = platform::openRawIcmpSocket(errorCode);
    if (socket != platform::kInvalidSocket) {
        platform::closeSocket(socket);
        return false;
    }
    if (errorCode != EPERM && errorCode != EACCES)
        return false;
    showMessageBox(rawSocketAdvice(program), "BeaconVigilor", MessageIcon::Error);
    return true;
}

}  // namespace bv
