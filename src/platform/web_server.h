#pragma once

#include "platform/error_or.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace bv {

namespace platform {

struct WebRequest {
    std::string method;
    std::string target;
    std::optional<std::string> host;  // the Host header, when it came
};

struct WebResponse {
    int status = 200;
    std::string contentType;
    std::string body;  // sent only for GET
    std::vector<std::pair<std::string, std::string>> headers;
    // The connection stays open as an event stream: `body` goes first, then
    // whatever is published.
    bool eventStream = false;
};

// An HTTP/1.1 server on one thread of its own, for both systems: each
// request is answered by the handler (on that thread), and event streams
// get what is published. It never waits for a client: a stream that falls
// behind by more than its backlog is closed, a request that is too large or
// too slow is dropped.
class WebServer {
public:
    using Handler = std::function<WebResponse(const WebRequest&)>;

    struct Settings {
        std::string address;     // an IPv4 or IPv6 address
        std::uint16_t port = 0;  // 0: any free port
        std::size_t maxStreams = 64;
        std::size_t streamBacklog = 256 * 1024;  // bytes not yet taken by a client
    };

    static ErrorOr<std::unique_ptr<WebServer>> start(const Settings& settings, Handler handler);

    ~WebServer();
    WebServer(const WebServer&) = delete;
    WebServer& operator=(const WebServer&) = delete;

    std::uint16_t port() const;
    // Queues `text` (whole events) for every open stream. Never waits.
    void publish(std::string text);
    std::size_t streamCount() const;

    struct State;

private:
    explicit WebServer(std::shared_ptr<State> state);
    std::shared_ptr<State> state_;
};

}  // namespace platform

}  // namespace bv
