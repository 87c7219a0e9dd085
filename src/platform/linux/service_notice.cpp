#include "platform/service_notice.h"

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace bv::platform {

namespace {

bool validAddress(const std::string& address)
{
    // A path, or '@' for Linux's abstract namespace; both must fit sun_path.
    return address.size() >= 2 && address.size() < sizeof(sockaddr_un::sun_path)
        && (address[0] == '/' || address[0] == '@');
}

bool watchdogForThisProcess()
{
    const char* period = std::getenv("WATCHDOG_USEC");
    if (!period || std::strtoull(period, nullptr, 10) == 0)
        return false;
    // A watchdog meant for another process of the service (a wrapper's child, say).
    const char* owner = std::getenv("WATCHDOG_PID");
    return !owner || std::strtol(owner, nullptr, 10) == static_cast<long>(getpid());
}

}  // namespace

ServiceNotice::ServiceNotice()
{
    const char* address = std::getenv("NOTIFY_SOCKET");
    if (!address || !validAddress(address))
        return;
    address_ = address;
    socket_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    watchdogWanted_ = socket_ >= 0 && watchdogForThisProcess();
}

ServiceNotice::~ServiceNotice()
{
    if (socket_ >= 0)
        close(socket_);
}

void ServiceNotice::ready()
{
    send("READY=1");
}

void ServiceNotice::reloading()
{
    send("RELOADING=1");
}

void ServiceNotice::stopping()
{
    send("STOPPING=1");
}

void ServiceNotice::watchdog()
{
    if (watchdogWanted_)
        send("WATCHDOG=1");
}

bool ServiceNotice::send(const std::string& text)
{
    if (socket_ < 0)
        return false;
    sockaddr_un to {};
    to.sun_family = AF_UNIX;
    std::memcpy(to.sun_path, address_.data(), address_.size());
    if (address_[0] == '@')
        to.sun_path[0] = '\0';
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + address_.size());
    ssize_t sent;
    do
        sent = ::sendto(socket_, text.data(), text.size(), MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&to), length);
    while (sent < 0 && errno == EINTR);
    return sent == static_cast<ssize_t>(text.size());
}

}  // namespace bv::platform
