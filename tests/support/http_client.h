#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string>

namespace bv::test {

// A client socket to the server on loopback; closed with the object.
class HttpClient {
public:
    // A small receive buffer makes a client that stops reading fall behind soon.
    explicit HttpClient(std::uint16_t port, bool smallBuffer = false)
    {
        descriptor_ = ::socket(AF_INET, SOCK_STREAM, 0);
        if (smallBuffer) {
            const int size = 4096;
            ::setsockopt(descriptor_, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
        }
        sockaddr_in to {};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = ::connect(descriptor_, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0;
    }
    ~HttpClient() { ::close(descriptor_); }
    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;

    bool connected() const { return connected_; }
    bool send(const std::string& text) { return ::send(descriptor_, text.data(), text.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(text.size()); }
    // What came until `until` is in it, the peer closed, or the deadline passed.
    std::string receiveUntil(const std::string& until, std::chrono::milliseconds limit = std::chrono::seconds(5))
    {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (received_.find(until) == std::string::npos && std::chrono::steady_clock::now() < deadline) {
            pollfd watched { descriptor_, POLLIN, 0 };
            if (::poll(&watched, 1, 100) <= 0)
                continue;
            char buffer[4096];
            const ssize_t count = ::recv(descriptor_, buffer, sizeof buffer, 0);
            if (count <= 0) {
                closed_ = true;
                break;
            }
            received_.append(buffer, static_cast<std::size_t>(count));
        }
        return received_;
    }
    bool closedByPeer(std::chrono::milliseconds limit)
    {
        receiveUntil(std::string(1, '\0') + "never", limit);
        return closed_;
    }

private:
    int descriptor_ = -1;
    bool connected_ = false;
    bool closed_ = false;
    std::string received_;
};

}  // namespace bv::test
