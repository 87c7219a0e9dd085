#include "platform/http_server.h"

namespace bv {

namespace platform {

// Debian has no libmicrohttpd for the MinGW cross build.
struct HttpTextServer::State {};

ErrorOr<std::unique_ptr<HttpTextServer>> HttpTextServer::start(const Settings&, Producer)
{
    return Error(0, "not available in this build");
}

HttpTextServer::HttpTextServer(std::unique_ptr<State> state) : state_(std::move(state)) {}

HttpTextServer::~HttpTextServer() = default;

std::uint16_t HttpTextServer::port() const
{
    return 0;
}

bool httpServerAvailable()
{
    return false;
}

}  // namespace platform

}  // namespace bv
