#pragma once

#include <winsock2.h>

namespace bv {

namespace platform::detail {

// Holds the sockets layer started for as long as it lives; the layer counts
// its starts, so look-ups made before the run's socket exists work as well.
class SocketLayerUse {
public:
    SocketLayerUse()
    {
        WSADATA data {};
        started_ = ::WSAStartup(MAKEWORD(2, 1), &data) == 0;
    }
    ~SocketLayerUse()
    {
        if (started_)
            ::WSACleanup();
    }
    SocketLayerUse(const SocketLayerUse&) = delete;
    SocketLayerUse& operator=(const SocketLayerUse&) = delete;

private:
    bool started_ = false;
};

}  // namespace platform::detail

}  // namespace bv
