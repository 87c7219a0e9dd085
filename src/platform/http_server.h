#pragma once

#include "platform/error_or.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace bv {

namespace platform {

// A small HTTP server that answers GET and HEAD at one path with the text a
// callback returns at that moment; any other path gets 404, any other
// method 405. The callback runs on the server's own thread.
class HttpTextServer {
public:
    using Producer = std::function<std::string()>;

    struct Settings {
        std::string address;  // dotted IPv4
        std::uint16_t port = 0;  // 0: any free port
        std::string path;
        std::string contentType;
    };

    // Serves from return until destruction. An Error when this build has no
    // HTTP server, or the address cannot be bound (in use, not local).
    static ErrorOr<std::unique_ptr<HttpTextServer>> start(const Settings& settings, Producer producer);

    ~HttpTextServer();
    HttpTextServer(const HttpTextServer&) = delete;
    HttpTextServer& operator=(const HttpTextServer&) = delete;

    // The port it listens on, the chosen one when 0 was asked for.
    std::uint16_t port() const;

    struct State;

private:
    explicit HttpTextServer(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};

// False in a build without an HTTP server library.
bool httpServerAvailable();

}  // namespace platform

}  // namespace bv
