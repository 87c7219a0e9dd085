#pragma once

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>
#endif

#include <cstdint>
#include <string>

namespace bv {

// One whole HTTP exchange with a server on loopback (127.0.0.1, or ::1),
// until it closes the connection; empty when it could not be had within a
// few seconds.
inline std::string exchange(std::uint16_t port, const std::string& request, bool ipv6 = false)
{
    const int family = ipv6 ? AF_INET6 : AF_INET;
#ifdef _WIN32
    WSADATA winsock {};
    if (::WSAStartup(MAKEWORD(2, 2), &winsock) != 0)
        return {};
    const SOCKET client = ::socket(family, SOCK_STREAM, IPPROTO_TCP);
    const bool opened = client != INVALID_SOCKET;
    const DWORD limit = 5000;
    const int sendFlags = 0;
#else
    const int client = socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const bool opened = client >= 0;
    const timeval limit { 5, 0 };
    const int sendFlags = MSG_NOSIGNAL;
#endif
    std::string reply;
    if (opened) {
        setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&limit), sizeof limit);
        setsockopt(client, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&limit), sizeof limit);
        sockaddr_in server {};
        server.sin_family = AF_INET;
        server.sin_port = htons(port);
        server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        sockaddr_in6 server6 {};
        server6.sin6_family = AF_INET6;
        server6.sin6_port = htons(port);
        server6.sin6_addr = in6addr_loopback;
        const auto* to = ipv6 ? reinterpret_cast<const sockaddr*>(&server6) : reinterpret_cast<const sockaddr*>(&server);
        const auto length = static_cast<socklen_t>(ipv6 ? sizeof server6 : sizeof server);
        if (connect(client, to, length) == 0
            && send(client, request.data(), static_cast<int>(request.size()), sendFlags)
                == static_cast<int>(request.size())) {
            char buffer[4096];
            for (int got; reply.size() < 1000000 && (got = static_cast<int>(recv(client, buffer, sizeof buffer, 0))) > 0;)
                reply.append(buffer, static_cast<std::size_t>(got));
        }
    }
#ifdef _WIN32
    if (opened)
        ::closesocket(client);
    ::WSACleanup();
#else
    if (opened)
        close(client);
#endif
    return reply;
}

inline std::string bodyOf(const std::string& reply)
{
    const std::size_t end = reply.find("\r\n\r\n");
    return end == std::string::npos ? std::string() : reply.substr(end + 4);
}

}  // namespace bv
