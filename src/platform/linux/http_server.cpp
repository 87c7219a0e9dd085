#include "platform/http_server.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <exception>
#include <utility>
#include <microhttpd.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace bv {

namespace platform {

struct HttpTextServer::State {
    Settings settings;
    Producer producer;
    std::uint16_t port = 0;
    MHD_Daemon* daemon = nullptr;

    ~State()
    {
        // Also closes the listening socket, which the daemon owns.
        if (daemon)
            MHD_stop_daemon(daemon);
    }
};

namespace {

constexpr unsigned kConnectionLimit = 16;
constexpr unsigned kConnectionTimeoutSeconds = 10;
constexpr int kListenBacklog = 16;

// Closes a socket that has not yet been handed to the daemon.
class SocketHold {
public:
    explicit SocketHold(int socket) : socket_(socket) {}
    ~SocketHold()
    {
        if (socket_ >= 0)
            close(socket_);
    }
    SocketHold(const SocketHold&) = delete;
    SocketHold& operator=(const SocketHold&) = delete;
    int get() const { return socket_; }
    int release() { return std::exchange(socket_, -1); }

private:
    int socket_;
};

MHD_Result queueText(MHD_Connection* connection, unsigned status, const std::string& text, const char* type,
    const char* allow)
{
    MHD_Response* response
        = MHD_create_response_from_buffer(text.size(), const_cast<char*>(text.data()), MHD_RESPMEM_MUST_COPY);
    if (!response)
        return MHD_NO;
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, type);
    if (allow)
        MHD_add_response_header(response, MHD_HTTP_HEADER_ALLOW, allow);
    const MHD_Result queued = MHD_queue_response(connection, status, response);
    MHD_destroy_response(response);
    return queued;
}

MHD_Result answer(void* closure, MHD_Connection* connection, const char* url, const char* method, const char*,
    const char*, size_t* uploadSize, void** request)
{
    auto& state = *static_cast<HttpTextServer::State*>(closure);
    // The answer went with the first call; a body that follows is dropped.
    if (*request) {
        *uploadSize = 0;
        return MHD_YES;
    }
    *request = &state;
    constexpr const char* kPlain = "text/plain; charset=utf-8";
    if (state.settings.path != url)
        return queueText(connection, MHD_HTTP_NOT_FOUND, "Not found\n", kPlain, nullptr);
    if (std::strcmp(method, MHD_HTTP_METHOD_GET) != 0 && std::strcmp(method, MHD_HTTP_METHOD_HEAD) != 0)
        return queueText(connection, MHD_HTTP_METHOD_NOT_ALLOWED, "Only GET and HEAD\n", kPlain, "GET, HEAD");
    std::string text;
    try {
        text = state.producer();
    } catch (const std::exception&) {
        return queueText(connection, MHD_HTTP_INTERNAL_SERVER_ERROR, "Could not produce the text\n", kPlain, nullptr);
    }
    return queueText(connection, MHD_HTTP_OK, text, state.settings.contentType.c_str(), nullptr);
}

}  // namespace

ErrorOr<std::unique_ptr<HttpTextServer>> HttpTextServer::start(const Settings& settings, Producer producer)
{
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(settings.port);
    if (inet_pton(AF_INET, settings.address.c_str(), &address.sin_addr) != 1)
        return Error(EINVAL, "address");

    // Bound here rather than by the daemon, so that a port in use is
    // reported with the system's own reason.
    SocketHold listener(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (listener.get() < 0)
        return Error::fromLastSystemError("socket");
    const int on = 1;
    setsockopt(listener.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (bind(listener.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        return Error::fromLastSystemError("bind");
    if (listen(listener.get(), kListenBacklog) != 0)
        return Error::fromLastSystemError("listen");
    sockaddr_in bound {};
    socklen_t boundSize = sizeof bound;
    if (getsockname(listener.get(), reinterpret_cast<sockaddr*>(&bound), &boundSize) != 0)
        return Error::fromLastSystemError("getsockname");

    auto state = std::make_unique<State>();
    state->settings = settings;
    state->producer = std::move(producer);
    state->port = ntohs(bound.sin_port);
    // The daemon takes the socket, and closes it even when it fails to start.
    state->daemon = MHD_start_daemon(MHD_USE_AUTO | MHD_USE_INTERNAL_POLLING_THREAD, 0, nullptr, nullptr, &answer,
        state.get(), MHD_OPTION_LISTEN_SOCKET, listener.release(), MHD_OPTION_CONNECTION_LIMIT, kConnectionLimit,
        MHD_OPTION_CONNECTION_TIMEOUT, kConnectionTimeoutSeconds, MHD_OPTION_END);
    if (!state->daemon)
        return Error(0, "the HTTP server could not start");
    return std::unique_ptr<HttpTextServer>(new HttpTextServer(std::move(state)));
}

HttpTextServer::HttpTextServer(std::unique_ptr<State> state) : state_(std::move(state)) {}

HttpTextServer::~HttpTextServer() = default;

std::uint16_t HttpTextServer::port() const
{
    return state_->port;
}

bool httpServerAvailable()
{
    return true;
}

}  // namespace platform

}  // namespace bv
